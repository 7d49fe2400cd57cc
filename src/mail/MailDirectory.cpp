#include "mail/MailDirectory.h"

#include "platform/Profile.h"
#include "platform/text/Cp932.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvalink::mail {

namespace {

constexpr int kMaxSaveFolderItems = 100;

std::mutex g_mutex;
std::string g_mailDirectory;
std::vector<std::string> g_saveFolderItems;

std::string homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && home[0] != '\0')
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/tmp";
}

// Makes every missing directory of path, each 0700; existing ones are left as they are.
void makePrivateDirectories(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) == 0)
            ::chmod(part.c_str(), 0700); // whatever the umask took away
        if (slash == std::string::npos)
            return;
    }
}

} // namespace

std::string defaultMailDirectoryPath()
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const std::string base = xdg && xdg[0] == '/' ? std::string(xdg) : homeDirectory() + "/.local/share";
    return base + "/Orvalink/Mail";
}

std::string mailDirectoryPath()
{
    {
        std::lock_guard lock(g_mutex);
        if (!g_mailDirectory.empty())
            return g_mailDirectory;
    }
    return defaultMailDirectoryPath();
}

bool usesDefaultMailDirectory()
{
    std::lock_guard lock(g_mutex);
    return g_mailDirectory.empty();
}

std::string prepareMailDirectory()
{
    {
        std::lock_guard lock(g_mutex);
        if (!g_mailDirectory.empty())
            return g_mailDirectory;
    }
    std::string path = defaultMailDirectoryPath();
    makePrivateDirectories(path);
    return path;
}

void setMailDirectoryPath(std::string_view path)
{
    std::lock_guard lock(g_mutex);
    g_mailDirectory = path;
}

void setMailDirectory(std::string_view directory)
{
    setMailDirectoryPath(platform::cp932ToUtf8(directory));
}

std::string loadMailDirectory()
{
    return loadMailDirectory(platform::Profile::application());
}

std::string loadMailDirectory(platform::Profile& profile)
{
    std::string directory = profile.getPath(kMailEntrySection, "SaveFolder");
    setMailDirectoryPath(directory);
    return directory;
}

bool storeMailDirectory(platform::Profile& profile, std::string_view path)
{
    setMailDirectoryPath(path);
    return profile.writePath(kMailEntrySection, "SaveFolder", path);
}

std::vector<std::string> saveFolderItems()
{
    std::lock_guard lock(g_mutex);
    return g_saveFolderItems;
}

void loadSaveFolderItems(platform::Profile& profile)
{
    const int count = std::clamp(profile.getInt(kMailEntrySection, "SaveFolderItemCnt", 0), 0, kMaxSaveFolderItems);
    std::vector<std::string> items;
    items.reserve(static_cast<std::size_t>(count));
    for (int n = 1; n <= count; ++n)
        items.push_back(profile.getString(kMailEntrySection, "SaveFolderItem" + std::to_string(n)));
    std::lock_guard lock(g_mutex);
    g_saveFolderItems = std::move(items);
}

} // namespace orvalink::mail
