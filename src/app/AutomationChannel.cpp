#include "app/AutomationChannel.h"

#include "app/CChatListView.h"
#include "app/CLeftView.h"
#include "app/CMailListView.h"
#include "app/CMainFrame.h"
#include "app/ChatPaneState.h"
#include "app/MailRowSource.h"
#include "app/TrayIcon.h"
#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgThread.h"
#include "chat/CSendChatFrame.h"
#include "chat/CSendChatThread.h"
#include "chat/CSendChatView.h"
#include "chat/ChatGroupTable.h"
#include "chat/ChatWriteOpeners.h"
#include "controls/CReportCtrl.h"
#include "mail/CReadFrame.h"
#include "mail/CReadThread.h"
#include "mail/CSendFrame.h"
#include "mail/CSendHeaderBar.h"
#include "mail/CSendThread.h"
#include "mail/CSendView.h"
#include "mail/ComposeThreadTable.h"
#include "mail/MailState.h"
#include "mail/ReceiveCommand.h"
#include "mail/ReceiveDialog.h"
#include "mail/SendRecvWindow.h"
#include "platform/Dispatch.h"
#include "platform/Messages.h"
#include "platform/TextCodec.h"
#include "platform/text/ByteEscape.h"
#include "res/ResourceIds.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QSocketNotifier>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidgetItem>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace orvalink::app {

using app::CLeftView;
using chat::ChatGroup;
using chat::ChatGroupTable;
using chat::ChatRow;
using chat::CNetMsgDlg;
using chat::CSendChatFrame;
using chat::CSendChatThread;
using controls::CReportCtrl;
using controls::ReportHitTest;
using controls::ReportItem;
using mail::ComposeThreadTable;
using mail::CSendFrame;
using mail::CSendHeaderBar;
using mail::CSendThread;
using mail::kMaxComposeWindows;
using mail::ReceiveCommand;
using mail::ReceiveDialog;
using platform::WM_CHAT_ROWS_CHANGED;
using platform::WM_CHAT_SEND_GROUP;
using platform::WM_CHAT_SEND_PERSONAL;
using platform::WM_COMMAND;
using platform::WM_LBUTTONDBLCLK;

AutomationChannel* AutomationChannel::openFromEnvironment(CMainFrame* frame, mail::MailState& mailState)
{
    const char* path = std::getenv("ORVALINK_AUTOMATION");
    if (!path || !*path)
        return nullptr;
    // Read-write, so the FIFO never reports end-of-file when a writer goes away.
    const int fd = ::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return new AutomationChannel(frame, mailState, fd);
}

AutomationChannel::AutomationChannel(CMainFrame* frame, mail::MailState& mailState, int fd)
    : QObject(frame), m_frame(frame), m_mail(mailState), m_fd(fd),
      m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &AutomationChannel::readable);
}

AutomationChannel::~AutomationChannel()
{
    ::close(m_fd);
}

void AutomationChannel::readable()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0)
            break;
        m_pending.append(buf, static_cast<std::size_t>(n));
    }
    for (std::size_t nl = m_pending.find('\n'); nl != std::string::npos; nl = m_pending.find('\n')) {
        const std::string line = m_pending.substr(0, nl);
        m_pending.erase(0, nl + 1);
        execute(line);
    }
}

std::string AutomationChannel::escape(std::string_view bytes)
{
    return platform::escapeBytes(bytes);
}

std::string AutomationChannel::unescape(std::string_view t)
{
    // Texts in the escape form are decoded; anything else (raw code page 932 from a script) is
    // taken byte for byte as it came.
    return platform::unescapeBytes(t).value_or(std::string(t));
}

