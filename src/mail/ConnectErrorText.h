#pragma once

// The texts a failed connect adds to the receive window's error list (code page 932).

#include <string>

namespace orvalink::mail {

// The error-list text for a connect error (a Windows Sockets number). A number the table does not
// know still gets a text that names it, so a failed connect is never silent.
std::string connectErrorText(int wsaError);

// "ホスト アドレスが無効です。": the server name cannot be used as an address.
std::string invalidHostText();

} // namespace orvalink::mail
