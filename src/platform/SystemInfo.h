#pragma once

#include <cstdint>
#include <string>

namespace orvalink::platform {

// The computer's network name (gethostname) as code page 932 text.
std::string computerName();
// The login name of the user running the program, as code page 932 text.
std::string userName();
// 386, 486 or 586 after the machine type (i386, i486, i586/i686/x86_64); 0 for anything else.
int processorType();
int processorTypeFromMachine(const std::string& machine);
// Bytes of physical memory.
std::uint64_t totalPhysicalMemory();

} // namespace orvalink::platform
