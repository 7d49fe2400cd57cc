#include "mail/MailDirectory.h"

#include "platform/Profile.h"
#include "platform/text/Cp932.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <sys/stat.h>

namespace orvalink::mail {

namespace {

constexpr int kMaxSaveFolderItems = 100;

std::mutex g_mutex;
std::string g_mailDirectory;
std::vector<std::string> g_saveFolderItems;

} // namespace

std::string mailDirectoryPath()
{
    std::lock_guard lock(g_mutex);
    return g_mailDirectory;
}

void setMailDirectoryPath(std::string_view path)
{
    std::lock_guard lock(g_mutex);
    g_mailDirectory = path;
}

std::string mailDirectory()
{
    const std::string path = mailDirectoryPath();
    std::string text = platform::utf8ToCp932(path);
    // Only a text that names this very folder again; "?" for a character code page 932 lacks
    // would name another one.
    if (platform::cp932ToUtf8(text) != path || !platform::cp932RoundTrips(text))
        return {};
    return text;
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

bool createMailDirectory(std::string_view directory)
{
    const std::string path = platform::cp932ToUtf8(directory);
    if (path.empty())
        return false;
    // Each folder from the top down; one that exists already (or is being made by another
    // process) is fine, and only the end result counts.
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && part.back() != '/' && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
