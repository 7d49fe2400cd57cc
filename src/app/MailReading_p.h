#pragma once

namespace orvalink::mail {
class ReadWindows;
} // namespace orvalink::mail

namespace orvalink::app {

class CMainFrame;

// Plugs the read windows into the main window: opening a row of the mail list opens its message in
// a read window of `windows`, and every read window closes when the main window is destroyed.
void installMailReading(CMainFrame& frame, mail::ReadWindows& windows);

} // namespace orvalink::app
