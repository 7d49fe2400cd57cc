// Waits until the X display named by DISPLAY has a notification area that takes icons, for the
// desktop tests, which must not start the program before its tray is there. Exits 0 when there is
// one, 1 when none came within the milliseconds given (default 10000).
#include <QApplication>
#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <QThread>
#include <cstdlib>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int timeoutMs = argc > 1 ? std::atoi(argv[1]) : 10000;
    QElapsedTimer waited;
    waited.start();
    while (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (waited.elapsed() > timeoutMs)
            return 1;
        QThread::msleep(20);
    }
    return 0;
}