std::string AutomationChannel::stateDump() const
{
    const ChatGroupTable& table = m_frame->chatGroups();
    std::ostringstream out;
    out << "groups " << table.groupCount << " current " << m_frame->chatPane().currentGroup() << "\n";
    if (CLeftView* tree = m_frame->chatPane().treeReady() ? m_frame->treeView() : nullptr) {
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* node = tree->topLevelItem(i);
            out << "node " << escape(CLeftView::label(node)) << "\n";
            for (int c = 0; c < node->childCount(); ++c)
                out << "node " << escape(CLeftView::label(node)) << " " << escape(CLeftView::label(node->child(c)))
                    << "\n";
            // The member each member node stands for: node C under group node I.
            for (int c = 0; c < node->childCount(); ++c)
                out << "nodekey " << i << " " << c << " " << escape(CLeftView::memberKey(node->child(c))) << "\n";
        }
    }
    for (int g = 0; g < table.groupCount; ++g) {
        const ChatGroup& group = table.groups[static_cast<std::size_t>(g)];
        for (const auto& m : group.members)
            out << "member " << g << " " << escape(m) << "\n";
        for (const auto& r : group.rows)
            out << "row " << g << " " << escape(r.header) << "|" << r.height << "|" << escape(r.body) << "|"
                << (r.kind == chat::RowKind::PersonalMessage ? "1" : "") << "|" << (r.unread ? "1" : "0") << "\n";
    }
    out << "tooltip " << escape(m_frame->tooltipText()) << "\n";
    // The message list: how many rows, which are in view, and each row's image and preview.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* main = dynamic_cast<CMainFrame*>(w);
        if (!main || !main->reportView())
            continue;
        main->reportView()->bringUpToDate();
        const CReportCtrl* ctrl = main->reportView()->reportCtrl();
        const int first = ctrl->firstVisible();
        const int fit = ctrl->rowsThatFit(first, false, false);
        out << "list " << ctrl->itemCount() << " visible " << first << " " << (first + fit - 1) << "\n";
        for (int i = 0; i < ctrl->itemCount(); ++i) {
            ReportItem item;
            item.item = i;
            item.subItem = 0;
            if (ctrl->getItem(item))
                out << "item " << i << " " << escape(item.text) << "|" << item.image << "|" << item.preview << "\n";
        }
        for (int i = 0; i < ctrl->itemCount(); ++i)
            if (ctrl->rowState(i) & controls::RCIS_SELECTED)
                out << "selected " << i << "\n";
    }
    // The receive window.
    const ReceiveDialog* receive = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = dynamic_cast<ReceiveDialog*>(w); d && d->isVisible())
            receive = d;
    out << "recvwindow " << (receive ? "open" : "closed") << "\n";
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* main = dynamic_cast<CMainFrame*>(w))
            if (const auto* command = main->findChild<ReceiveCommand*>())
                out << "recvended " << command->endedDownloads() << "\n";
    if (receive) {
        out << "recvstatus " << escape(receive->statusText()) << "\n";
        out << "recvmessage " << escape(receive->messageText()) << "\n";
        out << "recvprogress " << receive->progressValue() << " " << receive->progressMaximum() << "\n";
        out << "recvrunning " << (receive->downloading() ? 1 : 0) << "\n";
        for (const std::string& e : receive->errors())
            out << "recverror " << escape(e) << "\n";
    }
    // Open chat write windows and their titles.
    for (CSendChatThread* t : table.chatWriteSlots())
        if (t && t->frame())
            out << "window " << escape(platform::fromQString(t->frame()->windowTitle())) << "\n";
    // A write window whose send failed: the line saying why and the text it kept.
    for (CSendChatThread* t : table.chatWriteSlots())
        if (t && t->frame() && t->frame()->sendFailure()->isVisibleTo(t->frame()))
            out << "windowfailure " << escape(platform::fromQString(t->frame()->sendFailure()->text())) << "|"
                << escape(t->frame()->view()->text()) << "\n";
    // The status bar's line about an announcement that could not be sent.
    if (const QLabel* failure = m_frame->announceFailureLabel(); failure && failure->isVisibleTo(m_frame))
        out << "status " << escape(platform::fromQString(failure->text())) << "\n";
    // The mail list while a folder is shown: each row in display order, and each open read window.
    if (const CMailListView* list = m_frame->mailListView(); list && !list->isHidden()) {
        const CReportCtrl* ctrl = list->reportCtrl();
        for (int position = 0; position < std::min(ctrl->itemCount(), 200); ++position) {
            const int index = list->sourceIndex(ctrl->rowAt(position));
            const MailRowSource& source = list->source();
            out << "mailrow " << position << " " << (source.unread(index) ? "unread" : "read") << "|"
                << escape(source.cellText(index, MailRowSource::kSender)) << "|"
                << escape(source.cellText(index, MailRowSource::kSubject)) << "\n";
        }
    }
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* read = dynamic_cast<mail::CReadFrame*>(w); read && read->thread())
            out << "read " << read->thread()->windowSlot() << " " << escape(read->fromText()) << "|"
                << escape(read->subjectText()) << "|" << escape(read->bodyText()) << "\n";
    // Open compose windows, with their texts and the state of their conversation.
    const ComposeThreadTable& compose = m_mail.composeThreads();
    for (std::size_t slot = 0; slot < compose.threads.size(); ++slot) {
        const CSendThread* t = compose.threads[slot];
        if (!t || !t->frame())
            continue;
        const CSendFrame* f = t->frame();
        out << "compose " << slot << " " << f->smtpState() << "|" << escape(f->fromText()) << "|" << escape(f->toText())
            << "|" << escape(f->subjectText()) << "|" << escape(f->bodyText()) << "\n";
    }
    if (m_mail.sendRecvWindow().current())
        out << "sendrecv open\n";
    placesOnScreen(out);
    return out.str();
}

