#pragma once

namespace orvalink::app {

// The mail settings at start-up: loads the mail directory from the store and makes the main
// window's mail settings command open the settings sheet modally.

class CMainFrame;

void installMailSettingsCommand(CMainFrame& frame);

} // namespace orvalink::app
