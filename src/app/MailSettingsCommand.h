#pragma once

namespace orvalink::mail {
class MailDirectory;
} // namespace orvalink::mail

namespace orvalink::app {

// The mail settings at start-up: loads `directory` (the application's, which outlives the frame)
// from the store and makes the main window's mail settings command open the settings sheet
// modally.

class CMainFrame;

void installMailSettingsCommand(CMainFrame& frame, mail::MailDirectory& directory);

} // namespace orvalink::app
