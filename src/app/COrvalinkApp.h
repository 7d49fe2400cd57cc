#pragma once

// The application object: start-up (single instance, settings, the chat groups, the main window,
// one listener per group started strictly one after another) and the state the whole program
// shares. It owns the chat group table and the mail side's state and hands them to the main window
// and the mail windows, which hand them on. The chat side is shut down by the main window's
// destruction.

#include "chat/ChatGroupTable.h"
#include "chat/ChatReceiver.h"

#include <memory>
#include <string>

namespace orvalink::platform {
class InstanceChannel;
class InstanceLock;
} // namespace orvalink::platform

namespace orvalink::mail {
class MailState;
class ReadWindows;
} // namespace orvalink::mail

namespace orvalink::app {

using chat::ChatGroupTable;
using chat::ChatReceiver;

class CMainFrame;
class DesktopNotifier;

class COrvalinkApp {
public:
    COrvalinkApp();
    ~COrvalinkApp();

    // The start-up sequence. Returns false when the program must end (the caller exits with 0
    // after a refused second instance, as the guard already did).
    bool initInstance();

    CMainFrame* mainFrame() const { return m_mainFrame.get(); }
    ChatGroupTable& chatGroups() { return m_chatGroups; }
    mail::MailState& mailState() { return *m_mailState; }

    // The list sort column and direction, written at exit.
    int sortColumn = 0;
    int sortAscending = 0;

    static COrvalinkApp* instance();

    // The first-run group: one group on port 12121 named "グループ１" whose display name is the
    // computer name (at most 100 bytes). Written when "User PortCnt" reads 0.
    static void writeFirstRunDefaults();
    // Starts the listener of every configured group, in index order.
    void startListeners();

private:
    // Declared first: the main window (which ends the listeners and the write windows) goes
    // before the table does.
    ChatGroupTable m_chatGroups;
    std::unique_ptr<ChatReceiver::GroupIo> m_listenerIo;
    std::unique_ptr<ChatReceiver> m_receiver;
    std::unique_ptr<platform::InstanceLock> m_lock;
    // The mail side's shared state (compose threads, send-and-receive window, send settings); the
    // windows that use it go before it.
    std::unique_ptr<mail::MailState> m_mailState;
    // The 100 reading-window slots; the main window closes the windows in them when it goes.
    std::unique_ptr<mail::ReadWindows> m_readWindows;
    std::unique_ptr<CMainFrame> m_mainFrame;
    // Brings the main window forward when the program is started again; goes before the window.
    std::unique_ptr<platform::InstanceChannel> m_instanceChannel;
    // Desktop notifications of messages; goes before the window it shows.
    std::unique_ptr<DesktopNotifier> m_notifier;

    void installDesktopCommands();
};

} // namespace orvalink::app
