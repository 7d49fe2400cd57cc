#pragma once

namespace orvalink::mail {
class MailDirectory;
class ReceiveCommand;
} // namespace orvalink::mail

namespace orvalink::app {

using mail::ReceiveCommand;

// The main window's receive command (32771): opens the receive window and starts a download. The
// window, if open, is closed (its thread ended) when the main window is destroyed. Downloads file
// into `directory`, which outlives the frame.

class CMainFrame;

ReceiveCommand* installMailReceiveCommand(CMainFrame& frame, mail::MailDirectory& directory);

} // namespace orvalink::app
