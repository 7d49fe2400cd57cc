#pragma once

// The chat groups kept between runs in the settings store ("NetMsg Entry": "User PortCnt", then
// "User Port<n>", "User PortName<n>" and "User Name<n>" for n from 1). Every reader and writer of
// those keys goes through it.

#include "chat/core/ChatGroupStore.h"

#include <string>

namespace orvalink::platform {
class Profile;
} // namespace orvalink::platform

namespace orvalink::chat {

class ProfileGroupStore : public ChatGroupStore {
public:
    // Reads and writes store, which outlives this object.
    explicit ProfileGroupStore(platform::Profile& store) : m_store(store) {}

    // A count below 0 reads as none; a missing key as empty.
    std::vector<StoredGroup> load(int max) const override;
    // The count first, then the group's port, group name and display name.
    void save(int index, const StoredGroup& group) override;
    // The count goes down by one and the keys of each later group move down; those of the former
    // last group stay beyond the count (a name changed earlier moves with its group).
    void remove(int index, int count) override;

    // "User PortCnt" as stored (0 when missing: the program's first start).
    int count() const;
    // A group's names as the store holds them: the port page changes them there, and the table
    // takes them at the next start. `otherwise` where the key is missing.
    enum class Name { Group, Display };
    std::string storedName(int index, Name which, const std::string& otherwise) const;
    void storeName(int index, Name which, const std::string& text);

private:
    platform::Profile& m_store;
};

} // namespace orvalink::chat
