#pragma once

// The main window: the folder tree and the message list side by side, a bar along the bottom, a
// hidden side bar whose list box is the list's column chooser, a splash window for the first
// moments, and the notification-area icon whose tooltip sums up every group. It starts hidden (the
// program lives in the notification area), hides instead of closing (without a tray, closing ends
// the program), and when it is destroyed it
// shuts the chat side down: every group's leave notice goes out through its listener, sockets are
// drained and deleted, listener threads are ended and waited for, and the window rectangle is saved.

#include "platform/MessageTarget.h"

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace orvalink::chat {
class ChatGroupObserver;
} // namespace orvalink::chat

namespace orvalink::chat {
class ChatGroupTable;
} // namespace orvalink::chat

namespace orvalink::mail {
class MailDirectory;
} // namespace orvalink::mail

namespace orvalink::app {
class CLeftView;
} // namespace orvalink::app

class QLabel;

class QListWidget;

class QAction;

class QMenu;

class QSplitter;

class QToolBar;

namespace orvalink::app {

using app::CLeftView;
using chat::ChatGroupObserver;
using chat::ChatGroupTable;

class CBottomBar;
class CMailListView;
class COrvalinkApp;
class CChatListView;
class ChatPaneState;
class ChatRowSource;
class CSplashWnd;
class TrayIcon;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kSplashMs = 1500;

    // chatGroups is the table the frame shows and ends at exit (the application object's; a test's
    // own); it must outlive the frame. app, when there is one, keeps the list's sort order.
    // The mail folders are listed from `mailDirectory` (the application's, which outlives the
    // window); without one no folder lists anything.
    explicit CMainFrame(ChatGroupTable& chatGroups, COrvalinkApp* app = nullptr,
                        const mail::MailDirectory* mailDirectory = nullptr);
    ~CMainFrame() override;

    // Window creation: views, bars, splash, saved rectangle, tray icon; the frame observes the
    // group table from here on. False when the views cannot be made.
    bool create();

    // Asks for the end of the program (the tray menu's exit, SIGTERM, SIGINT, closing the window
    // where there is no tray): emits exitRequested() once and destroys nothing. The request comes
    // inside some event (the menu's click, a message box's loop) whose objects must outlive it, so
    // whoever runs the event loop ends it and calls destroyWindow() once every event has returned.
    void requestExit();
    bool isExitRequested() const { return m_exitRequested; }
    // Ends the program in order: leave notices, listeners, the window rectangle. Runs once.
    void destroyWindow();
    bool isDestroyed() const { return m_destroyed; }

    // Window messages sent to the main window (WM_CHAT_ROWS_CHANGED and the tray's callback;
    // WM_COMMAND with the command id in wParam, as a menu or a toolbar button issues it).
    std::intptr_t windowProc(platform::WindowMessage& msg);
    platform::MessageTarget* messageTarget() const { return m_target.get(); }
    ChatGroupTable& chatGroups() const { return m_chat; }
    // The group the right pane shows and whether the tree is filled (the tree keeps it current).
    ChatPaneState& chatPane() const { return *m_pane; }
    // What the frame registers with the group table: rows and members changed reach windowProc()
    // as WM_CHAT_ROWS_CHANGED and WM_CHAT_MEMBERS_CHANGED.
    ChatGroupObserver& chatObserver() const { return *m_chatObserver; }
    // Group g was deleted (the frame's observer is told): the current group follows the groups
    // that moved down, and the right pane shows its rows again.
    void groupDeleted(int group);

    // A command from a menu or the mail toolbar (or from any other part of the program). True when
    // handled.
    bool onCommand(int id);
    // Windows that later parts of the program open plug in here (mail windows, settings sheets).
    void setCommandHandler(int id, std::function<void()> handler);

    // Tray tooltip: "<group>(参加 n 未読 m) " for every group, cut to 63 bytes; while an
    // announcement of this instance could not be sent, led by why.
    static std::string tooltipText(const ChatGroupTable& groups);
    std::string tooltipText() const;
    TrayIcon* trayIcon() const { return m_tray.get(); }

    CLeftView* treeView() const { return m_tree; }
    CChatListView* reportView() const { return m_report; }
    QListWidget* columnChooser() const { return m_columnChooser; }
    CBottomBar* bottomBar() const { return m_bottomBar; }
    // The right pane while a mail folder is selected in the tree (hidden while a group is).
    CMailListView* mailListView() const { return m_mailList; }
    // Shows the fixed folder `folder` (code page 932 name) in the right pane.
    void showMailFolder(const std::string& folder);
    // The folder's files changed (a download filed messages): its list and its count follow.
    void mailFolderChanged(std::string_view folder);
    // The status bar's line about an announcement that could not be sent; the status bar shows
    // only while there is one.
    QLabel* announceFailureLabel() const { return m_announceFailure; }
    // Toolbar 133 with the mail commands; the same actions fill the menu "メール(&M)".
    QToolBar* mailToolBar() const { return m_mailToolBar; }
    // The menu and toolbar action of a mail command; null for other ids.
    QAction* commandAction(int id) const;
    bool splashShown() const { return m_splash != nullptr; }

    // Pop-up menus (the tray's menu 238) are shown through this; tests see and trigger them.
    using MenuPresenter = std::function<void(int menuId, QMenu& menu)>;
    void setMenuPresenter(MenuPresenter presenter) { m_menuPresenter = std::move(presenter); }

signals:
    void exitRequested();
    void windowDestroyed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createMenus();
    void createMailCommands();
    void createViews();
    void rowsChanged(int group);
    void showChatPane();
    void updateMailCounts();
    void refreshReceivedUnreadCount();
    void announceFailureChanged();
    void trayNotification(std::int64_t mouseMessage);
    void showOrHide();
    void showAndRaise();
    void showTrayMenu();
    void closeSplash();
    void saveWindowRect();

    COrvalinkApp* m_app;
    const mail::MailDirectory* m_mailDirectory;
    ChatGroupTable& m_chat;
    // Goes before the tree (a child widget): destroyWindow() has the tree stop observing first,
    // after which the tree no longer touches it.
    std::unique_ptr<ChatPaneState> m_pane;
    std::unique_ptr<platform::MessageTarget> m_target;
    std::unique_ptr<ChatGroupObserver> m_chatObserver;
    std::unique_ptr<TrayIcon> m_tray;
    QSplitter* m_splitter = nullptr;
    CLeftView* m_tree = nullptr;
    CChatListView* m_report = nullptr;
    ChatRowSource* m_rowSource = nullptr; // owned by m_report
    CBottomBar* m_bottomBar = nullptr;
    CMailListView* m_mailList = nullptr;
    QLabel* m_announceFailure = nullptr; // in the status bar
    QToolBar* m_mailToolBar = nullptr;
    std::map<int, QAction*> m_mailActions;
    QWidget* m_sideBar = nullptr;
    QListWidget* m_columnChooser = nullptr;
    CSplashWnd* m_splash = nullptr;
    std::map<int, std::function<void()>> m_commandHandlers;
    MenuPresenter m_menuPresenter;
    bool m_destroyed = false;
    bool m_exitRequested = false;
};

} // namespace orvalink::app
