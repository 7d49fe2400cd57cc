#pragma once

// Where the chat groups are kept between runs: an ordered list of groups, each with its port text,
// group name and display name as the user typed them. The Qt side keeps it in the settings store;
// tests keep it in memory.

#include <string>
#include <vector>

namespace orvalink::chat {

struct StoredGroup {
    std::string port;        // decimal text as typed
    std::string name;        // the group name
    std::string displayName; // the name this user announces in the group
};

class ChatGroupStore {
public:
    virtual ~ChatGroupStore() = default;
    // The stored groups in order, at most max of them (a missing text reads as empty).
    virtual std::vector<StoredGroup> load(int max) const = 0;
    // Stores group as number index (from 0) and index + 1 as the number of stored groups: a new
    // group goes behind the table's last.
    virtual void save(int index, const StoredGroup& group) = 0;
    // Removes group index of the count stored: the ones after it move down by one.
    virtual void remove(int index, int count) = 0;
};

} // namespace orvalink::chat
