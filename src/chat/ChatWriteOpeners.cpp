#include "chat/ChatWriteOpeners.h"

#include "chat/CSendChatFrame.h"
#include "chat/CSendChatThread.h"
#include "chat/ChatGroupTable.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/MessageBox.h"
#include "platform/text/Cp932.h"

#include <memory>

namespace orvalink::chat {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "  dddd/dd/dd  dd:dd:dd" at the end of s.
bool endsWithTimeStamp(std::string_view s)
{
    constexpr std::string_view pattern = "  0000/00/00  00:00:00";
    if (s.size() < pattern.size())
        return false;
    const std::string_view tail = s.substr(s.size() - pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '0' ? !isDigit(tail[i]) : tail[i] != pattern[i])
            return false;
    }
    return true;
}

CSendChatThread* openWindow(ChatGroupTable& table, std::unique_ptr<CSendChatThread> thread)
{
    if (!table.hasFreeWriteSlot()) {
        platform::messageBox(tooManyWindowsText());
        return nullptr;
    }
    return table.openWriteWindow(std::move(thread), [](CSendChatThread& t) {
        auto* frame = new CSendChatFrame(&t);
        t.setFrame(frame);
        frame->showNormal();
    });
}

bool validGroup(const ChatGroupTable& table, int group)
{
    return group >= 0 && group < table.groupCount;
}

} // namespace

std::string_view addressOfKey(std::string_view key)
{
    return chat::addressOfMemberKey(key);
}

std::string_view nameOfKey(std::string_view key)
{
    return chat::nameOfMemberKey(key);
}

std::string recipientFor(const std::vector<std::string>& members, std::string_view name)
{
    for (const std::string& key : members)
        if (nameOfKey(key) == name && key.find('#') != std::string::npos)
            return std::string(addressOfKey(key));
    return {};
}

std::string senderNameOfHeader(std::string_view header)
{
    static const std::string continued = platform::utf8ToCp932(" (続く)");
    std::string_view h = header;
    if (h.size() >= continued.size() && h.substr(h.size() - continued.size()) == continued)
        h.remove_suffix(continued.size());
    if (endsWithTimeStamp(h))
        return std::string(h.substr(0, h.size() - 22));
    return std::string(header.substr(0, header.find(' ')));
}

std::string quoteReply(std::string_view body)
{
    std::string quote;
    std::size_t pos = 0;
    for (std::size_t crlf = body.find("\r\n"); crlf != std::string_view::npos; crlf = body.find("\r\n", pos)) {
        quote += '>';
        quote += body.substr(pos, crlf + 2 - pos);
        pos = crlf + 2;
    }
    if (pos < body.size()) {
        quote += '>';
        quote += body.substr(pos);
    }
    return quote;
}

CSendChatThread* openWriteToGroup(ChatGroupTable& table, int group)
{
    if (!validGroup(table, group))
        return nullptr;
    auto t = std::make_unique<CSendChatThread>();
    t->groupLabel = chatGroupLabel(table.groups[static_cast<std::size_t>(group)].name);
    t->setGroupIndex(group);
    return openWindow(table, std::move(t));
}

CSendChatThread* openWriteToPerson(ChatGroupTable& table, int group, const std::string& memberName)
{
    if (!validGroup(table, group))
        return nullptr;
    const ChatGroup& g = table.groups[static_cast<std::size_t>(group)];
    auto t = std::make_unique<CSendChatThread>();
    t->groupLabel = chatGroupLabel(g.name);
    t->memberName = memberName;
    t->recipient = recipientFor(g.members, memberName);
    t->personal = true;
    t->setGroupIndex(group);
    return openWindow(table, std::move(t));
}

CSendChatThread* openWriteToMember(ChatGroupTable& table, int group, const std::string& memberKey)
{
    if (!validGroup(table, group))
        return nullptr;
    const ChatGroup& g = table.groups[static_cast<std::size_t>(group)];
    auto t = std::make_unique<CSendChatThread>();
    t->groupLabel = chatGroupLabel(g.name);
    t->memberName = std::string(nameOfKey(memberKey));
    if (g.members.contains(memberKey))
        t->recipient = std::string(addressOfKey(memberKey));
    t->personal = true;
    t->setGroupIndex(group);
    return openWindow(table, std::move(t));
}

CSendChatThread* openMessageRow(ChatGroupTable& table, int group, const std::string& header, const std::string& body,
                                const std::string& senderKey)
{
    if (!validGroup(table, group))
        return nullptr;
    const ChatGroup& g = table.groups[static_cast<std::size_t>(group)];
    auto t = std::make_unique<CSendChatThread>();
    t->groupLabel = chatGroupLabel(g.name);
    t->senderName = senderNameOfHeader(header);
    t->body = body;
    if (senderKey.empty())
        t->recipient = recipientFor(g.members, t->senderName);
    else if (g.members.contains(senderKey))
        t->recipient = std::string(addressOfKey(senderKey));
    t->personal = true;
    t->readMode = true;
    t->setGroupIndex(group);
    return openWindow(table, std::move(t));
}

void closeAllWindows(ChatGroupTable& table)
{
    for (CSendChatThread* t : table.chatWriteSlots()) {
        if (t && t->frame())
            delete t->frame();
    }
}

std::string tooManyWindowsText()
{
    return platform::utf8ToCp932("これ以上メッセージウィンドウを開けません");
}

std::string noRecipientText()
{
    return platform::utf8ToCp932("送信先のメンバーがグループにいないため送信できません");
}

std::string groupDeletedText()
{
    return platform::utf8ToCp932("送信しようとしているグループは削除されました");
}

} // namespace orvalink::chat
