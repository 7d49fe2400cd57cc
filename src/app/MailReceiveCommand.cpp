#include "app/CMainFrame.h"
#include "app/MailReceiveCommand_p.h"
#include "folders/store/MailStore.h"
#include "mail/ReceiveCommand.h"
#include "mail/ReceiveDialog.h"
#include "res/ResourceIds.h"

namespace orvalink::app {

namespace {
constexpr const char* kFolderRefreshHooked = "orvalinkFolderRefreshHooked";
} // namespace

using mail::ReceiveCommand;
using mail::ReceiveDialog;

ReceiveCommand* installMailReceiveCommand(CMainFrame& frame)
{
    auto* command = new ReceiveCommand(&frame);
    frame.setCommandHandler(res::kCmdMailReceive, [command, &frame] {
        // A download that ends has filed what it could: the received folder's list and count follow.
        // The window lives on between downloads, so it is hooked up once.
        ReceiveDialog* dialog = command->run();
        if (dialog && !dialog->property(kFolderRefreshHooked).toBool()) {
            dialog->setProperty(kFolderRefreshHooked, true);
            QObject::connect(dialog, &ReceiveDialog::downloadEnded, &frame,
                             [&frame] { frame.mailFolderChanged(folders::kReceivedFolder); });
        }
    });
    QObject::connect(&frame, &CMainFrame::windowDestroyed, command, &ReceiveCommand::closeWindow);
    return command;
}

} // namespace orvalink::app
