#include "mail/ComposeWindows.h"

#include "mail/CSendFrame.h"
#include "mail/CSendThread.h"
#include "mail/ComposeTexts.h"
#include "mail/ComposeThreadTable.h"
#include "mail/MailState.h"
#include "platform/MessageBox.h"

#include <memory>

namespace orvalink::mail {

CSendThread* OpenComposeWindow(MailState& side, const std::string& initialTo, const std::string& initialSubject)
{
    ComposeThreadTable& table = side.composeThreads();
    const int slot = table.firstFree();
    if (slot < 0) {
        platform::messageBox(mail::tooManyWindowsText(), mail::captionText(), platform::MB_OK);
        return nullptr;
    }
    auto thread = std::make_unique<CSendThread>(side);
    thread->initialTo = initialTo;
    thread->initialSubject = initialSubject;
    if (!thread->startAndWaitReady())
        return nullptr;
    CSendThread* t = thread.release();
    table.threads[static_cast<std::size_t>(slot)] = t;
    auto* frame = new CSendFrame(t);
    t->setFrame(frame);
    frame->showNormal();
    t->setWindowSlot(slot);
    return t;
}

void closeAllComposeWindows(MailState& side)
{
    for (CSendThread* t : side.composeThreads().threads)
        if (t && t->frame())
            t->frame()->closeAtExit();
}

} // namespace orvalink::mail
