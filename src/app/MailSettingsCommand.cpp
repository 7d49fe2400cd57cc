#include "app/MailSettingsCommand.h"

#include "app/CMainFrame.h"
#include "mail/CMailSettingsSheet.h"
#include "mail/MailDirectory.h"
#include "res/ResourceIds.h"

namespace orvalink::app {

using mail::CMailSettingsSheet;
using mail::loadMailDirectory;

void installMailSettingsCommand(CMainFrame& frame)
{
    // Downloads and saved mail need the mail directory even when the sheet is never opened.
    loadMailDirectory();
    frame.setCommandHandler(res::kCmdMailSettings, [&frame] {
        CMailSettingsSheet sheet(&frame);
        sheet.exec();
    });
}

} // namespace orvalink::app
