// The main of every test program: GoogleTest, plus a QApplication on the offscreen platform for
// widget tests, plus a private network namespace for tests that open sockets.
#include "support/PrivateNetwork.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

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

} // namespace

} // namespace orvalink::test

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::test;
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new TimeZoneKept);
    ::setenv("ORVALINK_BUILD_DIR", ORVALINK_BUILD_DIR_DEFAULT, 0);
    ::setenv("ORVALINK_SOURCE_DIR", ORVALINK_SOURCE_DIR_DEFAULT, 0);
#if ORVALINK_TEST_NETNS
    if (!GTEST_FLAG_GET(list_tests))
        orvalink::test::enterPrivateNetwork();
#endif
#if ORVALINK_TEST_QT
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
