#include "chat/ChatGroupTable.h"

#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgSocket_p.h"
#include "chat/CNetMsgThread.h"
#include "chat/CSendChatThread.h"
#include "chat/ChatGroupObserver.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/Dispatch.h"
#include "platform/Messages.h"
#include "platform/Profile.h"

#include <QThread>
#include <algorithm>

namespace orvalink::chat {

using platform::WM_CHAT_SEND_OFF;
using platform::WM_QUIT;

namespace {

constexpr const char* kNetMsg = "NetMsg Entry";

std::string storeKey(const char* name, int n)
{
    return name + std::to_string(n);
}

// A listener's send outcome, on its way to the main thread: wParam = group, lParam = error.
constexpr unsigned WM_CHAT_SEND_DONE = platform::WM_USER + 220;
constexpr unsigned WM_CHAT_ANNOUNCE_DONE = platform::WM_USER + 221;

class SendResultTarget : public platform::MessageTarget {
public:
    explicit SendResultTarget(ChatGroupTable& table) : m_table(table) {}
    std::intptr_t windowProc(platform::WindowMessage& msg) override
    {
        if (msg.id == WM_CHAT_SEND_DONE || msg.id == WM_CHAT_ANNOUNCE_DONE)
            m_table.sendResult(static_cast<int>(platform::paramInt(msg.wParam)), msg.id == WM_CHAT_ANNOUNCE_DONE,
                               static_cast<int>(platform::paramInt(msg.lParam)));
        return 0;
    }

private:
    ChatGroupTable& m_table;
};

} // namespace

std::string chatGroupLabel(std::string_view groupName)
{
    return "Orvalink(" + std::string(groupName) + ")";
}

ChatGroupTable::ChatGroupTable() : m_sendResults(std::make_unique<SendResultTarget>(*this)) {}

ChatGroupTable::~ChatGroupTable()
{
    clear();
}

int ChatGroupTable::groupByPort(unsigned port) const
{
    // A group listens on the port its text reads as ("12122abc" on 12122), so it is found by that
    // number: comparing texts would leave such a group deaf to everything it receives.
    for (int g = 0; g < groupCount; ++g) {
        const int number = chat::portNumber(groups[static_cast<std::size_t>(g)].port);
        if (number != 0 && static_cast<unsigned>(number) == port)
            return g;
    }
    return -1;
}

std::size_t rowBytes(const ChatRow& row)
{
    // The fixed share stands for the row's own bookkeeping (five texts, the deque slot, the
    // shared text blocks), so that a flood of empty rows is bounded as well.
    constexpr std::size_t kRowOverhead = 256;
    return row.header.size() + row.height.size() + row.body.size() + row.personal.size() + row.unread.size() +
           kRowOverhead;
}

bool MemberList::add(const std::string& key)
{
    if (!m_index.insert(key).second)
        return false;
    m_keys.push_back(key);
    return true;
}

bool MemberList::remove(const std::string& key)
{
    if (m_index.erase(key) == 0)
        return false;
    m_keys.erase(std::find(m_keys.begin(), m_keys.end(), key));
    return true;
}

void MemberList::assign(std::vector<std::string> keys)
{
    m_keys.clear();
    m_index.clear();
    for (auto& k : keys)
        add(k);
}

void ChatGroupTable::appendRow(int g, ChatRow row)
{
    ChatGroup& group = groups[static_cast<std::size_t>(g)];
    const std::size_t cost = rowBytes(row);
    auto dropOldest = [](ChatGroup& from) {
        const std::size_t gone = rowBytes(from.rows.front());
        from.rowBytes -= std::min(from.rowBytes, gone);
        from.rows.pop_front();
    };
    while (!group.rows.empty() &&
           (group.rows.size() >= kMaxRowsPerGroup || group.rowBytes + cost > kMaxRowBytesPerGroup))
        dropOldest(group);
    // All groups together: the oldest row of any group leaves first (rows are numbered in order
    // of arrival across groups).
    for (;;) {
        std::size_t total = cost;
        ChatGroup* oldest = nullptr;
        for (int i = 0; i < groupCount; ++i) {
            ChatGroup& other = groups[static_cast<std::size_t>(i)];
            total += other.rowBytes;
            if (!other.rows.empty() && (!oldest || other.rows.front().serial < oldest->rows.front().serial))
                oldest = &other;
        }
        if (total <= kMaxRowBytesTotal || !oldest)
            break;
        dropOldest(*oldest);
    }
    row.serial = nextRowSerial();
    group.rowBytes += cost;
    group.rows.push_back(std::move(row));
}

std::uint64_t ChatGroupTable::nextRowSerial()
{
    static std::uint64_t last = 0; // rows are appended on the main thread only
    return ++last;
}

bool ChatGroupTable::addMember(int g, const std::string& key)
{
    if (!groups[static_cast<std::size_t>(g)].members.add(key))
        return false;
    for (ChatGroupObserver* o : std::vector(m_observers))
        o->memberAdded(g, key);
    return true;
}

bool ChatGroupTable::removeMember(int g, const std::string& key)
{
    if (!groups[static_cast<std::size_t>(g)].members.remove(key))
        return false;
    for (ChatGroupObserver* o : std::vector(m_observers))
        o->memberRemoved(g, key);
    return true;
}

void ChatGroupTable::load(const platform::Profile& store)
{
    const int count = std::clamp(store.getInt(kNetMsg, "User PortCnt", 0), 0, kMaxChatGroups);
    groupCount = count;
    for (int g = 0; g < count; ++g) {
        ChatGroup& group = groups[static_cast<std::size_t>(g)];
        group.port = store.getString(kNetMsg, storeKey("User Port", g + 1));
        group.name = store.getString(kNetMsg, storeKey("User PortName", g + 1));
        group.displayName = store.getString(kNetMsg, storeKey("User Name", g + 1));
    }
}

int ChatGroupTable::registerGroup(const std::string& port, const std::string& name, const std::string& displayName,
                                  platform::Profile& store)
{
    if (groupCount >= kMaxChatGroups)
        return -1;
    const int c = groupCount + 1;
    store.writeInt(kNetMsg, "User PortCnt", c);
    store.writeString(kNetMsg, storeKey("User Port", c), port);
    store.writeString(kNetMsg, storeKey("User PortName", c), name);
    store.writeString(kNetMsg, storeKey("User Name", c), displayName);

    const int g = c - 1;
    ChatGroup& group = groups[static_cast<std::size_t>(g)];
    group = ChatGroup{};
    // The table holds the port text as typed, like the store; it listens on and is found by the
    // number the text reads as ("12122abc" on 12122).
    group.port = port;
    group.name = name;
    group.displayName = displayName;
    groupCount = c;

    for (ChatGroupObserver* o : std::vector(m_observers))
        o->groupAdded(g);
    startListener(g);
    return g;
}

void ChatGroupTable::deleteGroup(int g, platform::Profile& store)
{
    if (g < 0 || g >= groupCount)
        return;
    stopListener(g, false);

    const int count = groupCount;
    store.writeInt(kNetMsg, "User PortCnt", count - 1);
    for (int i = g; i < count - 1; ++i) {
        for (const char* name : {"User Port", "User PortName", "User Name"})
            store.writeString(kNetMsg, storeKey(name, i + 1), store.getString(kNetMsg, storeKey(name, i + 2)));
    }
    removeFromTable(g);
}

void ChatGroupTable::removeFromTable(int g)
{
    const int count = groupCount;
    for (int i = g; i < count - 1; ++i) {
        const auto to = static_cast<std::size_t>(i);
        groups[to] = std::move(groups[to + 1]);
        m_listeners[to] = std::move(m_listeners[to + 1]);
        if (m_listeners[to])
            m_listeners[to]->setGroupIndex(i);
    }
    groups[static_cast<std::size_t>(count - 1)] = ChatGroup{};
    m_listeners[static_cast<std::size_t>(count - 1)].reset();
    groupCount = count - 1;

    // A window of the deleted group now has none (its send is refused); a window of a later group
    // follows its group.
    for (const auto& t : m_writeSlots) {
        if (!t)
            continue;
        const int w = t->groupIndex();
        if (w == g)
            t->setGroupIndex(-1);
        else if (w > g)
            t->setGroupIndex(w - 1);
    }

    if (currentGroup > g || (currentGroup == g && g == groupCount && g > 0))
        --currentGroup;

    for (ChatGroupObserver* o : std::vector(m_observers))
        o->groupRemoved(g);
    // The right pane shows the current group's rows; they may belong to another group now.
    notifyRowsChanged(currentGroup);
}

CNetMsgThread* ChatGroupTable::startListener(int g)
{
    auto& slot = m_listeners[static_cast<std::size_t>(g)];
    slot = std::make_unique<CNetMsgThread>();
    if (slot->startAndWaitReady()) {
        // The window has its handler before its socket can receive anything.
        if (CNetMsgDlg* w = slot->window()) {
            w->setReceiveHandler(m_receiveHandler);
            w->setSendReport(
                [this](int group, bool announcement, int error) { reportSend(group, announcement, error); });
        }
        slot->startListening(g, groups[static_cast<std::size_t>(g)]);
    }
    return slot.get();
}

void ChatGroupTable::stopListener(int g, bool sendLeave)
{
    auto& slot = m_listeners[static_cast<std::size_t>(g)];
    CNetMsgThread* thread = slot.get();
    if (!thread)
        return;
    if (CNetMsgDlg* w = thread->window()) {
        if (sendLeave)
            platform::sendMessage(w, {WM_CHAT_SEND_OFF, {}, {}});
        // Nothing received from here on is handed to the window, which is about to go.
        if (CNetMsgSocket* s = thread->socket())
            s->setOwner(nullptr);
        platform::sendMessage(w, {WM_QUIT, {}, {}});
    }
    // The listener thread ends first: chat write windows may still be asking it to send.
    thread->quitAndWait();
    thread->closeSocket();
    slot.reset();
}

void ChatGroupTable::setReceiveHandler(ReceiveHandler handler)
{
    m_receiveHandler = std::move(handler);
    for (const auto& thread : m_listeners) {
        if (CNetMsgDlg* w = thread ? thread->window() : nullptr)
            w->setReceiveHandler(m_receiveHandler);
    }
}

CNetMsgThread* ChatGroupTable::listener(int g) const
{
    if (g < 0 || g >= kMaxChatGroups)
        return nullptr;
    return m_listeners[static_cast<std::size_t>(g)].get();
}

CNetMsgDlg* ChatGroupTable::sendTarget(int g) const
{
    CNetMsgThread* thread = g < groupCount ? listener(g) : nullptr;
    return thread ? thread->window() : nullptr;
}

CSendChatThread* ChatGroupTable::openWriteWindow(std::unique_ptr<CSendChatThread> thread,
                                                 const std::function<void(CSendChatThread&)>& showWindow)
{
    const auto free = std::find(m_writeSlots.begin(), m_writeSlots.end(), nullptr);
    if (free == m_writeSlots.end() || !thread)
        return nullptr;
    CSendChatThread* t = thread.get();
    *free = std::move(thread);
    t->setSlotIndex(static_cast<int>(free - m_writeSlots.begin()));
    t->setTable(this);
    if (!t->startAndWaitReady()) {
        free->reset();
        return nullptr;
    }
    if (showWindow)
        showWindow(*t);
    ++m_chatWriteCount;
    return t;
}

void ChatGroupTable::closeWriteWindow(CSendChatThread& thread)
{
    --m_chatWriteCount;
    // The thread lives exactly as long as the window; a send still under way finishes first.
    thread.quitAndWait();
    const int slot = thread.slotIndex();
    if (slot >= 0 && slot < kMaxChatWriteWindows && m_writeSlots[static_cast<std::size_t>(slot)].get() == &thread)
        m_writeSlots[static_cast<std::size_t>(slot)].reset();
}

bool ChatGroupTable::hasFreeWriteSlot() const
{
    return std::find(m_writeSlots.begin(), m_writeSlots.end(), nullptr) != m_writeSlots.end();
}

std::array<CSendChatThread*, kMaxChatWriteWindows> ChatGroupTable::chatWriteSlots() const
{
    std::array<CSendChatThread*, kMaxChatWriteWindows> view{};
    for (std::size_t i = 0; i < view.size(); ++i)
        view[i] = m_writeSlots[i].get();
    return view;
}

void ChatGroupTable::addObserver(ChatGroupObserver& observer)
{
    if (!isObserver(observer))
        m_observers.push_back(&observer);
}

void ChatGroupTable::removeObserver(ChatGroupObserver& observer)
{
    std::erase(m_observers, &observer);
}

bool ChatGroupTable::isObserver(const ChatGroupObserver& observer) const
{
    return std::find(m_observers.begin(), m_observers.end(), &observer) != m_observers.end();
}

void ChatGroupTable::notifyRowsChanged(int g)
{
    for (ChatGroupObserver* o : std::vector(m_observers))
        o->groupRowsChanged(g);
}

void ChatGroupTable::notifyMembersChanged(int g)
{
    for (ChatGroupObserver* o : std::vector(m_observers))
        o->groupMembersChanged(g);
}

void ChatGroupTable::reportSend(int g, bool announcement, int wsaError)
{
    platform::WindowMessage msg{announcement ? WM_CHAT_ANNOUNCE_DONE : WM_CHAT_SEND_DONE, std::int64_t{g},
                                std::int64_t{wsaError}};
    // A listener thread only posts: the main thread may be waiting for that very listener.
    if (QThread::currentThread() == m_sendResults->thread())
        platform::sendMessage(m_sendResults.get(), std::move(msg));
    else
        platform::postMessage(m_sendResults.get(), std::move(msg));
}

void ChatGroupTable::sendResult(int g, bool announcement, int wsaError)
{
    if (wsaError == 0) {
        if (!m_announceFailure)
            return;
        m_announceFailure.reset();
    } else {
        if (!announcement || m_announceFailure)
            return;
        const std::string name = g >= 0 && g < groupCount ? groups[static_cast<std::size_t>(g)].name : std::string();
        m_announceFailure = AnnounceFailure{name, wsaError};
    }
    notifyAnnounceFailureChanged();
}

void ChatGroupTable::notifyAnnounceFailureChanged()
{
    for (ChatGroupObserver* o : std::vector(m_observers))
        o->announceFailureChanged();
}

void ChatGroupTable::clear()
{
    for (int g = 0; g < kMaxChatGroups; ++g)
        stopListener(g, false);
    for (auto& t : m_writeSlots) {
        if (t) {
            t->quitAndWait();
            t.reset();
        }
    }
    for (auto& g : groups)
        g = ChatGroup{};
    groupCount = 0;
    m_announceFailure.reset();
    m_chatWriteCount = 0;
    treeReady = 0;
    currentGroup = 0;
    m_observers.clear();
}

} // namespace orvalink::chat