CSendFrame* AutomationChannel::composeFrame(int slot) const
{
    const ComposeThreadTable& table = m_mail.composeThreads();
    if (slot < 0 || slot >= kMaxComposeWindows)
        return nullptr;
    const CSendThread* t = table.threads[static_cast<std::size_t>(slot)];
    return t ? t->frame() : nullptr;
}

std::string AutomationChannel::stats()
{
    if (!m_heartbeat) {
        m_heartbeat = new QTimer(this);
        m_heartbeat->setInterval(5);
        connect(m_heartbeat, &QTimer::timeout, this,
                [this] { m_longestGapMs = std::max(m_longestGapMs, m_sinceBeat.restart()); });
        m_heartbeat->start();
        m_sinceBeat.start();
    }
    const ChatGroupTable& table = m_frame->chatGroups();
    std::ostringstream out;
    for (int g = 0; g < table.groupCount; ++g) {
        const ChatGroup& group = table.groups[static_cast<std::size_t>(g)];
        std::size_t bytes = 0;
        for (const auto& r : group.rows)
            bytes += r.header.size() + r.body.size();
        out << "group " << g << " members " << group.members.size() << " rows " << group.rows.size() << " bytes "
            << bytes << "\n";
    }
    out << "gap " << m_longestGapMs << "\n";
    m_longestGapMs = 0;
    m_sinceBeat.restart();
    return out.str();
}

void AutomationChannel::placesOnScreen(std::ostream& out) const
{
    // Where things are on the screen, for tests that click them with the real mouse: every shown
    // window (frame and client rectangles), its buttons, the open pop-up menu's items, the tree's
    // group nodes and the tray icon.
    auto rect = [](const QRect& r) {
        return std::to_string(r.x()) + " " + std::to_string(r.y()) + " " + std::to_string(r.width()) + " " +
               std::to_string(r.height());
    };
    auto label = [](const QString& t) { return escape(platform::fromQString(t)); };
    // A window's class as scripts name it: without the namespace it lives in.
    auto className = [](const QObject* o) {
        const std::string_view name = o->metaObject()->className();
        const std::size_t colon = name.rfind(':');
        return std::string(colon == std::string_view::npos ? name : name.substr(colon + 1));
    };
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || w->windowType() == Qt::Popup || w->windowType() == Qt::ToolTip)
            continue;
        out << "toplevel " << className(w) << " " << label(w->windowTitle()) << " " << rect(w->frameGeometry()) << " "
            << rect(w->geometry()) << (w == QApplication::activeModalWidget() ? " modal" : "")
            << (w->isActiveWindow() ? " active" : "") << "\n";
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
            if (b->isVisible())
                out << "button " << label(b->text()) << " " << rect(QRect(b->mapToGlobal(QPoint(0, 0)), b->size()))
                    << "\n";
    }
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
        for (QAction* a : menu->actions())
            out << "popupitem " << label(a->text()) << " "
                << rect(QRect(menu->mapToGlobal(menu->actionGeometry(a).topLeft()), menu->actionGeometry(a).size()))
                << "\n";
    if (auto* tree = (m_frame->chatPane().treeReady() ? m_frame->treeView() : nullptr); tree && tree->isVisible())
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            const QRect r = tree->visualItemRect(tree->topLevelItem(i));
            out << "treenode " << escape(CLeftView::label(tree->topLevelItem(i))) << " "
                << rect(QRect(tree->viewport()->mapToGlobal(r.topLeft()), r.size())) << "\n";
        }
    if (const QWidget* focus = QApplication::focusWidget())
        out << "focus " << className(focus) << "\n";
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* main = dynamic_cast<CMainFrame*>(w); main && main->trayIcon()->created())
            out << "tray " << rect(main->trayIcon()->geometry()) << "\n";
}

