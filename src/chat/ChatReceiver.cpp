#include "chat/ChatReceiver.h"

#include "chat/CNetMsgDlg.h"
#include "chat/ChatGroupTable.h"
#include "platform/MessageBox.h"
#include "platform/text/Cp932.h"

#include <QCoreApplication>
#include <QTimer>

namespace orvalink::chat {

namespace {

class ListenerIo : public ChatReceiver::GroupIo {
public:
    explicit ListenerIo(ChatGroupTable& table) : m_table(table) {}
    void sendPresenceReply(int group, const std::string& datagram) override
    {
        if (CNetMsgDlg* w = window(group))
            w->sendAnnouncement(datagram);
    }

private:
    CNetMsgDlg* window(int group) const { return m_table.sendTarget(group); }

    ChatGroupTable& m_table;
};

const std::string& memberLimitText()
{
    static const std::string s = platform::utf8ToCp932("の参加者が上限の ") + std::to_string(kMaxMembersPerGroup) +
                                 platform::utf8ToCp932(" 人に達しました。これより後の参加者は一覧に表示しません。");
    return s;
}

} // namespace

void ChatReceiver::GroupIo::memberLimitReached(int, std::string_view groupName)
{
    // Posted, not from inside the receive path: a modal box there would receive further datagrams
    // in its own event loop.
    platform::postMessageBox(std::string(groupName) + memberLimitText());
}

void ChatReceiver::GroupIo::schedule(int delayMs, std::function<void()> task)
{
    QTimer::singleShot(delayMs, QCoreApplication::instance(), std::move(task));
}

std::unique_ptr<ChatReceiver::GroupIo> ChatReceiver::makeListenerIo(ChatGroupTable& table)
{
    return std::make_unique<ListenerIo>(table);
}

} // namespace orvalink::chat
