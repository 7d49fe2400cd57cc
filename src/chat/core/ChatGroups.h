#pragma once

// The chat groups' state, without any window or socket: up to 100 groups with their members and
// rows, the caps on rows, and the observers told of every change. It is read and written on one
// thread only (the program's main thread, which receives every datagram); it takes no lock.

#include "chat/core/ChatGroup.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvalink::chat {

class ChatGroupObserver;

class ChatGroups {
public:
    ChatGroups() = default;
    ChatGroups(const ChatGroups&) = delete;
    ChatGroups& operator=(const ChatGroups&) = delete;

    // The groups' own data: groups[0 .. groupCount-1] are in use.
    std::array<ChatGroup, kMaxChatGroups> groups;
    int groupCount = 0;

    // The first group whose port text reads as port (its leading digits), or -1.
    int groupByPort(unsigned port) const;
    // Appends a row to group g, numbered, after the oldest rows have left as far as the count and
    // byte bounds require (the new row itself always stays).
    void appendRow(int g, ChatRow row);
    // The number for the next row appended anywhere (rising from 1; main thread only).
    static std::uint64_t nextRowSerial();

    // Member keys of group g; the observers are told of a key that was added or removed.
    bool addMember(int g, const std::string& key);
    bool removeMember(int g, const std::string& key);

    // Observers. An observer removes itself before it goes; one may add or remove observers from
    // inside a call (the call goes to those registered when it began).
    void addObserver(ChatGroupObserver& observer);
    void removeObserver(ChatGroupObserver& observer);
    bool isObserver(const ChatGroupObserver& observer) const;
    void notifyRowsChanged(int g);
    void notifyMembersChanged(int g);
    void notifyAnnounceFailureChanged();
    void notifyGroupAdded(int g);
    void notifyGroupRemoved(int g);

protected:
    // Every group empty and no observer left.
    void resetGroups();

private:
    std::vector<ChatGroupObserver*> m_observers;
};

} // namespace orvalink::chat
