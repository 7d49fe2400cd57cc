// A burst of 2,000 group messages into the shown group, which already holds a full list of rows,
// on a private network: messages per second handled end to end (receive, row, log, row-table copy,
// list reload, painting), the longest single message in the receive handler, and the longest gap
// of a 1 ms heartbeat timer on the GUI thread (how long the GUI was blocked at most). As a
// baseline the same run times the handler with the list view hidden.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/CMainFrame.h"
#include "chat/ChatGroupTable.h"
#include "chat/ChatReceiver.h"
#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgThread.h"
#include "platform/Dispatch.h"
#include "platform/MessageBoxRecorder.h"
#include "platform/Messages.h"
#include "platform/Profile.h"
#include "bench/chat/BenchNetwork.h"

namespace {

constexpr int kMessages = 2000;

struct Result {
    double perSecond = 0;
    double longestHandlerMs = 0;
    double longestGapMs = 0;
};

Result burst(CMainFrame& frame, bool visible)
{
    ChatGroupTable& t = chatGroupTable();
    auto& rows = t.groups[0].rows;
    rows.clear();
    for (std::size_t i = 0; i < ChatReceiver::kMaxRowsPerGroup; ++i)
        rows.push_back({"someone  2026/12/07  09:00:00", i % 3 ? "18" : "54", "earlier row " + std::to_string(i),
                        i % 7 ? "" : "1", i % 2 ? "1" : "0", ChatReceiver::nextRowSerial()});
    if (visible)
        frame.show();
    else
        frame.hide();

    static ChatReceiver receiver(ChatReceiver::listenerIo());
    std::atomic<int> handled{0};
    double longest = 0;
    CNetMsgDlg::setReceiveHandler([&](CNetMsgDlg&, std::string_view text, const std::string& a, unsigned p) {
        QElapsedTimer one;
        one.start();
        receiver.handle(text, a, p);
        longest = std::max(longest, one.nsecsElapsed() / 1e6);
        ++handled;
    });

    double longestGap = 0;
    QElapsedTimer beat;
    beat.start();
    QTimer heartbeat;
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, beat.nsecsElapsed() / 1e6);
        beat.restart();
    });
    heartbeat.start();

    // The messages are this instance's own: written to the group's listener, broadcast from the
    // group's port, and received back like anybody else's.
    CNetMsgDlg* listener = t.groups[0].listener->window();
    std::thread sender([&] {
        for (int i = 0; i < kMessages; ++i) {
            // Keep at most 50 in flight so that the socket buffer never drops any.
            while (i - handled.load() > 50)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            platform::sendMessage(listener, {WM_CHAT_SEND_GROUP, "burst message " + std::to_string(i), {}});
        }
    });
    QElapsedTimer all;
    all.start();
    while (handled.load() < kMessages && all.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double seconds = all.nsecsElapsed() / 1e9;
    sender.join();
    heartbeat.stop();
    CNetMsgDlg::setReceiveHandler({});
    return {handled.load() / seconds, longest, longestGap};
}

} // namespace

int main(int argc, char** argv)
{
    if (!enterBenchNetwork())
        return 0;
    QTemporaryDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path().toUtf8().constData(), 1);
    QApplication app(argc, argv);
    platform::MessageBoxRecorder boxes;
    platform::Profile::application().writeInt("NetMsg Entry", "Log YesNo", 1);
    platform::Profile::application().writeString("NetMsg Entry", "Log Folder", dir.path().toStdString());

    ChatGroupTable& t = chatGroupTable();
    t.groupCount = 1;
    t.groups[0].port = "12121";
    t.groups[0].name = "bench";
    t.groups[0].displayName = "me";
    CMainFrame frame(nullptr);
    frame.create();
    frame.resize(800, 600);
    t.currentGroup = 0;
    startGroupListener(0);

    for (int run = 0; run < 2; ++run) {
        const Result hidden = burst(frame, false);
        const Result shown = burst(frame, true);
        std::printf("run %d, %d messages into a group of %zu rows:\n", run + 1, kMessages, ChatReceiver::kMaxRowsPerGroup);
        std::printf("  window shown : %.0f msg/s, longest handler %.2f ms, longest GUI gap %.2f ms\n", shown.perSecond,
                    shown.longestHandlerMs, shown.longestGapMs);
        std::printf("  window hidden: %.0f msg/s, longest handler %.2f ms, longest GUI gap %.2f ms\n", hidden.perSecond,
                    hidden.longestHandlerMs, hidden.longestGapMs);
        std::printf("  ratio shown/hidden throughput %.2f\n", shown.perSecond / hidden.perSecond);
    }
    stopGroupListener(0, false);
    return 0;
}
