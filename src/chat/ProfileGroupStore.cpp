#include "chat/ProfileGroupStore.h"

#include "platform/Profile.h"

#include <algorithm>

namespace orvalink::chat {

namespace {

constexpr const char* kNetMsg = "NetMsg Entry";

std::string storeKey(const char* name, int n)
{
    return name + std::to_string(n);
}

} // namespace

std::vector<StoredGroup> ProfileGroupStore::load(int max) const
{
    const int count = std::clamp(m_store.getInt(kNetMsg, "User PortCnt", 0), 0, std::max(max, 0));
    std::vector<StoredGroup> groups;
    groups.reserve(static_cast<std::size_t>(count));
    for (int n = 1; n <= count; ++n)
        groups.push_back({m_store.getString(kNetMsg, storeKey("User Port", n)),
                          m_store.getString(kNetMsg, storeKey("User PortName", n)),
                          m_store.getString(kNetMsg, storeKey("User Name", n))});
    return groups;
}

void ProfileGroupStore::save(int index, const StoredGroup& group)
{
    const int n = index + 1;
    m_store.writeInt(kNetMsg, "User PortCnt", n);
    m_store.writeString(kNetMsg, storeKey("User Port", n), group.port);
    m_store.writeString(kNetMsg, storeKey("User PortName", n), group.name);
    m_store.writeString(kNetMsg, storeKey("User Name", n), group.displayName);
}

void ProfileGroupStore::remove(int index, int count)
{
    m_store.writeInt(kNetMsg, "User PortCnt", count - 1);
    for (int i = index; i < count - 1; ++i) {
        for (const char* name : {"User Port", "User PortName", "User Name"})
            m_store.writeString(kNetMsg, storeKey(name, i + 1), m_store.getString(kNetMsg, storeKey(name, i + 2)));
    }
}

} // namespace orvalink::chat
