#include "chat/ProfileGroupStore.h"

#include "platform/Profile.h"

#include <algorithm>

namespace orvalink::chat {

namespace {

constexpr const char* kNetMsg = "NetMsg Entry";
constexpr const char* kCount = "User PortCnt";

constexpr const char* kPort = "User Port";
constexpr const char* kGroupName = "User PortName";
constexpr const char* kDisplayName = "User Name";

// The key of group index's text: the name and the group's number from 1.
std::string storeKey(const char* name, int index)
{
    return name + std::to_string(index + 1);
}

const char* nameKey(ProfileGroupStore::Name which)
{
    return which == ProfileGroupStore::Name::Group ? kGroupName : kDisplayName;
}

} // namespace

std::vector<StoredGroup> ProfileGroupStore::load(int max) const
{
    const int stored = std::clamp(count(), 0, std::max(max, 0));
    std::vector<StoredGroup> groups;
    groups.reserve(static_cast<std::size_t>(stored));
    for (int i = 0; i < stored; ++i)
        groups.push_back({m_store.getString(kNetMsg, storeKey(kPort, i)),
                          m_store.getString(kNetMsg, storeKey(kGroupName, i)),
                          m_store.getString(kNetMsg, storeKey(kDisplayName, i))});
    return groups;
}

void ProfileGroupStore::save(int index, const StoredGroup& group)
{
    m_store.writeInt(kNetMsg, kCount, index + 1);
    m_store.writeString(kNetMsg, storeKey(kPort, index), group.port);
    m_store.writeString(kNetMsg, storeKey(kGroupName, index), group.name);
    m_store.writeString(kNetMsg, storeKey(kDisplayName, index), group.displayName);
}

void ProfileGroupStore::remove(int index, int count)
{
    m_store.writeInt(kNetMsg, kCount, count - 1);
    for (int i = index; i < count - 1; ++i) {
        for (const char* name : {kPort, kGroupName, kDisplayName})
            m_store.writeString(kNetMsg, storeKey(name, i), m_store.getString(kNetMsg, storeKey(name, i + 1)));
    }
}

int ProfileGroupStore::count() const
{
    return m_store.getInt(kNetMsg, kCount, 0);
}

std::string ProfileGroupStore::storedName(int index, Name which, const std::string& otherwise) const
{
    return m_store.getString(kNetMsg, storeKey(nameKey(which), index), otherwise);
}

void ProfileGroupStore::storeName(int index, Name which, const std::string& text)
{
    m_store.writeString(kNetMsg, storeKey(nameKey(which), index), text);
}

} // namespace orvalink::chat
