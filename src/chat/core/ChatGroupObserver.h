#pragma once

// What the chat groups tell the parts of the program that show them: the folder tree (member nodes
// under group nodes, group nodes added and removed while the program runs) and the main window
// (a group's rows or members changed). Observers register with the group table; every call comes
// on the main thread. Groups are named by their index in the table at the time of the call.

#include <string_view>

namespace orvalink::chat {

class ChatGroupObserver {
public:
    virtual ~ChatGroupObserver() = default;

    // A member key ("address#port#name") joined group g.
    virtual void memberAdded(int /*group*/, std::string_view /*memberKey*/) {}
    // A member key left group g.
    virtual void memberRemoved(int /*group*/, std::string_view /*memberKey*/) {}
    // Group g was appended to the table.
    virtual void groupAdded(int /*group*/) {}
    // Group g was deleted; the groups after it have moved down by one (what a window shows of a
    // group at an index may be another group's now).
    virtual void groupRemoved(int /*group*/) {}
    // Rows of group g were added.
    virtual void groupRowsChanged(int /*group*/) {}
    // The member lists changed (the tray tooltip counts them).
    virtual void groupMembersChanged(int /*group*/) {}
    // An announcement of this instance could not be sent, or a later send succeeded (the table's
    // announceFailure()).
    virtual void announceFailureChanged() {}
};

} // namespace orvalink::chat
