#include "platform/Dispatch.h"

#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace orvalink::platform {

using namespace std::chrono_literals;

namespace {

// Records what it handled; WM_USER+1 answers wParam*2, WM_USER+2 sleeps first, WM_USER+3 takes the
// text and answers its length, WM_USER+4 destroys the window once the gate opens, WM_USER+5 waits for
// the gate and answers 9, WM_USER+6 destroys the window and then answers 5. `started` tells that a gated message has
// reached the handler.
class Recorder : public MessageTarget {
public:
    std::intptr_t windowProc(WindowMessage& msg) override
    {
        handlerThread = std::this_thread::get_id();
        ++handled;
        switch (msg.id) {
        case WM_USER + 1:
            return paramInt(msg.wParam) * 2;
        case WM_USER + 2:
            std::this_thread::sleep_for(150ms);
            return 7;
        case WM_USER + 3:
            text = takeParamText(msg.wParam);
            return static_cast<std::intptr_t>(text.size());
        case WM_USER + 4:
            started = true;
            gate.wait_for(10s);
            destroyWindow();
            return 1;
        case WM_USER + 5:
            started = true;
            gate.wait_for(10s);
            ++completed;
            return 9;
        case WM_USER + 6:
            destroyWindow();
            std::this_thread::sleep_for(50ms); // the sender meanwhile sees a closed window
            return 5;
        case WM_DESTROY:
            sawDestroy = true;
            return 0;
        default:
            return 0;
        }
    }
    std::atomic<std::thread::id> handlerThread{};
    std::atomic<int> handled{0};
    std::atomic<bool> sawDestroy{false};
    std::atomic<bool> started{false};
    std::atomic<int> completed{0};
    std::string text;
    // Opened by whoever made the target: the shared state then outlives a target that deletes
    // itself while its gate is being opened.
    std::shared_future<void> gate;
};

// Waits (at most ten seconds) until a gated message has reached the handler.
bool waitStarted(const Recorder& r)
{
    return orvalink::test::waitUntil([&r] { return r.started.load(); }, 10000, 1);
}

// A QThread whose end the test can see as ordered before what follows wait(). Qt orders them with
// its own locks, inside Qt, where ThreadSanitizer cannot see: without this the thread's own
// allocations look unordered with their release when the QThread goes.
class SeenThread : public QThread {
public:
    void end()
    {
        quit();
        wait();
        (void)m_ran.load(std::memory_order_acquire);
    }

protected:
    void run() override
    {
        exec();
        m_ran.store(true, std::memory_order_release);
    }

private:
    std::atomic<bool> m_ran{false};
};

// A running QThread with one Recorder living on it.
struct ThreadWithTarget {
    ThreadWithTarget()
    {
        target = new Recorder;
        target->gate = opener.get_future().share();
        guard = target;
        target->moveToThread(&thread);
        thread.start();
    }
    ~ThreadWithTarget()
    {
        thread.end();
        delete guard.data(); // still there unless it destroyed itself
    }
    std::promise<void> opener; // opens the target's gate
    SeenThread thread;
    Recorder* target;
    QPointer<Recorder> guard;
};

template <typename F> auto timed(F f)
{
    const auto start = std::chrono::steady_clock::now();
    auto r = f();
    return std::make_pair(r, std::chrono::steady_clock::now() - start);
}

} // namespace

TEST(Dispatch, SendOnTheTargetsThreadIsADirectCall)
{
    Recorder r;
    EXPECT_EQ(sendMessage(&r, {WM_USER + 1, std::int64_t{21}, {}}), 42);
    EXPECT_EQ(r.handled.load(), 1) << "handled before sendMessage returned, without an event loop";
    EXPECT_EQ(r.handlerThread.load(), std::this_thread::get_id());
}

TEST(Dispatch, CrossThreadSendBlocksUntilHandledAndReturnsTheResult)
{
    ThreadWithTarget t;
    const auto [result, took] = timed([&] { return sendMessage(t.target, {WM_USER + 2, {}, {}}); });
    EXPECT_EQ(result, 7);
    EXPECT_GE(took, 150ms);
    EXPECT_EQ(t.target->handled.load(), 1);
    EXPECT_NE(t.target->handlerThread.load(), std::this_thread::get_id());
}

TEST(Dispatch, TextPayloadIsMovedToTheReceiver)
{
    ThreadWithTarget t;
    const std::string text = "\x83\x4F\x83\x8B\x81\x5B\x83\x76 hello";
    EXPECT_EQ(sendMessage(t.target, {WM_USER + 3, text, {}}), static_cast<std::intptr_t>(text.size()));
    EXPECT_EQ(t.target->text, text);
}

TEST(Dispatch, PostReturnsBeforeTheMessageIsHandled)
{
    ThreadWithTarget t;
    // The handler cannot finish before the gate opens, and the gate opens only after postMessage
    // returned: a post that waited for its handler would come back after the ten-second fallback with
    // the message completed.
    EXPECT_TRUE(postMessage(t.target, {WM_USER + 5, {}, {}}));
    EXPECT_EQ(t.target->completed.load(), 0);
    t.opener.set_value();
    // A send queued behind it is answered only after the post was handled (one queue, in order).
    EXPECT_EQ(sendMessage(t.target, {WM_USER + 1, std::int64_t{1}, {}}), 2);
    EXPECT_EQ(t.target->completed.load(), 1);
    EXPECT_EQ(t.target->handled.load(), 2);
}

