#pragma once

// Runs the calling thread's event loop until a condition holds or a time limit passes.

#include <QCoreApplication>
#include <QThread>
#include <chrono>

namespace orvalink::test {

template <typename Pred> bool processEventsUntil(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

} // namespace orvalink::test
