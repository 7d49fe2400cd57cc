#include "app/MailReceiveCommand_p.h"

#include "app/CMainFrame.h"
#include "mail/ReceiveCommand.h"
#include "res/ResourceIds.h"

ReceiveCommand* installMailReceiveCommand(CMainFrame& frame)
{
    auto* command = new ReceiveCommand(&frame);
    frame.setCommandHandler(res::kCmdMailReceive, [command] { command->run(); });
    QObject::connect(&frame, &CMainFrame::windowDestroyed, command, &ReceiveCommand::closeWindow);
    return command;
}
