// The main of every test program: GoogleTest, plus a QApplication on the offscreen platform for
// widget tests, plus a private network namespace for tests that open sockets.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/PrivateNetwork.h"

#if ORVALINK_TEST_QT
#include <QApplication>
#endif

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
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
