#include "app/CMainFrame.h"

#include "app/CAboutDlg.h"
#include "app/CBottomBar_p.h"
#include "app/CChatListView.h"
#include "app/CLeftView.h"
#include "app/CMailListView.h"
#include "app/COrvalinkApp.h"
#include "app/CSplashWnd_p.h"
#include "app/ChatPaneState.h"
#include "app/ChatRowSource.h"
#include "app/TrayIcon.h"
#include "chat/CNetMsgThread.h"
#include "chat/ChatGroupObserver.h"
#include "chat/ChatGroupTable.h"
#include "chat/SendErrorText.h"
#include "mail/MailDirectory.h"
#include "platform/Dispatch.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"
#include "platform/Profile.h"
#include "platform/TextCodec.h"
#include "platform/WindowPlacement.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"
#include "store/MailFolders.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

namespace orvalink::app {

using app::CLeftView;
using chat::ChatGroup;
using chat::ChatGroupObserver;
using chat::ChatGroupTable;
using chat::ChatRow;
using platform::WM_CHAT_MEMBERS_CHANGED;
using platform::WM_CHAT_ROWS_CHANGED;
using platform::WM_COMMAND;
using platform::WM_LBUTTONDBLCLK;
using platform::WM_LBUTTONUP;
using platform::WM_RBUTTONUP;
using res::imageStrip;
using res::resourceBitmap;
using res::resourceIcon;
using res::resourceTransparentColor;

namespace {

constexpr const char* kMainWindow = "MainWindow Entry";

// To the main window: an announcement could not be sent, or a send succeeded since.
constexpr unsigned WM_CHAT_ANNOUNCE_CHANGED = platform::WM_USER + 102;

// The mail commands, in the order of toolbar 133's buttons and of the menu "メール(&M)". The prompt
// is the button's tooltip. Sending from the main window and the address book do nothing yet, so
// their button and item are shown disabled.
struct MailCommand {
    int id;
    const char* menuText;
    const char* prompt;
    int image;
    bool enabled;
};
constexpr MailCommand kMailCommands[] = {
    {res::kCmdMailReceive, "メール受信(&R)", "メールを受信します", res::kMailToolbarImageReceive, true},
    {res::kCmdMailSettings, "メール設定(&S)", "メール設定をします", res::kMailToolbarImageSettings, true},
    {res::kCmdMailNew, "新規メール(&N)", "新規にメールを作成します", res::kMailToolbarImageNew, true},
    {res::kCmdMailSend, "メール送信(&T)", "メールを送信します", res::kMailToolbarImageSend, false},
    {res::kCmdAddressBook, "アドレス帳(&A)", "アドレス帳を開きます", res::kMailToolbarImageAddressBook, false},
    {res::kCmdMailSendReceive, "送受信(&E)", "メールを送受信します", res::kMailToolbarImageSendReceive, true},
};

// The frame's face towards window messages: other parts of the program address the main window
// through this target, which hands every message to the frame on the main thread.
class FrameTarget : public platform::MessageTarget {
public:
    explicit FrameTarget(CMainFrame* frame) : m_frame(frame) {}
    std::intptr_t windowProc(platform::WindowMessage& msg) override { return m_frame->windowProc(msg); }

private:
    CMainFrame* m_frame;
};

// The frame's face towards the group table: every change is a message to the frame's target, as
// other parts of the program send them.
class FrameChatObserver : public ChatGroupObserver {
public:
    FrameChatObserver(platform::MessageTarget* target, CMainFrame* frame) : m_target(target), m_frame(frame) {}
    void groupRowsChanged(int g) override
    {
        platform::sendMessage(m_target, {WM_CHAT_ROWS_CHANGED, std::int64_t{g}, std::int64_t{0}});
    }
    void groupMembersChanged(int g) override
    {
        platform::sendMessage(m_target, {WM_CHAT_MEMBERS_CHANGED, std::int64_t{g}, std::int64_t{0}});
    }
    void announceFailureChanged() override { platform::sendMessage(m_target, {WM_CHAT_ANNOUNCE_CHANGED, {}, {}}); }
    void groupRemoved(int g) override { m_frame->groupDeleted(g); }

private:
    platform::MessageTarget* m_target;
    CMainFrame* m_frame;
};

} // namespace

CMainFrame::CMainFrame(ChatGroupTable& chatGroups, COrvalinkApp* app, const mail::MailDirectory* mailDirectory)
    : m_app(app), m_mailDirectory(mailDirectory), m_chat(chatGroups), m_pane(std::make_unique<ChatPaneState>()),
      m_target(std::make_unique<FrameTarget>(this)),
      m_chatObserver(std::make_unique<FrameChatObserver>(m_target.get(), this)), m_tray(std::make_unique<TrayIcon>())
{
    m_menuPresenter = [](int, QMenu& menu) { menu.exec(QCursor::pos()); };
}

CMainFrame::~CMainFrame()
{
    destroyWindow();
    if (m_splash)
        delete m_splash;
}

bool CMainFrame::create()
{
    m_chat.addObserver(*m_chatObserver);
    setWindowIcon(resourceIcon(res::kIconMain));

    createViews();
    if (!m_tree || !m_report)
        return false;
    createMailCommands();
    createMenus();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // The splash window, for the first moments.
    m_splash = new CSplashWnd(nullptr);
    m_splash->show();
    QTimer::singleShot(kSplashMs, this, &CMainFrame::closeSplash);

    platform::placeFrame(*this, platform::storedFrameRect(kMainWindow));

    m_tray->createFromResource(m_target.get(), res::kIconMain, res::kTrayIconId, platform::utf8ToCp932("メッセージ0件"),
                               WM_CHAT_ROWS_CHANGED);
    m_tray->setIconFromResource(res::kIconMain);
    if (m_chat.announceFailure())
        announceFailureChanged();
    return true;
}

void CMainFrame::createViews()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The side bar is never shown; its list box serves the message list as column chooser.
    m_sideBar = new QWidget(this);
    m_sideBar->hide();
    m_columnChooser = new QListWidget(m_sideBar);
    m_columnChooser->setObjectName("1049");

