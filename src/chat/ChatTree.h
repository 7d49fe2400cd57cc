#pragma once

// What the chat side needs of the folder tree: member nodes under group nodes, and group nodes
// added and removed while the program runs. The tree view implements it and records itself in
// the group table when its first fill is done.

#include <string_view>

namespace orvalink::chat {

class ChatTree {
public:
    virtual ~ChatTree() = default;
    // Appends a node for the member key ("address#port#name") under the g-th group node and
    // expands that node. The node is labelled with the key's name and carries the key: members
    // of the same name stay apart.
    virtual void addMember(int group, std::string_view memberKey) = 0;
    // Deletes the node(s) of this member key under the group node(s) of groupName; namesakes of
    // the member stay.
    virtual void removeMember(std::string_view memberKey, std::string_view groupName) = 0;
    // Appends a group node for the group names[g] and expands it.
    virtual void addGroupNode(int group) = 0;
    // Deletes every group node with this label ("Orvalink(" + group name + ")").
    virtual void removeGroupNode(std::string_view label) = 0;
};

} // namespace orvalink::chat
