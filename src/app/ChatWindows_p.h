#pragma once

namespace orvalink::app {

// Plugs the chat windows into the main window: writing to a group or a member from the tree's
// context menus, a message row opened in the right pane, and the port and log settings command.

class CMainFrame;

void installChatWindows(CMainFrame& frame);

} // namespace orvalink::app
