#include "platform/UiThread.h"

#include "platform/Dispatch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orvalink::platform {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A main window that destroys itself on WM_CLOSE and answers WM_USER with 99. It does nothing with
// WM_QUIT itself: ending the loop is the thread's business.
class Window : public MessageTarget {
public:
    std::intptr_t windowProc(WindowMessage& msg) override
    {
        if (msg.id == WM_CLOSE) {
            destroyWindow();
            return 0;
        }
        return msg.id == WM_USER ? 99 : 0;
    }
};

class TestThread : public UiThread {
public:
    explicit TestThread(bool succeed = true, std::chrono::milliseconds initDelay = 0ms)
        : m_succeed(succeed), m_initDelay(initDelay)
    {
    }
    ~TestThread() override { quitAndWait(); }

    Clock::time_point initStarted, initEnded;
    std::atomic<int> exitInstanceCalls{0};

protected:
    bool initInstance() override
    {
        initStarted = Clock::now();
        std::this_thread::sleep_for(m_initDelay);
        if (m_succeed)
            setMainWindow(new Window);
        initEnded = Clock::now();
        return m_succeed;
    }
    int exitInstance() override
    {
        ++exitInstanceCalls;
        return 5;
    }

private:
    bool m_succeed;
    std::chrono::milliseconds m_initDelay;
};

} // namespace

TEST(UiThread, StartsReadyAndAnswersMessagesOnItsOwnThread)
{
    TestThread t;
    ASSERT_TRUE(t.startAndWaitReady());
    EXPECT_TRUE(t.ready());
    ASSERT_NE(t.mainWindow(), nullptr);
    EXPECT_EQ(t.mainWindow()->thread(), &t);
    EXPECT_EQ(sendMessage(t.mainWindow(), {WM_USER, {}, {}}), 99);
}

TEST(UiThread, QuitAndWaitEndsTheThread)
{
    TestThread t;
    ASSERT_TRUE(t.startAndWaitReady());
    MessageTarget* w = t.mainWindow();
    t.quitAndWait();
    EXPECT_TRUE(t.isFinished());
    EXPECT_EQ(t.exitInstanceCalls.load(), 1);
    EXPECT_EQ(t.exitCode(), 5);
    EXPECT_FALSE(isWindow(w)) << "the thread's window goes with it";
    EXPECT_EQ(sendMessage(w, {WM_USER, {}, {}}), 0);
}

TEST(UiThread, DestroyingTheMainWindowEndsTheThread)
{
    TestThread t;
    ASSERT_TRUE(t.startAndWaitReady());
    EXPECT_EQ(sendMessage(t.mainWindow(), {WM_CLOSE, {}, {}}), 0);
    EXPECT_TRUE(t.wait(5000));
    EXPECT_EQ(t.exitInstanceCalls.load(), 1);
}

TEST(UiThread, FailingInitInstanceReportsFailure)
{
    TestThread t(false);
    EXPECT_FALSE(t.startAndWaitReady());
    EXPECT_FALSE(t.ready());
    EXPECT_TRUE(t.wait(5000));
    EXPECT_EQ(t.exitInstanceCalls.load(), 1);
}

TEST(UiThread, StartsAreStrictlyOneAfterAnother)
{
    constexpr int kThreads = 3;
    std::vector<std::unique_ptr<TestThread>> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.push_back(std::make_unique<TestThread>(true, 120ms));
    std::vector<std::thread> starters;
    for (auto& t : threads)
        starters.emplace_back([&t] { EXPECT_TRUE(t->startAndWaitReady()); });
    for (auto& s : starters)
        s.join();
    std::vector<std::pair<Clock::time_point, Clock::time_point>> spans;
    for (auto& t : threads)
        spans.emplace_back(t->initStarted, t->initEnded);
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i)
        EXPECT_GE(spans[i].first, spans[i - 1].second) << "a thread started before the previous one was ready";
}

TEST(UiThread, DestructorOfARunningThreadStopsIt)
{
    MessageTarget* w = nullptr;
    {
        TestThread t;
        ASSERT_TRUE(t.startAndWaitReady());
        w = t.mainWindow();
    }
    EXPECT_FALSE(isWindow(w));
}

} // namespace orvalink::platform
