#pragma once

// The texts a failed connect adds to the receive and send windows' error lists (code page 932).

#include <string>

namespace orvalink::mail {

// The error-list text for a connect error (a Windows Sockets number, as the platform reports it):
// "接続できませんでした。" with what went wrong in words and the number after them, e.g.
// "接続できませんでした。ホストに到達できません (エラー 10065)". A number without words of its own still
// gets a text that names it, so a failed connect is never silent.
std::string connectErrorText(int wsaError);

// "ホスト アドレスが無効です。": the server name cannot be used as an address.
std::string invalidHostText();

} // namespace orvalink::mail
