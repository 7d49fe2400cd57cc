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

CSendChatThread* openWindow(std::unique_ptr<CSendChatThread> thread)
{
    ChatGroupTable& table = chatGroupTable();
    int slot = -1;
    for (int s = 0; s < kMaxChatWriteWindows && slot < 0; ++s)
        if (!table.chatWriteSlots[static_cast<std::size_t>(s)])
            slot = s;
    if (slot < 0) {
        platform::messageBox(tooManyWindowsText());
        return nullptr;
    }
    CSendChatThread* t = thread.release();
    table.chatWriteSlots[static_cast<std::size_t>(slot)] = t;
    t->setSlotIndex(slot);
    if (!t->startAndWaitReady()) {
        table.chatWriteSlots[static_cast<std::size_t>(slot)] = nullptr;
        delete t;
        return nullptr;
    }
    auto* frame = new CSendChatFrame(t);
    t->setFrame(frame);
    frame->showNormal();
    ++table.chatWriteCount;
    return t;
}

bool validGroup(int group)
{
    return group >= 0 && group < chatGroupTable().groupCount;
}

const ChatGroup& groupAt(int group)
{
    return chatGroupTable().groups[static_cast<std::size_t>(group)];
}

} // namespace

std::string groupLabel(std::string_view groupName)
{
    return "Orvalink(" + std::string(groupName) + ")";
}

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

CSendChatThread* openWriteToGroup(int group)
{
    if (!validGroup(group))
        return nullptr;
    auto t = std::make_unique<CSendChatThread>();
    t->groupLabel = groupLabel(groupAt(group).name);
    t->setGroupIndex(group);
    return openWindow(std::move(t));
}

CSendChatThread* openWriteToPerson(int group, const std::string& memberName)
{
    if (!validGroup(group))
        return nullptr;
    auto t = std::make_unique<CSendChatThread>();
    t->groupLabel = groupLabel(groupAt(group).name);
    t->memberName = memberName;
    t->recipient = recipientFor(groupAt(group).members, memberName);
    t->personal = true;
    t->setGroupIndex(group);
    return openWindow(std::move(t));
}

CSendChatThread* openWriteToMember(int group, const std::string& memberKey)
{
    if (!validGroup(group))
        return nullptr;
    auto t = std::make_unique<CSendChatThread>();
    t->groupLabel = groupLabel(groupAt(group).name);
    t->memberName = std::string(nameOfKey(memberKey));
    if (groupAt(group).members.contains(memberKey))
        t->recipient = std::string(addressOfKey(memberKey));
    t->personal = true;
    t->setGroupIndex(group);
    return openWindow(std::move(t));
}

CSendChatThread* openMessageRow(int, const std::string& header, const std::string& body, const std::string& senderKey)
{
    const int group = chatGroupTable().currentGroup;
    if (!validGroup(group))
        return nullptr;
    auto t = std::make_unique<CSendChatThread>();
    t->groupLabel = groupLabel(groupAt(group).name);
    t->senderName = senderNameOfHeader(header);
    t->body = body;
    if (senderKey.empty())
        t->recipient = recipientFor(groupAt(group).members, t->senderName);
    else if (groupAt(group).members.contains(senderKey))
        t->recipient = std::string(addressOfKey(senderKey));
    t->personal = true;
    t->readMode = true;
    t->setGroupIndex(group);
    return openWindow(std::move(t));
}

void closeAllWindows()
{
    for (CSendChatThread* t : chatGroupTable().chatWriteSlots) {
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