TEST(Dispatch, DestroyedTargetGivesZeroAtOnce)
{
    auto* r = new Recorder;
    r->destroyWindow();
    EXPECT_TRUE(r->sawDestroy.load());
    EXPECT_FALSE(isWindow(r));
    EXPECT_EQ(sendMessage(r, {WM_USER + 1, std::int64_t{5}, {}}), 0);
    EXPECT_FALSE(postMessage(r, {WM_USER + 1, {}, {}}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // now it is deleted
    EXPECT_EQ(sendMessage(r, {WM_USER + 1, std::int64_t{5}, {}}), 0);
    EXPECT_FALSE(postMessage(r, {WM_USER + 1, {}, {}}));
    EXPECT_EQ(sendMessage(nullptr, {WM_USER + 1, {}, {}}), 0);
}

TEST(Dispatch, TargetWhoseThreadEndedGivesZeroQuickly)
{
    SeenThread thread;
    auto* r = new Recorder;
    r->moveToThread(&thread);
    thread.start();
    thread.end();
    const auto [result, took] = timed([&] { return sendMessage(r, {WM_USER + 1, std::int64_t{5}, {}}); });
    EXPECT_EQ(result, 0);
    EXPECT_LT(took, 1s);
    EXPECT_EQ(r->handled.load(), 0);
    EXPECT_FALSE(postMessage(r, {WM_USER + 1, {}, {}}));
    EXPECT_FALSE(isWindow(r));
    delete r;
}

namespace {
// Opens a gate when it gets any message. It lives on a sender's thread, which handles it only while
// blocked in sendMessage: that it answered shows the sender's own message has been queued.
class GateOpener : public MessageTarget {
public:
    explicit GateOpener(std::promise<void>& gate) : m_gate(gate) {}
    std::intptr_t windowProc(WindowMessage&) override
    {
        m_gate.set_value();
        return 1;
    }

private:
    std::promise<void>& m_gate;
};
} // namespace

TEST(Dispatch, SenderQueuedBehindTheWindowsDestructionIsReleased)
{
    ThreadWithTarget t;
    // The first message destroys the window once the gate opens; the gate opens only once the
    // second send waits in the queue behind it.
    auto first = std::async(std::launch::async, [&] { return sendMessage(t.target, {WM_USER + 4, {}, {}}); });
    ASSERT_TRUE(waitStarted(*t.target));
    std::promise<GateOpener*> openerMade;
    auto second = std::async(std::launch::async, [&] {
        GateOpener opener(t.opener);
        openerMade.set_value(&opener);
        return sendMessage(t.target, {WM_USER + 1, std::int64_t{5}, {}});
    });
    EXPECT_EQ(sendMessage(openerMade.get_future().get(), {WM_USER, {}, {}}), 1);
    EXPECT_EQ(first.get(), 1);
    EXPECT_EQ(second.get(), 0) << "the queued send never reached the destroyed window";
}

TEST(Dispatch, AHandlerThatClosesItsOwnWindowStillAnswersItsSender)
{
    ThreadWithTarget t;
    EXPECT_EQ(sendMessage(t.target, {WM_USER + 6, {}, {}}), 5);
    // The window is closed (and soon deleted by its thread: only its address is used from here on).
    EXPECT_EQ(sendMessage(t.target, {WM_USER + 1, std::int64_t{1}, {}}), 0) << "closed afterwards";
}

namespace {
// Answers any message by sending WM_USER+1 (wParam 20) to another target and adding 1.
class Bouncer : public MessageTarget {
public:
    MessageTarget* peer = nullptr;
    std::intptr_t windowProc(WindowMessage&) override
    {
        return sendMessage(peer, {WM_USER + 1, std::int64_t{20}, {}}) + 1;
    }
};
} // namespace

TEST(Dispatch, ABlockedSenderAnswersMessagesSentToItsOwnThread)
{
    Recorder onThisThread;
    QThread thread;
    auto* bouncer = new Bouncer;
    bouncer->peer = &onThisThread;
    bouncer->moveToThread(&thread);
    thread.start();
    // The bouncer's thread sends back to this thread while this thread waits for the bouncer.
    EXPECT_EQ(sendMessage(bouncer, {WM_USER, {}, {}}), 41);
    EXPECT_EQ(onThisThread.handlerThread.load(), std::this_thread::get_id());
    thread.quit();
    thread.wait();
    delete bouncer;
}

TEST(Dispatch, ABlockedSenderDoesNotHandlePostedMessages)
{
    Recorder onThisThread;
    ThreadWithTarget t;
    ASSERT_TRUE(postMessage(&onThisThread, {WM_USER + 1, std::int64_t{1}, {}}));
    EXPECT_EQ(sendMessage(t.target, {WM_USER + 2, {}, {}}), 7);
    EXPECT_EQ(onThisThread.handled.load(), 0) << "posted messages wait for the event loop";
    QCoreApplication::sendPostedEvents(&onThisThread);
    EXPECT_EQ(onThisThread.handled.load(), 1);
}

} // namespace orvalink::platform
