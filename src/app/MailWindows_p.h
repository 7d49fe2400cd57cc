#pragma once

namespace orvalink::mail {
class MailState;
class ReceiveCommand;
} // namespace orvalink::mail

namespace orvalink::app {

// Plugs the mail windows into the main window: a new compose window (32776), the send-and-receive
// window (32792), which receives through `receive` (the receive command's own object, which
// outlives the frame's commands), and their end when the program ends. The windows live in `side`,
// which outlives the frame.

class CMainFrame;

void installMailWindows(CMainFrame& frame, mail::ReceiveCommand& receive, mail::MailState& side);

} // namespace orvalink::app
