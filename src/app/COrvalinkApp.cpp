#include "app/COrvalinkApp.h"

#include "app/CChatListView.h"
#include "app/CDesktopOptionsDlg.h"
#include "app/CLeftView.h"
#include "app/CMainFrame.h"
#include "app/ChatPaneState.h"
#include "app/ChatWindows_p.h"
#include "app/DesktopNotifier.h"
#include "app/MailReading_p.h"
#include "app/MailReceiveCommand_p.h"
#include "app/MailSettingsCommand.h"
#include "app/MailWindows_p.h"
#include "app/TrayIcon.h"
#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgThread.h"
#include "chat/ChatGroupTable.h"
#include "chat/ChatReceiver.h"
#include "chat/ProfileGroupStore.h"
#include "mail/MailDirectory.h"
#include "mail/MailState.h"
#include "mail/ReadWindows.h"
#include "platform/InstanceChannel.h"
#include "platform/MessageBox.h"
#include "platform/Profile.h"
#include "platform/SingleInstance.h"
#include "platform/SystemInfo.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"

#include <QCoreApplication>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace orvalink::app {

using chat::ChatGroupTable;
using chat::ChatReceiver;
using chat::CNetMsgDlg;

namespace {

COrvalinkApp* g_app = nullptr;

constexpr std::size_t kMaxDefaultNameBytes = 100;

// The socket layer is there when a datagram socket can be made at all.
bool socketLayerAvailable()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

COrvalinkApp::COrvalinkApp() : m_mailState(std::make_unique<mail::MailState>())
{
    g_app = this;
}

COrvalinkApp::~COrvalinkApp()
{
    m_mainFrame.reset();
    m_chatGroups.setReceiver(nullptr);
    m_receiver.reset();
    if (g_app == this)
        g_app = nullptr;
}

COrvalinkApp* COrvalinkApp::instance()
{
    return g_app;
}

void COrvalinkApp::writeFirstRunDefaults()
{
    chat::ProfileGroupStore(platform::Profile::application())
        .save(0, {"12121", platform::utf8ToCp932("グループ１"),
                  std::string(platform::cp932Prefix(platform::computerName(), kMaxDefaultNameBytes))});
}

void COrvalinkApp::startListeners()
{
    // Every assembled datagram of every group goes to the receiver, on the main thread, with the
    // group whose socket received it.
    m_listenerIo = ChatReceiver::makeListenerIo(m_chatGroups);
    m_receiver = std::make_unique<ChatReceiver>(*m_listenerIo, m_chatGroups);
    m_receiver->setCoalescedRefresh(true);
    if (m_notifier)
        m_receiver->setMessageHook([this](int g, const chat::ChatRow& row) {
            if (!m_notifier)
                return; // ending: the notifier goes before the receiver
            const bool active = m_mainFrame && m_mainFrame->isVisible() && m_mainFrame->isActiveWindow();
            m_notifier->messageArrived({g, row.serial, NotificationBatch::senderOf(row.senderKey.str()),
                                        m_chatGroups.groups[static_cast<std::size_t>(g)].name, row.body.str(),
                                        row.kind == chat::RowKind::PersonalMessage},
                                       active);
        });
    m_chatGroups.setReceiver(m_receiver.get());
    for (int g = 0; g < m_chatGroups.groupCount; ++g)
        m_chatGroups.startListener(g);
}

bool COrvalinkApp::initInstance()
{
    if (!socketLayerAvailable()) {
        platform::messageBox(platform::utf8ToCp932("Windows ｿｹｯﾄの初期化に失敗しました。"));
        return false;
    }

    m_lock = std::make_unique<platform::InstanceLock>();
    if (!m_lock->tryLock()) {
        // The running instance shows its window; this start still says why it ends.
        platform::InstanceChannel::requestRaise();
        platform::messageBox(platform::utf8ToCp932("２重起動は出来ません"), platform::utf8ToCp932("メッセージ"),
                             platform::MB_OK);
        std::exit(0);
    }

    auto& profile = platform::Profile::application();
    if (chat::ProfileGroupStore(profile).count() == 0)
        writeFirstRunDefaults();
    m_chatGroups.load(profile);

    m_mainFrame = std::make_unique<CMainFrame>(m_chatGroups, this, &m_mailState->directory());
    if (!m_mainFrame->create())
        return false;
    installMailSettingsCommand(*m_mainFrame, m_mailState->directory());
    ReceiveCommand* receive = installMailReceiveCommand(*m_mainFrame, m_mailState->directory());
    installChatWindows(*m_mainFrame);
    // The read windows end before the compose windows when the main window goes.
    m_readWindows = std::make_unique<mail::ReadWindows>(*m_mailState);
    installMailReading(*m_mainFrame, *m_readWindows);
    installMailWindows(*m_mainFrame, *receive, *m_mailState);
    m_mainFrame->setWindowTitle("Orvalink");
    // The program lives in the notification area; where the desktop has none, the window is the
    // only way to reach it and is shown instead.
    if (TrayIcon::systemTrayAvailable())
        m_mainFrame->hide();
    else
        m_mainFrame->show();

    installDesktopCommands();

    m_instanceChannel = std::make_unique<platform::InstanceChannel>();
    m_instanceChannel->listen();
    QObject::connect(m_instanceChannel.get(), &platform::InstanceChannel::raiseRequested, m_mainFrame.get(),
                     [frame = m_mainFrame.get()] { frame->onCommand(res::kCmdTrayShow); });

    startListeners();
    return true;
}

void COrvalinkApp::installDesktopCommands()
{
    m_notifier = std::make_unique<DesktopNotifier>();
    m_notifier->setEnabled(DesktopNotifier::enabledInProfile());
    CMainFrame* frame = m_mainFrame.get();
    // The notification's action shows the window with the newest notified row selected.
    QObject::connect(m_notifier.get(), &DesktopNotifier::showMessage, frame, [frame](int g, std::uint64_t serial) {
        frame->onCommand(res::kCmdTrayShow);
        if (CLeftView* tree = frame->chatPane().treeReady() ? frame->treeView() : nullptr;
            tree && g >= 0 && g < tree->topLevelItemCount())
            tree->setCurrentItem(tree->topLevelItem(g));
        if (frame->reportView())
            frame->reportView()->selectRowWithSerial(serial);
    });
    frame->setCommandHandler(res::kCmdDesktopOptions, [this, frame] {
        CDesktopOptionsDlg dlg(CDesktopOptionsDlg::stored(), frame);
        if (dlg.exec() != QDialog::Accepted)
            return;
        m_notifier->setEnabled(dlg.options().notify);
        if (!CDesktopOptionsDlg::apply(dlg.options(), QCoreApplication::applicationFilePath().toStdString()))
            platform::messageBox(platform::utf8ToCp932("ログイン時の起動を設定できませんでした"));
    });
}

} // namespace orvalink::app
