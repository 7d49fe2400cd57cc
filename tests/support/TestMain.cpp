// The main of every test program: GoogleTest, plus a QApplication on the offscreen platform for
// widget tests, plus a private network namespace for tests that open sockets.
//
// A test that skips (a privilege or a package it needs is missing) has not tested anything: the
// program then names each such test with its reason and exits with kSkippedExitCode, which CTest
// reports as "Not Run (Skipped)" and scripts/test counts, so a skip is never taken for a pass.
#include "support/PrivateNetwork.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#if ORVALINK_TEST_QT
#include <QApplication>
#endif

namespace orvalink::test {

#ifdef ORVALINK_TSAN_SUPPRESSIONS
// ThreadSanitizer reads these before TSAN_OPTIONS: the suppressions for Qt's uninstrumented inside.
extern "C" const char* __tsan_default_options()
{
    return "suppressions=" ORVALINK_TSAN_SUPPRESSIONS;
}
#endif

namespace {

// Every test leaves the time zone as it found it: a test that sets TZ and does not put it back
// changes the local time of every test after it in the same program.
class TimeZoneKept : public ::testing::EmptyTestEventListener {
    static std::optional<std::string> current()
    {
        const char* tz = std::getenv("TZ");
        return tz ? std::optional<std::string>(tz) : std::nullopt;
    }
    void OnTestStart(const ::testing::TestInfo&) override { m_atStart = current(); }
    void OnTestEnd(const ::testing::TestInfo& info) override
    {
        if (current() != m_atStart)
            ADD_FAILURE() << info.test_suite_name() << "." << info.name() << " changed TZ and did not put it back";
    }
    std::optional<std::string> m_atStart;
};

class SkipsNamed : public ::testing::EmptyTestEventListener {
public:
    static constexpr int kSkippedExitCode = 77;
    const std::vector<std::string>& skipped() const { return m_skipped; }

private:
    void OnTestPartResult(const ::testing::TestPartResult& result) override
    {
        if (result.skipped())
            m_reason = result.message();
    }
    void OnTestStart(const ::testing::TestInfo&) override { m_reason.clear(); }
    void OnTestEnd(const ::testing::TestInfo& info) override
    {
        if (info.result()->Skipped())
            m_skipped.push_back(std::string(info.test_suite_name()) + "." + info.name() + ": " + m_reason);
    }
    std::string m_reason;
    std::vector<std::string> m_skipped;
};

} // namespace

} // namespace orvalink::test

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::test;
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new TimeZoneKept);
    auto* skips = new SkipsNamed; // owned by GoogleTest's listener list
    ::testing::UnitTest::GetInstance()->listeners().Append(skips);
    ::setenv("ORVALINK_BUILD_DIR", ORVALINK_BUILD_DIR_DEFAULT, 0);
    ::setenv("ORVALINK_SOURCE_DIR", ORVALINK_SOURCE_DIR_DEFAULT, 0);
#if ORVALINK_TEST_NETNS
    if (!GTEST_FLAG_GET(list_tests))
        orvalink::test::enterPrivateNetwork();
#elif ORVALINK_TEST_USERNS
    // The simulated LAN makes its namespaces itself; a user without root needs a user namespace
    // for that, made while the process has one thread only.
    if (!GTEST_FLAG_GET(list_tests))
        orvalink::test::becomeRootInUserNamespace();
#endif
#if ORVALINK_TEST_QT
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
#endif
    const int status = RUN_ALL_TESTS();
    for (const auto& line : skips->skipped())
        std::printf("NOT RUN (skipped) %s\n", line.c_str());
    if (status == 0 && !skips->skipped().empty())
        return SkipsNamed::kSkippedExitCode;
    return status;
}
