#pragma once

// A read window: From, To, Subject and Date of one stored message, its body as plain text and its
// other parts by name, each savable to a file decoded. Everything is decoded for display only; the
// stored bytes are never changed. "返信(&R)" opens a compose window addressed to the sender with
// the subject and the quoted body. The window's rectangle is kept in "MailReadWindow Entry".
//
// The widgets live on the GUI thread; the window's thread (CReadThread) holds its reading-window
// slot. Closing the window ends that thread, frees the slot and deletes the window.

#include "mail/ReadWindows.h"
#include "mail/mime/DisplayedMail.h"
#include "mail/mime/MimeMessage.h"

#include <QMainWindow>
#include <string>
#include <vector>

class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace orvalink::mail {

class CReadThread;

class CReadFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kSection = "MailReadWindow Entry";

    CReadFrame(ReadWindows& owner, CReadThread* thread, ReadRequest request);
    ~CReadFrame() override;

    CReadThread* thread() const { return m_thread; }

    // The texts as the window shows them, code page 932.
    std::string fromText() const;
    std::string toText() const;
    std::string subjectText() const;
    std::string dateText() const;
    std::string bodyText() const;
    // The listed parts' names, in order.
    std::vector<std::string> partNames() const;
    QListWidget* partList() const { return m_parts; }

    // Asks where to save listed part i (the standard file dialog) and writes its decoded bytes
    // there; false when cancelled or not written (the user is told).
    bool savePart(int i);
    // Opens the reply's compose window; false when none could be opened.
    bool reply();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void decode();
    void teardown();

    ReadWindows& m_owner;
    CReadThread* m_thread;
    // The message's bytes; m_mime's parts are views into them.
    const ReadRequest m_request;
    MimeMessage m_mime;
    DisplayedMail m_shown;
    QLineEdit* m_from = nullptr;
    QLineEdit* m_to = nullptr;
    QLineEdit* m_subject = nullptr;
    QLineEdit* m_date = nullptr;
    QPlainTextEdit* m_body = nullptr;
    QListWidget* m_parts = nullptr;
    QPushButton* m_save = nullptr;
    bool m_tornDown = false;
};

} // namespace orvalink::mail
