#pragma once

// The member keys of a group in order of arrival, with an index so that a key is found in
// constant time whatever the number of members.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <unordered_set>
#include <vector>

namespace orvalink::chat {

class MemberList {
public:
    MemberList() = default;
    MemberList(std::vector<std::string> keys) { assign(std::move(keys)); }
    MemberList(std::initializer_list<std::string> keys) { assign(std::vector<std::string>(keys)); }

    bool contains(const std::string& key) const { return m_index.count(key) != 0; }
    // Appends key unless it is listed already; true when it was added.
    bool add(const std::string& key);
    void push_back(const std::string& key) { add(key); }
    // Removes key; true when it was listed.
    bool remove(const std::string& key);

    std::size_t size() const { return m_keys.size(); }
    bool empty() const { return m_keys.empty(); }
    auto begin() const { return m_keys.begin(); }
    auto end() const { return m_keys.end(); }
    const std::vector<std::string>& keys() const { return m_keys; }
    operator const std::vector<std::string>&() const { return m_keys; }

    friend bool operator==(const MemberList& a, const std::vector<std::string>& b) { return a.m_keys == b; }
    friend bool operator==(const MemberList& a, const MemberList& b) { return a.m_keys == b.m_keys; }

private:
    void assign(std::vector<std::string> keys);

    std::vector<std::string> m_keys;
    std::unordered_set<std::string> m_index;
};

} // namespace orvalink::chat
