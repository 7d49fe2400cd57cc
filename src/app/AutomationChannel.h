#pragma once

// A line-command channel for driving a running instance from outside, for the whole-program tests
// and the screenshot script: it exists only when ORVALINK_AUTOMATION names a FIFO. Texts in
// commands and in the state dump are in the one-line escape form of platform/text/ByteEscape.h,
// so they stay byte-exact code page 932; a command text not in that form is taken as raw bytes.
//
//   dump PATH                     writes the tree (with each member node's key), members, rows and
//                                 tooltip to PATH; where windows, buttons, menu items, tree nodes
//                                 and the tray icon are; and the receive window: "recvwindow
//                                 open|closed", "recvended N" (the downloads ended since the
//                                 start), then while the window is open "recvstatus TEXT",
//                                 "recvmessage TEXT", "recvprogress POS MAX", "recvrunning 0|1"
//                                 and one "recverror TEXT" per error line
//   stats PATH                    writes a short summary to PATH: per group "group G members N
//                                 rows N bytes N", and "gap MS", the longest time the GUI thread
//                                 went without running a 5 ms heartbeat since the previous stats
//                                 (the first stats starts the heartbeat)
//   group G TEXT                  writes TEXT to group G (as the chat write window does)
//   personal G ADDRESS TEXT       writes TEXT to the member at ADDRESS in group G
//   select G                      selects group G's node in the tree
//   write G TEXT                  opens a chat write window to group G, types TEXT, presses send
//   writeto G NAME TEXT           the same to the member NAME of group G
//   writenode G N TEXT            the same through member node N under group G's node (its context
//                                 menu's "write to this person")
//   reply G ROW TEXT              opens row ROW of group G in read mode, presses reply, adds a
//                                 line TEXT under the quote and presses send
//   show / hide                   the tray icon's double-click
//   exit                          the tray menu's exit
//   open ROW                      double-clicks row ROW of the message list
//   grab PATH                     saves a picture of the main window (PNG)
//   command ID                    posts command ID to the main window, as its menu or toolbar does
//                                 (a dialog it opens does not hold up the channel)
//   click ID                      clicks the mail toolbar's button of command ID (nothing when the
//                                 button is disabled)
//   mail SLOT FIELD TEXT          sets the From, To, Subject or body (FIELD from, to, subject,
//                                 body) of the compose window in slot SLOT
//   mailcommand SLOT ID           posts command ID to that compose window, as its toolbar or menu
//                                 would
//   mailclose SLOT                the close box of that compose window
//   folder NAME                   selects the node of the fixed mail folder NAME in the tree
//   mailopen POS                  opens the mail list's row at display position POS
//   readreply SLOT                the reply command of the read window in slot SLOT
//
// The dump lists each chat write window whose send failed as "windowfailure WHY|TEXT", the status
// bar's line about an announcement that could not be sent as "status TEXT", each open compose
// window as "compose SLOT STATE|FROM|TO|SUBJECT|BODY" (STATE is the SMTP conversation's, 0 when
// none runs) and the send-and-receive window as "sendrecv open". While a mail folder is shown, each
// row of its list (display order, the first 200) is "mailrow POS unread|read|SENDER|SUBJECT", and
// each open read window "read SLOT FROM|SUBJECT|BODY", the texts as shown.

#include <QElapsedTimer>
#include <QObject>
#include <ostream>
#include <string>
#include <string_view>

class QSocketNotifier;

class QTimer;

namespace orvalink::mail {
class CSendFrame;
class MailState;
} // namespace orvalink::mail

namespace orvalink::app {

class CMainFrame;

class AutomationChannel : public QObject {
    Q_OBJECT
public:
    // Opens the channel named by ORVALINK_AUTOMATION; null when it is not set or cannot be opened.
    static AutomationChannel* openFromEnvironment(CMainFrame* frame, mail::MailState& mailState);
    ~AutomationChannel() override;

    void execute(const std::string& line);
    std::string stateDump() const;
    std::string stats();
    static std::string escape(std::string_view bytes);
    static std::string unescape(std::string_view text);

private:
    AutomationChannel(CMainFrame* frame, mail::MailState& mailState, int fd);
    mail::CSendFrame* composeFrame(int slot) const;
    void readable();
    void placesOnScreen(std::ostream& out) const;

    CMainFrame* m_frame;
    mail::MailState& m_mail;
    int m_fd;
    QSocketNotifier* m_notifier;
    std::string m_pending;
    QTimer* m_heartbeat = nullptr;
    QElapsedTimer m_sinceBeat;
    qint64 m_longestGapMs = 0;
};

} // namespace orvalink::app
