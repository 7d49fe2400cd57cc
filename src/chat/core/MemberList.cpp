#include "chat/core/MemberList.h"

#include <algorithm>

namespace orvalink::chat {

bool MemberList::add(const std::string& key)
{
    if (!m_index.insert(key).second)
        return false;
    m_keys.push_back(key);
    return true;
}

bool MemberList::remove(const std::string& key)
{
    if (m_index.erase(key) == 0)
        return false;
    m_keys.erase(std::find(m_keys.begin(), m_keys.end(), key));
    return true;
}

void MemberList::assign(std::vector<std::string> keys)
{
    m_keys.clear();
    m_index.clear();
    for (auto& k : keys)
        add(k);
}

} // namespace orvalink::chat
