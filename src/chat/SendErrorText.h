#pragma once

// What the user is told when a datagram could not be sent: the reason for a Windows Sockets error
// number, and the lines built on it for the write window, the main window's status bar and the
// tray tooltip. Code page 932 texts.

#include <string>
#include <string_view>

namespace orvalink::chat {

// The reason alone, e.g. "ネットワークに到達できません"; an error without a text of its own is
// named by its number.
std::string sendErrorText(int wsaError);
// The write window's line: the message was not sent, and why.
std::string messageNotSentText(int wsaError);
// The status bar's line: the group's presence or join notice could not be sent, and why.
std::string announceFailedText(std::string_view groupName, int wsaError);
// The same, short enough to lead the tray tooltip.
std::string announceFailedTip(int wsaError);

} // namespace orvalink::chat
