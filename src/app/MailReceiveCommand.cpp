#include "app/CMainFrame.h"
#include "app/MailReceiveCommand_p.h"
#include "mail/ReceiveCommand.h"
#include "res/ResourceIds.h"
#include "store/MailStore.h"

namespace orvalink::app {

using mail::ReceiveCommand;

ReceiveCommand* installMailReceiveCommand(CMainFrame& frame, mail::MailDirectory& directory)
{
    auto* command = new ReceiveCommand(directory, &frame);
    frame.setCommandHandler(res::kCmdMailReceive, [command] { command->run(); });
    // A download that ends has filed what it could: the received folder's list and count follow.
    QObject::connect(command, &ReceiveCommand::downloadEnded, &frame,
                     [&frame] { frame.mailFolderChanged(store::kReceivedFolder); });
    QObject::connect(&frame, &CMainFrame::windowDestroyed, command, &ReceiveCommand::closeWindow);
    return command;
}

} // namespace orvalink::app
