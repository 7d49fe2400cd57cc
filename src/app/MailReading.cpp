#include "app/CMailListView.h"
#include "app/CMainFrame.h"
#include "app/MailReading_p.h"
#include "mail/ReadWindows.h"

namespace orvalink::app {

void installMailReading(CMainFrame& frame, mail::ReadWindows& windows)
{
    CMailListView* list = frame.mailListView();
    list->setOpener([list, &windows](const MailRowSource& source, int index) {
        mail::ReadRequest request;
        request.folderName = list->folderName();
        request.record = source.entry(index).record;
        // A mailbox that cannot be read shows the record's texts over an empty body.
        request.bytes = source.message(index).value_or(std::string());
        windows.open(std::move(request));
    });
    QObject::connect(&frame, &CMainFrame::windowDestroyed, &frame, [&windows] { windows.closeAll(); });
}

} // namespace orvalink::app
