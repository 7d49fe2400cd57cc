// The right pane with a full group (7,878 rows of mixed heights): the cost of one arriving
// message end to end (reload, scroll to the last row, paint) and of a full
// repaint after scrolling, each against an empty reload measured in the same run; then the same
// arrival with messages of 59,000 bytes. The goal is that no single step blocks the GUI thread
// for 16 ms or more: verdicts go by the worst case, with the 99th percentile beside it.
//
//   QT_QPA_PLATFORM=offscreen ./controls_report_pane_bench [repetitions]

#include "app/CChatListView.h"
#include "app/ChatRowSource.h"
#include "chat/ChatGroupTable.h"
#include "controls/CReportCtrl.h"

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace orvalink::controls {

using app::CChatListView;
using app::ChatRowSource;
using app::kPaneRowCapacity;
using chat::ChatGroupTable;
using chat::ChatRow;

namespace {

struct Stats {
    double median;
    double p99;
    double worst;
};

// Times repetitions steps after one untimed step: a first arrival after another kind of step
// rebuilds the whole list once, which a running program does once per group switch, not per message.
Stats measure(int repetitions, const std::function<void(int)>& step)
{
    step(-1);
    std::vector<double> ms;
    for (int i = 0; i < repetitions; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        step(i);
        const auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    const std::size_t p99 = std::min(ms.size() - 1, static_cast<std::size_t>(static_cast<double>(ms.size()) * 0.99));
    return {ms[ms.size() / 2], ms[p99], ms.back()};
}

ChatRow makeRow(int i, std::size_t bodyBytes = 0)
{
    static const int heights[] = {30, 45, 60, 90, 15};
    ChatRow row;
    row.header = "member" + std::to_string(i % 37) + "  2026/12/07  10:00:" + std::to_string(i % 60);
    row.height = heights[i % 5];
    std::string body =
        "message number " + std::to_string(i) + "\tsome text that wraps across the preview area of the row";
    while (body.size() < bodyBytes)
        body += " and more words of a long message";
    row.body = body;
    row.kind = i % 7 == 0 ? chat::RowKind::PersonalMessage : chat::RowKind::Message;
    row.unread = i % 3 != 0;
    row.serial = ChatGroupTable::nextRowSerial(); // numbered as received rows are
    return row;
}

} // namespace

} // namespace orvalink::controls

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::controls;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    // The pane writes its column layout to the settings store when it goes: keep that away from
    // the user's own settings.
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    const int repetitions = argc > 1 ? std::max(3, std::atoi(argv[1])) : 40;

    ChatGroupTable chatTable;
    auto source = std::make_unique<ChatRowSource>(chatTable);
    ChatRowSource* rowSource = source.get();
    CChatListView view(nullptr, nullptr, std::move(source));
    view.resize(800, 600);
    view.show();
    QApplication::processEvents();
    CReportCtrl* ctrl = view.reportCtrl();

    auto& rows = chatTable.groups[0].rows;
    for (int i = 0; i < kPaneRowCapacity - 1; ++i)
        rows.push_back(makeRow(i));

    const Stats empty = measure(repetitions, [&](int) {
        rowSource->setGroup(-1);
        view.reloadRows();
        ctrl->repaint();
    });
    rowSource->setGroup(0);

    int next = kPaneRowCapacity - 1;
    const Stats arrival = measure(repetitions, [&](int) {
        rows.push_back(makeRow(next++));
        view.reloadRows();
        view.ensureRowVisible(ctrl->itemCount() - 1);
        ctrl->repaint();
    });
    // The same steps one by one, to see where an arrival's time goes.
    const Stats reload = measure(repetitions, [&](int) {
        view.reloadRows();
        view.ensureRowVisible(ctrl->itemCount() - 1);
    });
    const Stats paint = measure(repetitions, [&](int) { ctrl->repaint(); });

    std::mt19937 random(7);
    const Stats scroll = measure(repetitions * 5, [&](int) {
        ctrl->scrollToPosition(static_cast<int>(random() % static_cast<unsigned>(ctrl->bottomPosition() + 1)));
        ctrl->repaint();
    });

    // Arrivals of 59,000-byte messages into the same full list.
    const Stats large = measure(repetitions, [&](int) {
        rows.push_back(makeRow(next++, 59000));
        rows.pop_front();
        view.reloadRows();
        view.ensureRowVisible(ctrl->itemCount() - 1);
        ctrl->repaint();
    });

    // Arrivals into a list the user sorted (descending by the header): the list is sorted again
    // on every refresh.
    ctrl->sortItems(0, false);
    const Stats sorted = measure(repetitions, [&](int) {
        rows.push_back(makeRow(next++));
        rows.pop_front();
        view.reloadRows();
        view.ensureRowVisible(ctrl->itemCount() - 1);
        ctrl->repaint();
    });

    auto line = [&](const char* what, const Stats& st) {
        std::printf("%-36s median %8.3f ms   p99 %8.3f ms   worst %8.3f ms   ratio %6.1f\n", what, st.median, st.p99,
                    st.worst, st.median / empty.median);
    };
    std::printf("rows in the list: %d (group holds %zu)\n", ctrl->itemCount(), rows.size());
    std::printf("%-36s median %8.3f ms   p99 %8.3f ms   worst %8.3f ms\n", "empty reload + paint (baseline)",
                empty.median, empty.p99, empty.worst);
    line("arriving message end to end", arrival);
    std::printf("%-36s median %8.3f ms\n", "  of which reload + scroll to last", reload.median);
    std::printf("%-36s median %8.3f ms\n", "  of which paint", paint.median);
    line("full repaint after scrolling", scroll);
    line("arriving 59,000-byte message", large);
    line("arriving message, sorted list", sorted);
    auto verdict = [](const Stats& st) { return st.worst < 16 ? "met" : "NOT met"; };
    std::printf("goal: no single step 16 ms or more (by the worst case): arrival %s, repaint %s, large arrival %s, "
                "sorted arrival %s\n",
                verdict(arrival), verdict(scroll), verdict(large), verdict(sorted));
    return 0;
}
