#include "app/MailSettingsCommand.h"

#include "app/CMainFrame.h"
#include "mail/CMailSettingsSheet.h"
#include "mail/MailDirectory.h"
#include "res/ResourceIds.h"

namespace orvalink::app {

using mail::CMailSettingsSheet;

void installMailSettingsCommand(CMainFrame& frame, mail::MailDirectory& directory)
{
    // Downloads and saved mail need the mail directory even when the sheet is never opened.
    directory.load();
    frame.setCommandHandler(res::kCmdMailSettings, [&frame, &directory] {
        CMailSettingsSheet sheet(directory, &frame);
        sheet.exec();
    });
}

} // namespace orvalink::app
