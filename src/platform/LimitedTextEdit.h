#pragma once

// A multi-line plain-text edit control that takes at most a given number of characters (a line
// break counts as one) and trades its text as code page 932 with CR LF line ends. Whatever the user
// types, pastes or composes beyond the limit is refused; the excess of a paste or composition is
// cut, never a surrogate pair in half, and textCut() says so.

#include <QPlainTextEdit>
#include <string>
#include <string_view>

namespace orvalink::platform {

class LimitedTextEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    LimitedTextEdit(int maxCharacters, QWidget* parent = nullptr);

    int maxCharacters() const { return m_max; }
    // The text as code page 932 with CR LF line ends.
    std::string text() const;
    // Shows code page 932 text whose lines end in CR LF (a lone LF is taken as a line end too).
    void setText(std::string_view cp932);
    int characterCount() const;

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

    int m_max;
};

} // namespace orvalink::platform
