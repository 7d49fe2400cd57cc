#include "app/CMainFrame.h"
#include "app/ChatWindows_p.h"
#include "chat/CPortSettingsSheet.h"
#include "chat/CSendChatFrame.h"
#include "chat/ChatWriteOpeners.h"
#include "controls/CReportDemoView.h"
#include "controls/RowTable.h"
#include "folders/CLeftView.h"

#include <algorithm>

namespace orvalink::app {

using chat::CPortSettingsSheet;
using chat::CSendChatFrame;
using controls::CReportDemoView;
using controls::rowTable;
using controls::RowTableEntry;
using folders::CLeftView;

namespace {
constexpr int kCascadeStep = 24;   // without a window manager's title bar to measure
constexpr int kCascadeLength = 10; // then the cascade starts again at the top
} // namespace

void installChatWindows(CMainFrame& frame)
{
    if (CLeftView* tree = frame.treeView()) {
        tree->setWriteToGroupHandler([](int group) { chat::openWriteToGroup(group); });
        tree->setWriteToPersonHandler(
            [](int group, std::string memberKey) { chat::openWriteToMember(group, memberKey); });
    }
    // The reply goes to the member who sent the row, kept with it.
    CReportDemoView::setRowOpener([](int row, const std::string& header, const std::string& body) {
        const RowTableEntry* entry = rowTable().entry(row);
        chat::openMessageRow(row, header, body, entry ? entry->senderKey.str() : std::string());
    });
    // Write windows still open when the program ends go with it, their threads ended first.
    QObject::connect(&frame, &CMainFrame::windowDestroyed, &frame, [] { chat::closeAllWindows(); });
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
    frame.setCommandHandler(CMainFrame::ID_PORT_SETTINGS, [f] { CPortSettingsSheet::run(f); });
}

} // namespace orvalink::app
