#pragma once

// The text of a chat write window: a multi-line plain-text edit with soft line breaks that takes
// at most 10,000 characters. A line break counts as one character. Whatever the user types,
// pastes or composes beyond the limit is refused (the excess of a paste or composition is cut, and
// textCut() tells the window so).

#include <QPlainTextEdit>
#include <string>
#include <string_view>

class CSendChatView : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxCharacters = 10000;

    explicit CSendChatView(QWidget* parent = nullptr);

    // The text as code page 932 with CR LF line ends, as it goes on the wire.
    std::string text() const;
    // Shows code page 932 text whose lines end in CR LF (a lone LF is taken as a line end too).
    void setText(std::string_view cp932);
    int characterCount() const;
    // True when the text holds nothing but white space: nothing to send.
    bool isBlank() const;

signals:
    // A paste or composition was cut at the limit: kept characters went in, dropped did not.
    void textCut(int kept, int dropped);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    // Characters that may still be added when the selection is replaced.
    int room() const;
};
