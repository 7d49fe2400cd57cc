#pragma once

// A line-command channel for driving a running instance from outside, for the whole-program tests
// and the screenshot script: it exists only when ORVALINK_AUTOMATION names a FIFO. Texts in
// commands and in the state dump are in the one-line escape form of platform/text/ByteEscape.h,
// so they stay byte-exact code page 932; a command text not in that form is taken as raw bytes.
//
//   dump PATH                     writes the tree, members, rows and tooltip to PATH, and where
//                                 windows, buttons, menu items, tree nodes and the tray icon are
//   group G TEXT                  writes TEXT to group G (as the chat write window does)
//   personal G ADDRESS TEXT       writes TEXT to the member at ADDRESS in group G
//   select G                      selects group G's node in the tree
//   write G TEXT                  opens a chat write window to group G, types TEXT, presses send
//   writeto G NAME TEXT           the same to the member NAME of group G
//   reply G ROW TEXT              opens row ROW of group G in read mode, presses reply, adds a
//                                 line TEXT under the quote and presses send
//   show / hide                   the tray icon's double-click
//   exit                          the tray menu's exit
//   post ID                       the command ID to the main window, after this line is done (a
//                                 dialog it opens does not hold up the channel)
//   open ROW                      double-clicks row ROW of the message list
//   grab PATH                     saves a picture of the main window (PNG)

#include <QObject>

#include <ostream>
#include <string>
#include <string_view>

class CMainFrame;
class QSocketNotifier;

class AutomationChannel : public QObject {
    Q_OBJECT
public:
    // Opens the channel named by ORVALINK_AUTOMATION; null when it is not set or cannot be opened.
    static AutomationChannel* openFromEnvironment(CMainFrame* frame);
    ~AutomationChannel() override;

    void execute(const std::string& line);
    static std::string stateDump();
    static std::string escape(std::string_view bytes);
    static std::string unescape(std::string_view text);

private:
    AutomationChannel(CMainFrame* frame, int fd);
    void readable();
    static void placesOnScreen(std::ostream& out);

    CMainFrame* m_frame;
    int m_fd;
    QSocketNotifier* m_notifier;
    std::string m_pending;
};