    m_splitter = new QSplitter(Qt::Horizontal, central);
    m_tree = new CLeftView(m_chat, *m_pane, m_splitter);
    auto rows = std::make_unique<ChatRowSource>(m_chat);
    m_rowSource = rows.get();
    m_report = new CChatListView(m_splitter, m_columnChooser, std::move(rows));
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_report);
    // A mail folder takes the chat rows' place while it is selected.
    m_mailList = new CMailListView(m_splitter);
    m_splitter->addWidget(m_mailList);
    m_mailList->hide();
    connect(m_mailList, &CMailListView::countsChanged, this, [this] { updateMailCounts(); });
    m_splitter->setSizes({180, 100});
    m_splitter->setStretchFactor(1, 1);
    layout->addWidget(m_splitter, 1);

    m_bottomBar = new CBottomBar(central);
    layout->addWidget(m_bottomBar);
    setCentralWidget(central);

    m_announceFailure = new QLabel(statusBar());
    m_announceFailure->setObjectName("announceFailure");
    statusBar()->addWidget(m_announceFailure, 1);
    statusBar()->hide();

    m_tree->setFolderSelectedHandler([this](const std::string& folder) { showMailFolder(folder); });
    m_tree->setGroupSelectedHandler([this](int) { showChatPane(); });
    m_tree->initialFill();
    refreshReceivedUnreadCount();
}

void CMainFrame::showMailFolder(const std::string& folder)
{
    const std::optional<std::string> path =
        store::folderFsPath(m_mailDirectory ? m_mailDirectory->path() : std::string(), folder);
    m_mailList->showFolder(folder, path.value_or(std::string()));
    m_report->hide();
    m_mailList->show();
    updateMailCounts();
}

void CMainFrame::showChatPane()
{
    if (m_mailList->isHidden())
        return;
    m_mailList->hide();
    m_report->show();
    m_bottomBar->setMailCounts(0, 0);
}

void CMainFrame::mailFolderChanged(std::string_view folder)
{
    if (!m_mailList->isHidden() && m_mailList->folderName() == folder)
        m_mailList->reload();
    if (folder == store::kReceivedFolder)
        refreshReceivedUnreadCount();
}

void CMainFrame::updateMailCounts()
{
    if (m_mailList->isHidden())
        return;
    m_bottomBar->setMailCounts(m_mailList->source().count(), m_mailList->selectedCount());
    if (m_mailList->folderName() == store::kReceivedFolder)
        m_tree->setFolderUnreadCount(store::kReceivedFolder, m_mailList->source().unreadCount());
}

void CMainFrame::refreshReceivedUnreadCount()
{
    const std::optional<std::string> path =
        store::folderFsPath(m_mailDirectory ? m_mailDirectory->path() : std::string(), store::kReceivedFolder);
    MailRowSource received;
    if (path)
        received.load(*path);
    m_tree->setFolderUnreadCount(store::kReceivedFolder, received.unreadCount());
}

