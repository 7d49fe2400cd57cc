#pragma once

// What the receive window decides before and around its connection: the port an account names and
// the texts a failed connect adds to the error list. Texts are code page 932.

#include <string>
#include <string_view>

namespace orvalink::mail {

inline constexpr int kDefaultPopPort = 110;

// The port a "POP PortNo" text names: decimal digits (spaces around them allowed) with a value of
// 1 to 65535. Anything else (empty, letters, 0, too large, a sign) gives 110.
int popPortNumber(std::string_view portText);

// The error-list text for a connect error (a Windows Sockets number). A number the table does not
// know still gets a text that names it, so a failed connect is never silent.
std::string connectErrorText(int wsaError);

// "ホスト アドレスが無効です。": the server name cannot be used as an address.
std::string invalidHostText();

} // namespace orvalink::mail
