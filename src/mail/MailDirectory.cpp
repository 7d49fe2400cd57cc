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

std::string MailDirectory::path() const
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_path.empty())
            return m_path;
    }
    return defaultMailDirectoryPath();
}

bool MailDirectory::usesDefault() const
{
    std::lock_guard lock(m_mutex);
    return m_path.empty();
}

std::string MailDirectory::prepare() const
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_path.empty())
            return m_path;
    }
    std::string path = defaultMailDirectoryPath();
    makePrivateDirectories(path);
    return path;
}

void MailDirectory::setPath(std::string_view path)
{
    std::lock_guard lock(m_mutex);
    m_path = path;
}

void MailDirectory::set(std::string_view directory)
{
    setPath(platform::cp932ToUtf8(directory));
}

std::string MailDirectory::load()
{
    return load(platform::Profile::application());
}

std::string MailDirectory::load(platform::Profile& profile)
{
    std::string directory = profile.getPath(kMailEntrySection, "SaveFolder");
    setPath(directory);
    return directory;
}

bool MailDirectory::store(platform::Profile& profile, std::string_view path)
{
    setPath(path);
    return profile.writePath(kMailEntrySection, "SaveFolder", path);
}

std::vector<std::string> MailDirectory::saveFolderItems() const
{
    std::lock_guard lock(m_mutex);
    return m_saveFolderItems;
}

void MailDirectory::loadSaveFolderItems(platform::Profile& profile)
{
    const int count = std::clamp(profile.getInt(kMailEntrySection, "SaveFolderItemCnt", 0), 0, kMaxSaveFolderItems);
    std::vector<std::string> items;
    items.reserve(static_cast<std::size_t>(count));
    for (int n = 1; n <= count; ++n)
        items.push_back(profile.getString(kMailEntrySection, "SaveFolderItem" + std::to_string(n)));
    std::lock_guard lock(m_mutex);
    m_saveFolderItems = std::move(items);
}

} // namespace orvalink::mail