void CMainFrame::createMenus()
{
    QMenu* file = menuBar()->addMenu(platform::uiTextThroughCp932("ファイル(&F)"));
    file->addAction(platform::uiTextThroughCp932("ポート＆ログ(&N)"), this, [this] { onCommand(res::kCmdPortAndLog); });
    file->addAction(platform::uiTextThroughCp932("デスクトップ(&D)"), this,
                    [this] { onCommand(res::kCmdDesktopOptions); });
    file->addSeparator();
    file->addAction(platform::uiTextThroughCp932("終了(&X)"), this, [this] { onCommand(res::kCmdAppExit); });
    QMenu* mail = menuBar()->addMenu(platform::uiTextThroughCp932("メール(&M)"));
    for (const MailCommand& c : kMailCommands)
        mail->addAction(m_mailActions.at(c.id));
    QMenu* help = menuBar()->addMenu(platform::uiTextThroughCp932("ヘルプ(&H)"));
    help->addAction(platform::uiTextThroughCp932("Orvalink のﾊﾞｰｼﾞｮﾝ情報(&A)..."), this,
                    [this] { onCommand(res::kCmdAbout); });
}

void CMainFrame::createMailCommands()
{
    m_mailToolBar = new QToolBar(this);
    m_mailToolBar->setObjectName(QString::number(res::kToolbarMail));
    m_mailToolBar->setIconSize(QSize(res::kMailToolbarImageWidth, 15));
    const QList<QPixmap> faces = imageStrip(resourceBitmap(res::kBitmapMailToolbar), res::kMailToolbarImageWidth,
                                            resourceTransparentColor(res::kBitmapMailToolbar));
    for (const MailCommand& c : kMailCommands) {
        auto* action = new QAction(platform::uiTextThroughCp932(c.menuText), this);
        action->setObjectName(QString::number(c.id));
        action->setToolTip(platform::uiTextThroughCp932(c.prompt));
        action->setStatusTip(platform::uiTextThroughCp932(c.prompt));
        if (c.image < faces.size())
            action->setIcon(QIcon(faces[c.image]));
        action->setEnabled(c.enabled);
        connect(action, &QAction::triggered, this, [this, id = c.id] { onCommand(id); });
        m_mailToolBar->addAction(action);
        m_mailActions[c.id] = action;
    }
    addToolBar(Qt::TopToolBarArea, m_mailToolBar);
}

QAction* CMainFrame::commandAction(int id) const
{
    const auto it = m_mailActions.find(id);
    return it == m_mailActions.end() ? nullptr : it->second;
}

void CMainFrame::setCommandHandler(int id, std::function<void()> handler)
{
    m_commandHandlers[id] = std::move(handler);
}

bool CMainFrame::onCommand(int id)
{
    if (auto it = m_commandHandlers.find(id); it != m_commandHandlers.end() && it->second) {
        it->second();
        return true;
    }
    switch (id) {
    case res::kCmdTrayExit:
        requestExit();
        return true;
    case res::kCmdTrayShow:
        showAndRaise();
        return true;
    case res::kCmdAppExit:
        close(); // hides: the program keeps running in the notification area (where there is one)
        return true;
    case res::kCmdAbout: {
        CAboutDlg about(this);
        about.exec();
        return true;
    }
    case res::kCmdAddressBook:
        platform::messageBox(platform::utf8ToCp932("アドレス帳"));
        return true;
    case res::kCmdMailSend:
        return true;
    // The mail windows and the port settings plug in through setCommandHandler(); until they are
    // there the commands do nothing.
    case res::kCmdMailReceive:
    case res::kCmdMailSettings:
    case res::kCmdMailNew:
    case res::kCmdMailSendReceive:
    case res::kCmdPortAndLog:
        return true;
    default:
        return false;
    }
}

std::string CMainFrame::tooltipText() const
{
    return tooltipText(m_chat);
}

std::string CMainFrame::tooltipText(const ChatGroupTable& table)
{
    std::string tip;
    if (const auto& failure = table.announceFailure())
        tip = chat::announceFailedTip(failure->error);
    for (int g = 0; g < table.groupCount; ++g) {
        const ChatGroup& group = table.groups[static_cast<std::size_t>(g)];
        const auto unread =
            std::count_if(group.rows.begin(), group.rows.end(), [](const ChatRow& r) { return r.unread; });
        char counts[96];
        std::snprintf(counts, sizeof counts, "%d", static_cast<int>(group.members.size()));
        tip += group.name + platform::utf8ToCp932("(参加 ") + counts;
        std::snprintf(counts, sizeof counts, "%d", static_cast<int>(unread));
        tip += platform::utf8ToCp932(" 未読 ") + counts + ") ";
    }
    return std::string(platform::cp932Prefix(tip, TrayIcon::kMaxTooltipBytes));
}

