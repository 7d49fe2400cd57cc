#include "app/CMainFrame.h"
#include "app/MailReceiveCommand_p.h"
#include "mail/ReceiveCommand.h"
#include "res/ResourceIds.h"

namespace orvalink::app {

using mail::ReceiveCommand;

ReceiveCommand* installMailReceiveCommand(CMainFrame& frame)
{
    auto* command = new ReceiveCommand(&frame);
    frame.setCommandHandler(res::kCmdMailReceive, [command] { command->run(); });
    QObject::connect(&frame, &CMainFrame::windowDestroyed, command, &ReceiveCommand::closeWindow);
    return command;
}

} // namespace orvalink::app
