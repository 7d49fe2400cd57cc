#include "app/Autostart.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvalink::app {

namespace {

std::string configHome()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : "/";
    }
    return std::string(home) + "/.config";
}

// An Exec argument: quoted when it holds anything but plain path characters; inside quotes the
// characters " ` $ \ are escaped with a backslash, and % is doubled (the desktop entry format).
std::string execArgument(const std::string& program)
{
    bool plain = !program.empty();
    for (char c : program)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '-' || c == '_' || c == '+'))
            plain = false;
    if (plain)
        return program;
    std::string out = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += "\\\\";
        if (c == '%')
            out += '%';
        out += c;
    }
    return out + "\"";
}

} // namespace

std::string Autostart::entryPath()
{
    return configHome() + "/autostart/org.orvalink.Orvalink.desktop";
}

bool Autostart::isEnabled()
{
    return ::access(entryPath().c_str(), F_OK) == 0;
}

std::string Autostart::entryText(const std::string& program)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Orvalink\n"
           "Comment=Group chat for the office network, waiting in the notification area\n"
           "Comment[ja]=社内ネットワークのグループチャット (通知領域で待機)\n"
           "Exec=" +
           execArgument(program) +
           "\n"
           "Icon=org.orvalink.Orvalink\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool Autostart::setEnabled(bool on, const std::string& program)
{
    const std::string path = entryPath();
    if (!on)
        return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    const std::string folder = path.substr(0, path.rfind('/'));
    ::mkdir(configHome().c_str(), 0700);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    // Written beside and renamed: a login never sees half an entry.
    const std::string work = path + ".new";
    const int fd = ::open(work.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const std::string text = entryText(program);
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (::close(fd) != 0 || !written || ::rename(work.c_str(), path.c_str()) != 0) {
        ::unlink(work.c_str());
        return false;
    }
    return true;
}

} // namespace orvalink::app
