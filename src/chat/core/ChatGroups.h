#pragma once

// The chat groups' state, without any window or socket: up to 100 groups with their members and
// rows, the caps on rows, the groups kept between runs (through a ChatGroupStore), each group's chat
// log, and the observers told of every change. It is read and written on one thread only (the
// program's main thread, which receives every datagram); it takes no lock. The chat logs are the
// one exception: a group's listener thread writes its sent items into the group's log (ChatLog
// takes its own lock).

#include "chat/core/ChatGroup.h"
#include "chat/core/ChatGroupStore.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvalink::chat {

class ChatGroupObserver;
class ChatLogEnvironment;

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

    // Start-up: the stored groups (at most kMaxChatGroups) become groups 0 .. count-1 with their
    // texts as stored.
    void loadGroups(const ChatGroupStore& store);
    // A new group: stored as the one after the table's last, appended to the table with the texts
    // as given, and shown to the observers. Returns its index, or -1 when the table is full
    // (nothing is stored then).
    int addGroup(const StoredGroup& group, ChatGroupStore& store);
    // Deletes group g from the store and the table: the groups after it move down by one (their
    // logs with them) and g's log closes. The caller tells the observers once what it keeps per
    // group has moved as well.
    void removeGroup(int g, ChatGroupStore& store);

    // Where the chat logs take their settings and report failures (outlives the groups); without
    // one nothing is logged.
    void setLogEnvironment(const ChatLogEnvironment* environment) { m_logEnvironment = environment; }
    // Group g's chat log, made on first use; null without a log environment or for no group. Main
    // thread only: the listener of g is handed the log before it can send.
    ChatLog* chatLog(int g);

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
    // Tells each observer in turn; a copy of the list is walked, as an observer may add or remove
    // observers while it is told.
    template <typename Tell> void notifyAll(Tell tell)
    {
        for (ChatGroupObserver* o : std::vector(m_observers))
            tell(*o);
    }

    std::vector<ChatGroupObserver*> m_observers;
    const ChatLogEnvironment* m_logEnvironment = nullptr;
};

} // namespace orvalink::chat
