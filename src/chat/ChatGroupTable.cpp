#include "chat/ChatGroupTable.h"

#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgSocket_p.h"
#include "chat/CNetMsgThread.h"
#include "chat/CSendChatThread.h"
#include "chat/ProfileGroupStore.h"
#include "chat/ProfileLogEnvironment.h"
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

ChatGroupTable::ChatGroupTable() : m_sendResults(std::make_unique<SendResultTarget>(*this))
{
    setLogEnvironment(&ProfileLogEnvironment::application());
}

ChatGroupTable::~ChatGroupTable()
{
    clear();
}

void ChatGroupTable::load(platform::Profile& store)
{
    loadGroups(ProfileGroupStore(store));
}

int ChatGroupTable::registerGroup(const std::string& port, const std::string& name, const std::string& displayName,
                                  platform::Profile& store)
{
    ProfileGroupStore stored(store);
    const int g = addGroup({port, name, displayName}, stored);
    if (g >= 0)
        startListener(g);
    return g;
}

void ChatGroupTable::deleteGroup(int g, platform::Profile& store)
{
    if (g < 0 || g >= groupCount)
        return;
    stopListener(g, false);
    ProfileGroupStore stored(store);
    removeFromTable(g, stored);
}

void ChatGroupTable::removeFromTable(int g, ChatGroupStore& store)
{
    const int count = groupCount;
    removeGroup(g, store);
    for (int i = g; i < count - 1; ++i) {
        const auto to = static_cast<std::size_t>(i);
        m_listeners[to] = std::move(m_listeners[to + 1]);
        if (m_listeners[to])
            m_listeners[to]->setGroupIndex(i);
    }
    m_listeners[static_cast<std::size_t>(count - 1)].reset();

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

    notifyGroupRemoved(g);
}

CNetMsgThread* ChatGroupTable::startListener(int g)
{
    auto& slot = m_listeners[static_cast<std::size_t>(g)];
    slot = std::make_unique<CNetMsgThread>();
    if (slot->startAndWaitReady()) {
        // The window has its handler before its socket can receive anything.
        if (CNetMsgDlg* w = slot->window()) {
            w->setReceiver(m_receiver);
            w->setChatLog(chatLog(g));
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
    // The log file stays open while the group's listener runs, and closes with it.
    if (ChatLog* log = g < groupCount ? groups[static_cast<std::size_t>(g)].log.get() : nullptr)
        log->close();
}

void ChatGroupTable::setReceiver(ReceivedTextSink* receiver)
{
    m_receiver = receiver;
    for (const auto& thread : m_listeners) {
        if (CNetMsgDlg* w = thread ? thread->window() : nullptr)
            w->setReceiver(m_receiver);
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
    resetGroups();
    m_announceFailure.reset();
    m_chatWriteCount = 0;
}

} // namespace orvalink::chat