void AutomationChannel::execute(const std::string& line)
{
    std::istringstream in(line);
    std::string command;
    in >> command;
    auto rest = [&in] {
        std::string r;
        std::getline(in, r);
        if (!r.empty() && r[0] == ' ')
            r.erase(0, 1);
        return r;
    };
    auto listener = [this](int g) { return m_frame->chatGroups().sendTarget(g); };
    if (command == "dump" || command == "stats") {
        const std::string path = rest();
        const std::string tmp = path + ".tmp";
        {
            std::ofstream f(tmp, std::ios::binary);
            f << (command == "dump" ? stateDump() : stats());
        }
        std::rename(tmp.c_str(), path.c_str());
    } else if (command == "group") {
        int g = -1;
        in >> g;
        if (CNetMsgDlg* w = listener(g))
            platform::sendMessage(w, {WM_CHAT_SEND_GROUP, unescape(rest()), {}});
    } else if (command == "personal") {
        int g = -1;
        std::string address;
        in >> g >> address;
        if (CNetMsgDlg* w = listener(g))
            platform::sendMessage(w, {WM_CHAT_SEND_PERSONAL, unescape(rest()), address});
    } else if (command == "write" || command == "writeto" || command == "writenode" || command == "reply") {
        int g = -1;
        in >> g;
        CSendChatThread* window = nullptr;
        if (command == "write") {
            window = chat::openWriteToGroup(m_frame->chatGroups(), g);
        } else if (command == "writeto") {
            std::string name;
            in >> name;
            window = chat::openWriteToPerson(m_frame->chatGroups(), g, unescape(name));
        } else if (command == "writenode") {
            // The member node's context menu command, as the user gives it.
            int n = -1;
            in >> n;
            auto* tree = (m_frame->chatPane().treeReady() ? m_frame->treeView() : nullptr);
            QTreeWidgetItem* groupNode =
                tree && g >= 0 && g < tree->topLevelItemCount() ? tree->topLevelItem(g) : nullptr;
            if (!groupNode || n < 0 || n >= groupNode->childCount())
                return;
            const auto before = m_frame->chatGroups().chatWriteSlots();
            tree->setContextNode(groupNode->child(n));
            tree->onCommand(res::kCmdWriteToPerson);
            const auto open = m_frame->chatGroups().chatWriteSlots();
            for (std::size_t s = 0; s < open.size() && !window; ++s)
                if (open[s] && open[s] != before[s])
                    window = open[s];
        } else {
            std::size_t row = 0;
            in >> row;
            const ChatGroupTable& t = m_frame->chatGroups();
            if (g >= 0 && g < t.groupCount && row < t.groups[static_cast<std::size_t>(g)].rows.size()) {
                const ChatRow r = t.groups[static_cast<std::size_t>(g)].rows[row];
                m_frame->chatPane().setCurrentGroup(g);
                window = chat::openMessageRow(m_frame->chatGroups(), g, r.header, r.body, r.senderKey);
            }
        }
        if (!window)
            return;
        CSendChatFrame* frame = window->frame();
        std::string text = unescape(rest());
        if (frame->inReadMode()) {
            frame->pressButton();
            text = frame->view()->text() + "\r\n" + text;
        }
        frame->view()->setText(text);
        frame->pressButton();
    } else if (command == "open") {
        // A double-click on the list's row ROW, as the user makes it.
        int row = -1;
        in >> row;
        if (m_frame->reportView())
            m_frame->reportView()->bringUpToDate();
        CReportCtrl* ctrl = m_frame->reportView() ? m_frame->reportView()->reportCtrl() : nullptr;
        if (!ctrl || row < 0 || row >= ctrl->itemCount())
            return;
        ctrl->ensureVisible(row, false);
        const QRect area = ctrl->rowArea();
        for (int y = area.top(); y < area.bottom(); ++y) {
            ReportHitTest hit;
            hit.point = QPoint(area.left() + 40, y);
            if (ctrl->hitTest(hit) >= 0 && hit.item == row) {
                const QPointF at(hit.point);
                QMouseEvent press(QEvent::MouseButtonPress, at, ctrl->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                                  Qt::NoModifier);
                QMouseEvent release(QEvent::MouseButtonRelease, at, ctrl->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                                    Qt::NoModifier);
                QMouseEvent dbl(QEvent::MouseButtonDblClick, at, ctrl->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                                Qt::NoModifier);
                QCoreApplication::sendEvent(ctrl, &press);
                QCoreApplication::sendEvent(ctrl, &release);
                QCoreApplication::sendEvent(ctrl, &dbl);
                QCoreApplication::sendEvent(ctrl, &release);
                break;
            }
        }
    } else if (command == "folder") {
        // Selects the node of the fixed mail folder NAME.
        std::string name;
        in >> name;
        if (QTreeWidgetItem* node = m_frame->treeView()->folderNode(unescape(name)))
            m_frame->treeView()->setCurrentItem(node);
    } else if (command == "mailopen") {
        // Opens the mail list's row at display position POS, as a double-click does.
        int position = -1;
        in >> position;
        CMailListView* list = m_frame->mailListView();
        if (list && position >= 0 && position < list->reportCtrl()->itemCount())
            list->openRow(list->reportCtrl()->rowAt(position));
    } else if (command == "readreply") {
        // The reply command of the read window in slot SLOT.
        int slot = -1;
        in >> slot;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* read = dynamic_cast<mail::CReadFrame*>(w);
                read && read->thread() && read->thread()->windowSlot() == slot)
                read->reply();
    } else if (command == "select") {
        int g = -1;
        in >> g;
        if (auto* tree = (m_frame->chatPane().treeReady() ? m_frame->treeView() : nullptr);
            tree && g >= 0 && g < tree->topLevelItemCount())
            tree->setCurrentItem(tree->topLevelItem(g));
    } else if (command == "show" || command == "hide") {
        if (m_frame->isVisible() != (command == "show"))
            platform::sendMessage(m_frame->messageTarget(), {WM_CHAT_ROWS_CHANGED, std::int64_t{res::kTrayIconId},
                                                             std::int64_t{WM_LBUTTONDBLCLK}});
    } else if (command == "exit") {
        m_frame->onCommand(res::kCmdTrayExit);
    } else if (command == "mail") {
        int slot = -1;
        std::string field;
        in >> slot >> field;
        CSendFrame* frame = composeFrame(slot);
        if (!frame)
            return;
        const std::string value = unescape(rest());
        if (field == "from")
            CSendHeaderBar::setText(frame->headerBar()->fromBox(), value);
        else if (field == "to")
            CSendHeaderBar::setText(frame->headerBar()->toBox(), value);
        else if (field == "subject")
            CSendHeaderBar::setText(frame->headerBar()->subjectBox(), value);
        else if (field == "body")
            frame->view()->setText(value);
    } else if (command == "mailcommand" || command == "mailclose") {
        // Posted, as a click would be: a question the command asks does not hold up the channel.
        int slot = -1;
        int id = 0;
        in >> slot >> id;
        if (CSendFrame* frame = composeFrame(slot)) {
            const bool closeBox = command == "mailclose";
            QMetaObject::invokeMethod(
                frame,
                [frame, id, closeBox] {
                    if (closeBox)
                        frame->close();
                    else
                        frame->onCommand(id);
                },
                Qt::QueuedConnection);
        }
    } else if (command == "command") {
        int id = 0;
        in >> id;
        platform::postMessage(m_frame->messageTarget(), {WM_COMMAND, std::int64_t{id}, {}});
    } else if (command == "click") {
        int id = 0;
        in >> id;
        QAction* action = m_frame->commandAction(id);
        QWidget* button = action && m_frame->mailToolBar() ? m_frame->mailToolBar()->widgetForAction(action) : nullptr;
        if (!button)
            return;
        // Press and release over the button's middle, as a mouse does; the click is acted on after
        // this command returns, so a window the command opens does not hold up the channel.
        const QPointF at(button->rect().center());
        QMetaObject::invokeMethod(
            button,
            [button, at] {
                QMouseEvent press(QEvent::MouseButtonPress, at, button->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                                  Qt::NoModifier);
                QMouseEvent release(QEvent::MouseButtonRelease, at, button->mapToGlobal(at), Qt::LeftButton,
                                    Qt::NoButton, Qt::NoModifier);
                QCoreApplication::sendEvent(button, &press);
                QCoreApplication::sendEvent(button, &release);
            },
            Qt::QueuedConnection);
    } else if (command == "grab") {
        const std::string path = rest();
        m_frame->grab().save(QString::fromStdString(path + ".tmp.png"), "PNG");
        std::rename((path + ".tmp.png").c_str(), path.c_str());
    }
}

} // namespace orvalink::app
