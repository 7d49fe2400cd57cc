// A burst of 2,000 group messages into the shown group, which already holds a full list of rows,
// on a private network: messages per second handled end to end (receive, row, log, list refresh,
// painting), the time of a single message in the receive handler, and the gaps of a
// 1 ms heartbeat timer on the GUI thread (how long the GUI was blocked). As a baseline the same
// run times the handler with the list view hidden. The goal is that the GUI is never blocked for
// 16 ms or more: the verdict goes by the longest gap, with the 99th percentile beside it.
//
//   ./chat_burst_bench [message bytes]      (default: short messages; e.g. 59000 for large ones)
#include "app/CMainFrame.h"
#include "app/ChatPaneState.h"
#include "bench/chat/BenchNetwork.h"
#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgThread.h"
#include "chat/ChatGroupTable.h"
#include "chat/ChatReceiver.h"
#include "chat/core/CoreTestSupport.h" // TextSink
#include "platform/Dispatch.h"
#include "platform/MessageBoxRecorder.h"
#include "platform/Messages.h"
#include "platform/Profile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace orvalink::chat {

using app::CMainFrame;
using platform::WM_CHAT_ROWS_CHANGED;
using platform::WM_CHAT_SEND_GROUP;

namespace {

constexpr int kMessages = 2000;

struct Result {
    double perSecond = 0;
    double longestHandlerMs = 0;
    double p99HandlerMs = 0;
    double longestGapMs = 0;
    double p99GapMs = 0;
};

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(static_cast<double>(v.size()) * q))];
}

std::size_t g_messageBytes = 0;

Result burst(CMainFrame& frame, ChatReceiver& receiver, bool visible)
{
    ChatGroupTable& t = frame.chatGroups();
    auto& rows = t.groups[0].rows;
    rows.clear();
    for (std::size_t i = 0; i < ChatReceiver::kMaxRowsPerGroup; ++i)
        rows.push_back({"someone  2026/12/07  09:00:00", i % 3 ? 18 : 54, "earlier row " + std::to_string(i),
                        i % 7 ? chat::RowKind::Message : chat::RowKind::PersonalMessage, i % 2 == 1,
                        ChatReceiver::nextRowSerial()});
    if (visible)
        frame.show();
    else
        frame.hide();
    // The list takes the refilled group once (a whole rebuild, as on a group switch) before the
    // burst is timed.
    platform::sendMessage(frame.messageTarget(), {WM_CHAT_ROWS_CHANGED, std::int64_t{0}, std::int64_t{0}});
    QCoreApplication::processEvents();

    std::atomic<int> handled{0};
    std::vector<double> handlerMs;
    // The receiver, timed for each text.
    TextSink timed([&](int g, std::string_view text, const std::string& a, unsigned p) {
        QElapsedTimer one;
        one.start();
        receiver.handle(g, text, a, p);
        handlerMs.push_back(one.nsecsElapsed() / 1e6);
        ++handled;
    });
    t.setReceiver(&timed);

    std::vector<double> gaps;
    QElapsedTimer beat;
    beat.start();
    QTimer heartbeat;
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        gaps.push_back(beat.nsecsElapsed() / 1e6);
        beat.restart();
    });
    heartbeat.start();

    // The messages are this instance's own: written to the group's listener, broadcast from the
    // group's port, and received back like anybody else's.
    CNetMsgDlg* listener = t.listener(0)->window();
    std::thread sender([&] {
        for (int i = 0; i < kMessages; ++i) {
            // Keep at most 50 in flight so that the socket buffer never drops any.
            while (i - handled.load() > 50)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            std::string text = "burst message " + std::to_string(i);
            if (text.size() < g_messageBytes)
                text.append(g_messageBytes - text.size(), 'x');
            platform::sendMessage(listener, {WM_CHAT_SEND_GROUP, std::move(text), {}});
        }
    });
    QElapsedTimer all;
    all.start();
    while (handled.load() < kMessages && all.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double seconds = all.nsecsElapsed() / 1e9;
    // The last refresh of the burst is part of it.
    QElapsedTimer tail;
    tail.start();
    while (tail.elapsed() < 2 * ChatReceiver::kRefreshIntervalMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    sender.join();
    heartbeat.stop();
    t.setReceiver(nullptr);
    return {handled.load() / seconds, percentile(handlerMs, 1.0), percentile(handlerMs, 0.99), percentile(gaps, 1.0),
            percentile(gaps, 0.99)};
}

} // namespace

} // namespace orvalink::chat

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::chat;
    if (argc > 1)
        g_messageBytes = static_cast<std::size_t>(std::max(0, std::atoi(argv[1])));
    if (!enterBenchNetwork())
        return 0;
    QTemporaryDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path().toUtf8().constData(), 1);
    QApplication app(argc, argv);
    platform::MessageBoxRecorder boxes;
    platform::Profile::application().writeInt("NetMsg Entry", "Log YesNo", 1);
    platform::Profile::application().writeString("NetMsg Entry", "Log Folder", dir.path().toStdString());

    ChatGroupTable t;
    // As in the program: the main window is told of new rows once per burst of datagrams.
    const auto io = ChatReceiver::makeListenerIo(t);
    ChatReceiver receiver(*io, t);
    receiver.setCoalescedRefresh(true);
    t.groupCount = 1;
    t.groups[0].port = "12121";
    t.groups[0].name = "bench";
    t.groups[0].displayName = "me";
    CMainFrame frame(t);
    frame.create();
    frame.resize(800, 600);
    frame.chatPane().setCurrentGroup(0);
    t.startListener(0);

    bool met = true;
    for (int run = 0; run < 2; ++run) {
        const Result hidden = burst(frame, receiver, false);
        const Result shown = burst(frame, receiver, true);
        std::printf("run %d, %d messages of %zu bytes or more into a group of %zu rows:\n", run + 1, kMessages,
                    g_messageBytes, ChatReceiver::kMaxRowsPerGroup);
        for (const auto& [what, r] : {std::pair{"window shown ", shown}, std::pair{"window hidden", hidden}})
            std::printf("  %s: %.0f msg/s, handler p99 %.2f ms worst %.2f ms, GUI gap p99 %.2f ms worst %.2f ms\n",
                        what, r.perSecond, r.p99HandlerMs, r.longestHandlerMs, r.p99GapMs, r.longestGapMs);
        std::printf("  ratio shown/hidden throughput %.2f\n", shown.perSecond / hidden.perSecond);
        met = met && shown.longestGapMs < 16 && hidden.longestGapMs < 16;
    }
    std::printf("goal: the GUI never blocked 16 ms or more (by the longest gap): %s\n", met ? "met" : "NOT met");
    t.stopListener(0, false);
    return 0;
}
