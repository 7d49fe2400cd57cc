#include "chat/ChatReceiver.h"

#include <algorithm>

#include "chat/ChatGroupTable.h"
#include "chat/ChatLog.h"
#include "chat/ChatTree.h"
#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgThread.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/Dispatch.h"
#include "platform/Messages.h"
#include "platform/text/Cp932.h"

namespace {

const std::string& joinedSuffix()
{
    static const std::string s = text::utf8ToCp932("さんが参加しました");
    return s;
}

const std::string& continuedMark()
{
    static const std::string s = text::utf8ToCp932(" (続く)");
    return s;
}

class ListenerIo : public ChatReceiver::GroupIo {
public:
    void sendPresenceReply(int group) override
    {
        if (CNetMsgDlg* w = window(group))
            w->sendPresenceReply();
    }
    void log(int group, std::string_view groupName, std::string_view labelLine, std::string_view text) override
    {
        if (CNetMsgDlg* w = window(group))
            w->log(groupName, labelLine, text);
    }

private:
    static CNetMsgDlg* window(int group)
    {
        CNetMsgThread* t = chatGroupTable().groups[static_cast<std::size_t>(group)].listener;
        return t ? t->window() : nullptr;
    }
};

void appendRow(ChatGroup& group, ChatRow row)
{
    while (group.rows.size() >= ChatReceiver::kMaxRowsPerGroup)
        group.rows.pop_front();
    row.serial = ChatReceiver::nextRowSerial();
    group.rows.push_back(std::move(row));
}

void rowsChanged(int g)
{
    if (platform::MessageTarget* frame = chatGroupTable().mainFrame)
        platform::sendMessage(frame, {WM_CHAT_ROWS_CHANGED, std::int64_t{g}, std::int64_t{0}});
}

// The tray tooltip counts every group's members.
void membersChanged(int g)
{
    if (platform::MessageTarget* frame = chatGroupTable().mainFrame)
        platform::sendMessage(frame, {WM_CHAT_MEMBERS_CHANGED, std::int64_t{g}, std::int64_t{0}});
}

} // namespace

ChatReceiver::ChatReceiver(GroupIo& io) : m_io(io), m_clock([] { return std::time(nullptr); }) {}

std::uint64_t ChatReceiver::nextRowSerial()
{
    static std::uint64_t last = 0; // rows are appended on the main thread only
    return ++last;
}

ChatReceiver::GroupIo& ChatReceiver::listenerIo()
{
    static ListenerIo io;
    return io;
}

int ChatReceiver::messageHeight(std::string_view payload, bool* capped)
{
    // CR LF pairs are searched from position 1 on, each search one past the last find.
    int height = 18;
    for (std::size_t pos = payload.find("\r\n", 1); pos != std::string_view::npos; pos = payload.find("\r\n", pos + 1))
        height = std::min(height + 12, 90);
    const bool cut = height > 78;
    if (capped)
        *capped = cut;
    return cut ? 78 : height;
}

void ChatReceiver::handle(std::string_view text, const std::string& address, unsigned port)
{
    const chatwire::ChatPayload p = chatwire::parsePayload(text);
    if (p.kind == chatwire::ChatKind::None)
        return;
    ChatGroupTable& table = chatGroupTable();
    const int g = table.groupByPort(port);
    if (g < 0)
        return;
    ChatGroup& group = table.groups[static_cast<std::size_t>(g)];
    const std::string name(p.name);
    const std::string key = chatwire::memberKey(address, port, p.name);

    switch (p.kind) {
    case chatwire::ChatKind::Presence: {
        if (std::find(group.members.begin(), group.members.end(), key) != group.members.end())
            return; // known: no reply, so two instances never answer each other for ever
        group.members.push_back(key);
        // The tree is filled while the main window is created, before any socket exists; a
        // handler running earlier (tests without a window) has no tree to show the member in.
        if (table.treeReady.load() && table.treeView)
            table.treeView->addMember(g, p.name);
        membersChanged(g);
        m_io.sendPresenceReply(g);
        return;
    }
    case chatwire::ChatKind::Join: {
        const std::string body = name + joinedSuffix();
        appendRow(group, {name + ChatLog::timeText(m_clock()), "30", body, "", "1"});
        rowsChanged(g);
        m_io.log(g, group.name, "From: " + name, body);
        return;
    }
    case chatwire::ChatKind::GroupMessage:
    case chatwire::ChatKind::PersonalMessage: {
        std::string header = name + ChatLog::timeText(m_clock());
        bool capped = false;
        const int height = messageHeight(text, &capped);
        if (capped)
            header += continuedMark();
        const bool personal = p.kind == chatwire::ChatKind::PersonalMessage;
        appendRow(group, {std::move(header), std::to_string(height), std::string(p.text), personal ? "1" : "", "1"});
        rowsChanged(g);
        m_io.log(g, group.name, "From: " + name, p.text);
        return;
    }
    case chatwire::ChatKind::Leave: {
        const auto it = std::find(group.members.begin(), group.members.end(), key);
        if (it == group.members.end())
            return;
        group.members.erase(it);
        if (table.treeReady.load() && table.treeView)
            table.treeView->removeMember(p.name, group.name);
        membersChanged(g);
        return;
    }
    case chatwire::ChatKind::None:
        return;
    }
}
