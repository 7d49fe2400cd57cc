// Filing speed of received mail: 10,000 messages of 10 KB appended to one folder, against a
// baseline that does the least any store of this shape must do per message (read the message
// file, append its bytes to one file and a fixed-size record to another, each file opened and
// closed per message). Prints both rates and their ratio; the store should reach at least half.
//
//   folders_append_bench [DIRECTORY] [MESSAGES]   (default: a scratch directory under /tmp, 10000)
#include "store/MailStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace orvalink::store {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string tenKilobyteMessage()
{
    std::string m = "Received: from mx.example.jp by host; Mon, 01 Jan 2024 10:00:00 +0900\r\n"
                    "From: Sender <sender@example.jp>\r\n"
                    "To: receiver@example.jp\r\n"
                    "Subject: benchmark message\r\n"
                    "Date: Mon, 01 Jan 2024 09:59:59 +0900\r\n"
                    "X-Mailer: Bench 1.0\r\n"
                    "\r\n";
    const std::string line = std::string(70, 'x') + "\r\n";
    while (m.size() + line.size() <= 10240)
        m += line;
    return m;
}

bool writeFile(const std::string& path, const std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return ok;
}

bool baselineAppend(const std::string& messageFile, const std::string& dataFile, const std::string& recordFile)
{
    static char buffer[1 << 16];
    const int in = ::open(messageFile.c_str(), O_RDONLY);
    if (in < 0)
        return false;
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    ::close(in);
    const int data = ::open(dataFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int record = ::open(recordFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    char fixed[64] = {};
    const bool ok = n > 0 && data >= 0 && record >= 0 && ::write(data, buffer, static_cast<std::size_t>(n)) == n &&
                    ::write(record, fixed, sizeof fixed) == static_cast<ssize_t>(sizeof fixed);
    if (data >= 0)
        ::close(data);
    if (record >= 0)
        ::close(record);
    return ok;
}

template <typename Append> double messagesPerSecond(int count, Append append)
{
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        if (!append()) {
            std::fprintf(stderr, "append %d failed\n", i);
            std::exit(1);
        }
    return count / std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

} // namespace orvalink::store

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::store;
    std::string base = argc > 1 ? argv[1] : (fs::temp_directory_path() / "orvalink-folders-bench-XXXXXX").string();
    if (argc <= 1 && ::mkdtemp(base.data()) == nullptr)
        return 1;
    const int count = argc > 2 ? std::atoi(argv[2]) : 10000;
    const std::string message = tenKilobyteMessage();
    const std::string messageFile = base + "/message.qel";
    if (!writeFile(messageFile, message))
        return 1;

    // Two rounds each, alternating, so that a busy machine hurts both sides alike; the best is kept.
    double store = 0;
    double baseline = 0;
    for (int round = 0; round < 2; ++round) {
        const std::string storeDir = base + "/store" + std::to_string(round);
        const std::string baselineDir = base + "/baseline" + std::to_string(round);
        fs::create_directories(storeDir);
        fs::create_directories(baselineDir);
        baseline = std::max(baseline, messagesPerSecond(count, [&] {
                                return baselineAppend(messageFile, baselineDir + "/data", baselineDir + "/records");
                            }));
        store = std::max(store, messagesPerSecond(count, [&] {
                             return orvalink::store::AppendReceivedMessage(storeDir, "inbox", messageFile) ==
                                    orvalink::store::StoreResult::Stored;
                         }));
        const auto listing = orvalink::store::readFolderIndex(storeDir + "/inbox");
        if (!listing || listing->entries.size() != static_cast<std::size_t>(count) ||
            listing->mailboxBytes != message.size() * static_cast<std::size_t>(count)) {
            std::fprintf(stderr, "the store's folder is not as expected\n");
            return 1;
        }
        fs::remove_all(storeDir);
        fs::remove_all(baselineDir);
    }
    if (argc <= 1)
        fs::remove_all(base);
    std::printf("messages: %d of %zu bytes\n", count, message.size());
    std::printf("baseline: %.0f messages/s\n", baseline);
    std::printf("store:    %.0f messages/s\n", store);
    std::printf("ratio:    %.2f (goal: at least 0.50)\n", store / baseline);
    return 0;
}
