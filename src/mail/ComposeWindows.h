#pragma once

// Opening and ending compose windows. All of it runs on the GUI thread.

#include <string>

namespace orvalink::mail {

class CSendThread;
class MailState;

// Takes the first free slot, starts the window's thread with the opening values, waits until it
// is ready and shows the window. Null when all 100 slots are taken (the user is told).
CSendThread* OpenComposeWindow(MailState& side, const std::string& initialTo, const std::string& initialSubject);

// The program is ending: every open compose window closes and its thread ends before this
// returns. Typed text is kept in 保存したメール.
void closeAllComposeWindows(MailState& side);

} // namespace orvalink::mail