std::intptr_t CMainFrame::windowProc(platform::WindowMessage& msg)
{
    if (msg.id == WM_COMMAND) {
        onCommand(static_cast<int>(platform::paramInt(msg.wParam)));
        return 0;
    }
    if (msg.id == WM_CHAT_MEMBERS_CHANGED) {
        m_tray->setTooltip(tooltipText());
        return 0;
    }
    if (msg.id == WM_CHAT_ANNOUNCE_CHANGED) {
        announceFailureChanged();
        return 0;
    }
    if (msg.id != WM_CHAT_ROWS_CHANGED)
        return 0;
    const std::int64_t w = platform::paramInt(msg.wParam);
    const std::int64_t l = platform::paramInt(msg.lParam);
    // Every 0x464 first refreshes the list (when it names the shown group) and the tooltip ...
    rowsChanged(static_cast<int>(w));
    // ... then the tray's clicks are acted on.
    if (l != 0 && w != 0)
        trayNotification(l);
    return 0;
}

void CMainFrame::rowsChanged(int group)
{
    if (group == m_pane->currentGroup() && m_report) {
        m_rowSource->setGroup(group);
        m_report->rowsChanged();
    }
    m_tray->setTooltip(tooltipText());
}

void CMainFrame::groupDeleted(int group)
{
    m_pane->groupRemoved(group, m_chat.groupCount);
    // The right pane shows the current group's rows; they may belong to another group now.
    rowsChanged(m_pane->currentGroup());
}

void CMainFrame::announceFailureChanged()
{
    const auto& failure = m_chat.announceFailure();
    if (m_announceFailure) {
        m_announceFailure->setText(
            failure ? platform::toQString(chat::announceFailedText(failure->groupName, failure->error)) : QString());
        statusBar()->setVisible(failure.has_value());
    }
    m_tray->setTooltip(tooltipText());
}

void CMainFrame::trayNotification(std::int64_t mouseMessage)
{
    // Some trays report a click and never a double-click: either one shows or hides the window.
    if (mouseMessage == WM_LBUTTONDBLCLK || mouseMessage == WM_LBUTTONUP)
        showOrHide();
    else if (mouseMessage == WM_RBUTTONUP)
        showTrayMenu();
}

void CMainFrame::showOrHide()
{
    if (isVisible())
        hide();
    else
        showAndRaise();
}

void CMainFrame::showAndRaise()
{
    if (m_destroyed)
        return;
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void CMainFrame::showTrayMenu()
{
    QMenu menu(this);
    menu.addAction(platform::uiTextThroughCp932("表示(&S)"), this, [this] { onCommand(res::kCmdTrayShow); });
    menu.addAction(platform::uiTextThroughCp932("終了(&X)"), this, [this] { onCommand(res::kCmdTrayExit); });
    m_menuPresenter(res::kMenuTray, menu);
}

void CMainFrame::closeSplash()
{
    if (m_splash) {
        m_splash->close();
        m_splash->deleteLater();
        m_splash = nullptr;
    }
    update();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_destroyed) {
        event->accept();
        return;
    }
    // The close box only hides the window: the program keeps running in the notification area.
    // Without a tray nothing could show the window again, so closing it ends the program.
    event->ignore();
    if (TrayIcon::systemTrayAvailable())
        hide();
    else
        requestExit();
}

void CMainFrame::saveWindowRect()
{
    platform::storeFrameRect(*this, kMainWindow);
    auto& profile = platform::Profile::application();
    profile.writeInt(kMainWindow, "ColmSort", m_app ? m_app->sortColumn : 0);
    profile.writeInt(kMainWindow, "ColmSortsw", m_app ? m_app->sortAscending : 0);
}

void CMainFrame::requestExit()
{
    if (m_exitRequested || m_destroyed)
        return;
    m_exitRequested = true;
    emit exitRequested();
}

void CMainFrame::destroyWindow()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    ChatGroupTable& table = m_chat;
    // Leave notices first, group by group, each listener ended before the next.
    for (int g = 0; g < table.groupCount; ++g)
        table.stopListener(g, true);
    saveWindowRect();
    table.removeObserver(*m_chatObserver);
    if (m_tree && table.isObserver(*m_tree)) {
        table.removeObserver(*m_tree);
        m_pane->setTreeReady(false);
    }
    closeSplash();
    m_tray->remove();
    hide();
    emit windowDestroyed();
}

} // namespace orvalink::app
