#include "app/ChatWindows.h"

#include "app/CMainFrame.h"
#include "chat/CPortSettingsSheet.h"
#include "chat/ChatWriteOpeners.h"
#include "controls/CReportDemoView.h"
#include "controls/RowTable.h"
#include "folders/CLeftView.h"

void installChatWindows(CMainFrame& frame)
{
    if (CLeftView* tree = frame.treeView()) {
        tree->setWriteToGroupHandler([](int group) { chatwrite::openWriteToGroup(group); });
        tree->setWriteToPersonHandler(
            [](int group, std::string memberKey) { chatwrite::openWriteToMember(group, memberKey); });
    }
    // The reply goes to the member who sent the row, kept with it.
    CReportDemoView::setRowOpener([](int row, const std::string& header, const std::string& body) {
        const RowTableEntry* entry = rowTable().entry(row);
        chatwrite::openMessageRow(row, header, body, entry ? entry->senderKey.str() : std::string());
    });
    // Write windows still open when the program ends go with it, their threads ended first.
    QObject::connect(&frame, &CMainFrame::windowDestroyed, &frame, [] { chatwrite::closeAllWindows(); });
    CMainFrame* f = &frame;
    frame.setCommandHandler(CMainFrame::ID_PORT_SETTINGS, [f] { CPortSettingsSheet::run(f); });
}
