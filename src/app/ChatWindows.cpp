#include "app/CChatListView.h"
#include "app/CLeftView.h"
#include "app/CMainFrame.h"
#include "app/ChatPaneState.h"
#include "app/ChatWindows_p.h"
#include "chat/CPortSettingsSheet.h"
#include "chat/CSendChatFrame.h"
#include "chat/ChatWriteOpeners.h"
#include "res/ResourceIds.h"

#include <QPointer>
#include <algorithm>

namespace orvalink::app {

using app::CLeftView;
using chat::ChatGroupTable;
using chat::CPortSettingsSheet;
using chat::CSendChatFrame;

namespace {
constexpr int kCascadeStep = 24;   // without a window manager's title bar to measure
constexpr int kCascadeLength = 10; // then the cascade starts again at the top
} // namespace

void installChatWindows(CMainFrame& frame)
{
    ChatGroupTable* groups = &frame.chatGroups();
    if (CLeftView* tree = frame.treeView()) {
        tree->setWriteToGroupHandler([groups](int group) { chat::openWriteToGroup(*groups, group); });
        tree->setWriteToPersonHandler(
            [groups](int group, std::string memberKey) { chat::openWriteToMember(*groups, group, memberKey); });
    }
    // The row is one of the group the pane shows; the reply goes to the member who sent it, kept
    // with it.
    CChatListView::setRowOpener([groups, shown = QPointer<CMainFrame>(&frame)](
                                    int, const std::string& header, const std::string& body, const std::string& from) {
        if (shown)
            chat::openMessageRow(*groups, shown->chatPane().currentGroup(), header, body, from);
    });
    // Write windows still open when the program ends go with it, their threads ended first.
    QObject::connect(&frame, &CMainFrame::windowDestroyed, &frame, [groups] { chat::closeAllWindows(*groups); });
    CMainFrame* f = &frame;
    // New write windows cascade from the main window, each a title bar's height further down and
    // right, so none hides another; they keep their stored size.
    CSendChatFrame::setPlacement([f](const QRect& stored, int openWindows) {
        const QRect main = f->frameGeometry();
        const int title = main.top() < f->geometry().top() ? f->geometry().top() - main.top() : kCascadeStep;
        const int step = std::max(title, kCascadeStep / 2) * (1 + openWindows % kCascadeLength);
        return QRect(main.topLeft() + QPoint(step, step), stored.size());
    });
    QObject::connect(&frame, &QObject::destroyed, [] { CSendChatFrame::setPlacement({}); });
    frame.setCommandHandler(res::kCmdPortAndLog, [f] { CPortSettingsSheet::run(f->chatGroups(), f); });
}

} // namespace orvalink::app
