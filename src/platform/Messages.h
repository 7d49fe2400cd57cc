#pragma once

namespace orvalink::platform {

// The program's window-message numbers. They are global names on purpose: every window procedure
// switches on them unqualified, as the rest of the program's code expects.

inline constexpr unsigned WM_DESTROY = 0x0002;
inline constexpr unsigned WM_CLOSE = 0x0010;
inline constexpr unsigned WM_QUIT = 0x0012;
inline constexpr unsigned WM_COMMAND = 0x0111; // wParam = the command id
inline constexpr unsigned WM_TIMER = 0x0113;
inline constexpr unsigned WM_LBUTTONDOWN = 0x0201;
inline constexpr unsigned WM_LBUTTONUP = 0x0202;
inline constexpr unsigned WM_LBUTTONDBLCLK = 0x0203;
inline constexpr unsigned WM_RBUTTONUP = 0x0205;
inline constexpr unsigned WM_USER = 0x0400;

// To the main window: a group's rows changed (wParam = group index); also the tray icon's
// callback message (lParam = the mouse message).
inline constexpr unsigned WM_CHAT_ROWS_CHANGED = WM_USER + 100;
// To the main window: a member joined or left a group (wParam = group index); the tray tooltip
// counts the members.
inline constexpr unsigned WM_CHAT_MEMBERS_CHANGED = WM_USER + 101;
// To a group's listener window: wParam = text to send (the receiver owns it).
inline constexpr unsigned WM_CHAT_SEND_GROUP = WM_USER + 200;
// To a group's listener window: wParam = text to send, lParam = recipient's dotted address.
inline constexpr unsigned WM_CHAT_SEND_PERSONAL = WM_USER + 201;
// To a group's listener window at exit: send the leave notice.
inline constexpr unsigned WM_CHAT_SEND_OFF = WM_USER + 300;

static_assert(WM_CHAT_ROWS_CHANGED == 0x464 && WM_CHAT_SEND_GROUP == 0x4C8 && WM_CHAT_SEND_PERSONAL == 0x4C9 &&
              WM_CHAT_SEND_OFF == 0x52C);

} // namespace orvalink::platform
