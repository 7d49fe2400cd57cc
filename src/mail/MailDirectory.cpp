#include "mail/MailDirectory.h"

#include "platform/Profile.h"
#include "platform/text/Cp932.h"

#include <algorithm>
#include <mutex>

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
