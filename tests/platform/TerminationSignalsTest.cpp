#include "platform/TerminationSignals.h"

#include "platform/EventLoopWait.h"

#include <chrono>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdexcept>

namespace orvalink::platform {

using orvalink::test::processEventsUntil;

namespace {
bool hasDefaultAction(int sig)
{
    struct sigaction sa {};
    ::sigaction(sig, nullptr, &sa);
    return sa.sa_handler == SIG_DFL;
}
} // namespace

TEST(TerminationSignals, SignalsLeadToOneShutdownRequest)
{
    struct Case {
        int first;
        int later;
    };
    for (const Case c : {Case{SIGTERM, SIGINT}, Case{SIGINT, SIGTERM}}) {
        TerminationSignals watcher;
        int requests = 0;
        QObject::connect(&watcher, &TerminationSignals::terminationRequested, [&] { ++requests; });
        ASSERT_EQ(::raise(c.first), 0);
        ASSERT_TRUE(processEventsUntil([&] { return requests > 0; }));
        EXPECT_TRUE(watcher.requested());
        // More signals while the shutdown runs: ignored, and the process is still alive.
        ::raise(c.later);
        ::raise(c.first);
        processEventsUntil([] { return false; }, std::chrono::milliseconds(200));
        EXPECT_EQ(requests, 1);
    }
    EXPECT_TRUE(hasDefaultAction(SIGTERM));
    EXPECT_TRUE(hasDefaultAction(SIGINT));
}

TEST(TerminationSignals, OnlyOneWatcherAtATime)
{
    TerminationSignals first;
    EXPECT_THROW(TerminationSignals second, std::logic_error);
    EXPECT_FALSE(hasDefaultAction(SIGTERM)) << "the failed second watcher must not undo the first";
}

} // namespace orvalink::platform
