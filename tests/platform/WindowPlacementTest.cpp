#include "platform/WindowPlacement.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace orvalink::platform {

namespace {

TEST(WindowPlacement, RectanglesOffEveryScreenAreMovedOntoOne)
{
    // Two screens side by side, the left one with a panel along its bottom.
    const QList<QRect> areas{QRect(0, 0, 1280, 990), QRect(1280, 0, 1920, 1080)};
    struct Case {
        const char* what;
        QRect frame, placed;
    };
    const Case cases[] = {
        {"wholly on the first screen", QRect(1, 1, 299, 299), QRect(1, 1, 299, 299)},
        {"wholly on the second screen", QRect(2000, 100, 400, 300), QRect(2000, 100, 400, 300)},
        {"title bar above the screen", QRect(-4, -23, 309, 328), QRect(0, 0, 309, 328)},
        {"under the panel", QRect(100, 900, 400, 300), QRect(100, 690, 400, 300)},
        {"across both: onto the one it covers most", QRect(1200, 100, 400, 300), QRect(1280, 100, 400, 300)},
        {"a screen since removed: onto the first", QRect(3500, 2000, 500, 400), QRect(780, 590, 500, 400)},
        {"far to the left, on no screen at all", QRect(-5000, 50, 200, 100), QRect(0, 50, 200, 100)},
        {"larger than any screen: cut to the one it covers most", QRect(-10, -10, 3000, 2000),
         QRect(1280, 0, 1920, 1080)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::onAvailableArea(c.frame, areas), c.placed) << c.what;
    EXPECT_EQ(platform::onAvailableArea(QRect(5, 5, 10, 10), {}), QRect(5, 5, 10, 10)) << "no screens known";
}

TEST(WindowPlacement, AWindowGetsTheFrameOnTheScreen)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QMainWindow window;
    platform::placeFrame(window, QRect(screen.right() + 500, screen.bottom() + 500, 200, 150));
    window.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.frameGeometry().size() == QSize(200, 150); }, 5000))
        << window.frameGeometry().width() << "x" << window.frameGeometry().height();
    EXPECT_TRUE(screen.contains(window.frameGeometry()));
}

} // namespace

} // namespace orvalink::platform
