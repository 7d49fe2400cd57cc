#include "app/ChatWindows.h"

#include "app/CMainFrame.h"
#include "chat/CPortSettingsSheet.h"
#include "chat/ChatWriteOpeners.h"
#include "controls/CReportDemoView.h"
#include "folders/CLeftView.h"

void installChatWindows(CMainFrame& frame)
{
    if (CLeftView* tree = frame.treeView()) {
        tree->setWriteToGroupHandler([](int group) { chatwrite::openWriteToGroup(group); });
        tree->setWriteToPersonHandler(
            [](int group, std::string memberName) { chatwrite::openWriteToPerson(group, memberName); });
    }
    CReportDemoView::setRowOpener([](int row, const std::string& header, const std::string& body) {
        chatwrite::openMessageRow(row, header, body);
    });
    // Write windows still open when the program ends go with it, their threads ended first.
    QObject::connect(&frame, &CMainFrame::windowDestroyed, &frame, [] { chatwrite::closeAllWindows(); });
    CMainFrame* f = &frame;
    frame.setCommandHandler(CMainFrame::ID_PORT_SETTINGS, [f] { CPortSettingsSheet::run(f); });
}
