// The mail list on a folder of 100,000 messages written by the store's own append: selecting the
// folder until its first rows are painted, and scrolling with a repaint per frame, each against
// reading the folder's index alone (the store's full reader) in the same run. Verdicts go by the
// worst case: the first rows within 300 ms, every frame within 16 ms, the list's memory under
// 100 MB.
//
//   QT_QPA_PLATFORM=offscreen ./mail_list_bench [messages] [frames]

#include "app/CMailListView.h"
#include "controls/CReportCtrl.h"
#include "store/MailStore.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <random>
#include <string>
#include <vector>

namespace orvalink::app {

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Heap memory in use, in MB (resident size would hide what the index read before it freed).
double heapInUseMb()
{
    return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

std::string messageText(int i)
{
    // Every fourth subject is an encoded word the filing left as it was.
    const std::string subject =
        i % 4 == 0 ? "=?UTF-8?B?44GT44KT44Gr44Gh44Gv?= " + std::to_string(i) : "Subject number " + std::to_string(i);
    return "Received: from relay by mx; Tue, " + std::to_string(1 + i % 28) +
           " Dec 2026 10:" + std::to_string(10 + i % 50) + ":00 +0900\r\nFrom: sender" + std::to_string(i % 977) +
           "@example.com\r\nTo: me@example.com\r\nSubject: " + subject + "\r\nDate: Tue, " +
           std::to_string(1 + i % 28) + " Dec 2026 10:00:00 +0900\r\n\r\nbody " + std::to_string(i) + "\r\n";
}

} // namespace

int run(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int messages = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int frames = argc > 2 ? std::atoi(argv[2]) : 300;
    // ORVALINK_BENCH_KEEP keeps the folder for the next run, which then reuses it when it holds as
    // many messages.
    const bool keep = std::getenv("ORVALINK_BENCH_KEEP") != nullptr;
    const std::string dir = (std::filesystem::temp_directory_path() / "orvalink-mail-list-bench").string();
    const std::string folder = *store::folderFsPath(dir, store::kReceivedFolder);
    const auto existing = store::readFolderIndex(folder);
    const bool reuse = keep && existing && static_cast<int>(existing->entries.size()) == messages;
    if (!reuse) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    const std::string messageFile = dir + "/message.qel";
    std::printf("writing %d messages through the store's append...\n", reuse ? 0 : messages);
    const auto w0 = Clock::now();
    for (int i = 0; i < (reuse ? 0 : messages); ++i) {
        std::ofstream(messageFile, std::ios::binary | std::ios::trunc) << messageText(i);
        if (store::AppendReceivedMessage(dir, store::kReceivedFolder, messageFile) != store::StoreResult::Stored) {
            std::fprintf(stderr, "append %d failed\n", i);
            return 1;
        }
    }
    std::printf("written in %.1f s\n", msSince(w0) / 1000.0);

    // Baseline: the store reading the whole index (every record's texts) alone.
    std::vector<double> baselines;
    for (int r = 0; r < 3; ++r) {
        const auto t0 = Clock::now();
        const auto listing = store::readFolderIndex(folder);
        baselines.push_back(msSince(t0));
        if (!listing || static_cast<int>(listing->entries.size()) != messages) {
            std::fprintf(stderr, "index holds %zu records\n", listing ? listing->entries.size() : 0);
            return 1;
        }
    }
    const double baseline = *std::min_element(baselines.begin(), baselines.end());

    const double before = heapInUseMb();
    CMailListView view;
    view.resize(900, 700);
    view.show();
    QApplication::processEvents();
    controls::CReportCtrl* ctrl = view.reportCtrl();

    // Selecting the folder: the list filled from the index and its first rows painted.
    std::vector<double> selects;
    for (int r = 0; r < 3; ++r) {
        const auto t0 = Clock::now();
        view.showFolder(std::string(store::kReceivedFolder), folder);
        ctrl->repaint();
        selects.push_back(msSince(t0));
    }
    const double listMb = heapInUseMb() - before;
    if (ctrl->itemCount() != messages) {
        std::fprintf(stderr, "the list shows %d rows\n", ctrl->itemCount());
        return 1;
    }

    // Scrolling: a page, a jump anywhere, a row; each frame repainted at once.
    std::mt19937 random(7);
    std::vector<double> frameMs;
    const int page = std::max(1, ctrl->rowsThatFit(0, false, false));
    for (int f = 0; f < frames; ++f) {
        int to = ctrl->firstVisible();
        switch (f % 3) {
        case 0:
            to += page;
            break;
        case 1:
            to = static_cast<int>(random() % static_cast<unsigned>(messages));
            break;
        default:
            to += 1;
            break;
        }
        const auto t0 = Clock::now();
        ctrl->scrollToPosition(to);
        ctrl->repaint();
        frameMs.push_back(msSince(t0));
    }
    // Sorting by the subject and the sender (decoded texts), each a header click; the keys are let go
    // after the sort, so the list's memory afterwards is what it was.
    double worstSort = 0;
    double sortedMb = 0;
    for (const int column : {MailRowSource::kSubject, MailRowSource::kSender, MailRowSource::kSubject}) {
        const auto t0 = Clock::now();
        view.sortBy(column, true);
        ctrl->repaint();
        worstSort = std::max(worstSort, msSince(t0));
        sortedMb = std::max(sortedMb, heapInUseMb() - before);
    }
    std::sort(frameMs.begin(), frameMs.end());
    const double worstFrame = frameMs.back();
    const double p99 = frameMs[std::min(frameMs.size() - 1, frameMs.size() * 99 / 100)];
    const double worstSelect = *std::max_element(selects.begin(), selects.end());

    std::printf("reading the index alone (store reader, best of 3): %.1f ms\n", baseline);
    std::printf("selecting the folder until its first rows are painted: worst %.1f ms (ratio %.2f to the index "
                "read) -> %s (300 ms)\n",
                worstSelect, worstSelect / baseline, worstSelect < 300 ? "within" : "OVER");
    std::printf(
        "scroll frames (%d): median %.2f ms, p99 %.2f ms, worst %.2f ms (worst/index read %.3f) -> %s (16 ms)\n",
        frames, frameMs[frameMs.size() / 2], p99, worstFrame, worstFrame / baseline,
        worstFrame < 16 ? "within" : "OVER");
    std::printf("list memory: %.1f MB -> %s (100 MB)\n", listMb, listMb < 100 ? "within" : "OVER");
    std::printf("sorting by subject or sender until painted: worst %.1f ms (ratio %.2f to the index read); list "
                "memory after a sort %.1f MB\n",
                worstSort, worstSort / baseline, sortedMb);
    if (!keep)
        std::filesystem::remove_all(dir);
    return 0;
}

} // namespace orvalink::app

int main(int argc, char** argv)
{
    return orvalink::app::run(argc, argv);
}
