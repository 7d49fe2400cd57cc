#pragma once

namespace orvalink::app {

// Plugs the mail windows into the main window: a new compose window (32776), the send-and-receive
// window (32792), and their end when the program ends.

class CMainFrame;

void installMailWindows(CMainFrame& frame);

} // namespace orvalink::app
