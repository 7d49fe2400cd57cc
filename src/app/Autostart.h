#pragma once

// Starting Orvalink at login: an XDG autostart entry, $XDG_CONFIG_HOME/autostart/
// org.orvalink.Orvalink.desktop (~/.config when XDG_CONFIG_HOME is unset). The program started
// there waits in the notification area with its window hidden, as every start with a tray does.

#include <string>

namespace orvalink::app {

class Autostart {
public:
    static std::string entryPath();
    static bool isEnabled();
    // Writes the entry starting program (0600, the folder made 0700 when missing), or removes it.
    // False when the file could not be written or removed.
    static bool setEnabled(bool on, const std::string& program);
    // The entry's text for program (quoted as the desktop entry format wants where needed).
    static std::string entryText(const std::string& program);
};

} // namespace orvalink::app
