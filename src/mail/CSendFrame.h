#pragma once

// A mail compose window: menu 174, toolbar 174 (send, save, and two buttons shown disabled), the
// header bar with From, To and Subject, the body editor and a status bar with the KANA, CAPS, NUM
// and SCRL indicators; icon 206. The widgets live on the GUI thread; the SMTP conversation runs
// on the window's own thread (CSendThread, CSendWorker), and the window closes once the server
// has taken the mail.
//
// Closing the window in any way ends a conversation still running, saves its rectangle to
// "MailWriteWindow Entry" and its three check boxes, ends its thread and frees its slot. The close
// box asks first when the window holds typed text. The window deletes itself when closed.

#include "mail/engine/MailAccount.h"

#include <QMainWindow>
#include <map>
#include <string>
#include <vector>

class QAction;

class QLabel;

class QToolBar;

namespace orvalink::mail {

class CSendHeaderBar;
class CSendThread;
class CSendView;

class CSendFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kSection = "MailWriteWindow Entry";

    explicit CSendFrame(CSendThread* thread);
    ~CSendFrame() override;

    CSendThread* thread() const { return m_thread; }
    CSendView* view() const { return m_view; }
    CSendHeaderBar* headerBar() const { return m_header; }
    QToolBar* toolBar() const { return m_toolBar; }
    // The menu item or toolbar button of a command (the toolbar's own action for 32784 and 32785).
    QAction* action(int id) const;
    const std::vector<MailAccount>& accounts() const { return m_accounts; }
    // Reads the accounts as they are now (at most 100, whatever "Count" says): at opening for the
    // From box, and again at every send. Returns how many there are.
    int LoadAccounts();

    // The texts as the user sees them, code page 932.
    std::string fromText() const;
    std::string toText() const;
    std::string subjectText() const;
    std::string bodyText() const;

    // A command from the menu or the toolbar; true when handled.
    bool onCommand(int id);
    // Saves the mail to 保存したメール and closes the window; true when it was stored. When it is
    // refused the user is told why and the window stays open with everything in it.
    bool onMailSave();
    // Starts sending through account 1 as the settings hold it now. Ignored while a conversation
    // runs; refused with a message, nothing connecting, when an address is not one mailbox or the
    // stored port names no port.
    void onMailSend();

    // The conversation's state (1 to 6 while one runs, 0 when none does), as last reported.
    int smtpState() const { return m_smtpState; }
    bool conversationRunning() const { return m_conversationRunning; }
    // Whether anything was typed: To, Subject or body differ from what the window opened with.
    bool holdsTypedText() const;

    // The program is ending: the window closes without asking; typed text is kept in 保存したメール.
    void closeAtExit();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void restoreRect();
    void saveSettings() const;
    // Appends the mail to 保存したメール; when that is refused the user is told why.
    bool storeMail();
    void setConversationState(int state);
    void closeWithoutAsking();
    // Appends the mail the server accepted to 送信したメール; the user is told when it cannot be kept.
    void keepSentCopy();
    void teardown();

    CSendThread* m_thread;
    CSendHeaderBar* m_header = nullptr;
    CSendView* m_view = nullptr;
    QToolBar* m_toolBar = nullptr;
    std::map<int, QAction*> m_actions;
    std::vector<MailAccount> m_accounts;
    std::string m_initialTo;
    std::string m_initialSubject;
    int m_smtpState = 0;
    bool m_conversationRunning = false;
    bool m_closeWithoutAsking = false;
    // The texts of the send under way, for the copy kept once the server accepts it.
    struct SentTexts {
        std::string from, to, subject, body;
    } m_sending;
    bool m_tornDown = false;
};

} // namespace orvalink::mail
