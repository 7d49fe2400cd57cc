#pragma once

#include <string_view>

namespace orvalink::platform {

// Port numbers as a user types them into a dialog (a new chat group's port, a mail server's port).

// True for decimal digits only, naming 1 to 65535 ("012121" is port 12121). "1e4", "12122abc",
// " 25" and "0" are not ports; texts already stored keep being read as they always were.
bool isTypedPortText(std::string_view portText);

} // namespace orvalink::platform
