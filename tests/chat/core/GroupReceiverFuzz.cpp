// The chat core's receive path from raw datagram bytes: the input is a run of records, each a
// control byte, a length byte (times 4) and that many datagram bytes. The control byte picks the
// receiving group (the third has no group), the sender address, whether the source port is the
// group's, and whether the clock moves on (running the scheduled replies and refreshes). Each
// group's socket has an assembler of its own; whatever it completes goes to the receiver. After
// every datagram the groups must keep their bounds: rows and bytes within the caps and counted
// right, rising row numbers, members within the cap, no line break in a row's name (the label of
// its log record). The receiver writes the log records into each group's chat log, in a scratch
// folder of the run emptied after every input.
#include "chat/core/ChatLog.h"
#include "chat/core/CoreTestSupport.h"
#include "chat/wire/DatagramAssembler.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace orvalink::chat {

namespace {

// The scratch folder of the whole run.
const ScratchLogs& scratchLogs()
{
    static const ScratchLogs logs;
    return logs;
}

// The records of this input leave with it, so that a long run does not fill the disk.
void checkAndRemoveLogs(ChatGroups& groups)
{
    for (int g = 0; g < groups.groupCount; ++g) {
        ChatLog* log = groups.chatLog(g);
        const std::string path = log->path();
        log->close();
        if (path.empty())
            continue;
        // Every record was written whole.
        if (!ChatLog::endsWithLineBreak(path))
            std::abort();
        std::filesystem::remove(path);
    }
}

void checkBounds(const ChatGroups& groups)
{
    std::size_t total = 0;
    for (int g = 0; g < groups.groupCount; ++g) {
        const ChatGroup& group = groups.groups[static_cast<std::size_t>(g)];
        std::size_t bytes = 0;
        std::uint64_t last = 0;
        for (const ChatRow& row : group.rows) {
            bytes += rowBytes(row);
            // The header starts with the name that labels the row's log record.
            if (row.header.str().find_first_of("\r\n") != std::string::npos)
                std::abort();
            if (row.serial <= last)
                std::abort();
            last = row.serial;
        }
        if (bytes != group.rowBytes || group.rows.size() > kMaxRowsPerGroup || bytes > kMaxRowBytesPerGroup ||
            group.members.size() > kMaxMembersPerGroup)
            std::abort();
        for (const std::string& key : group.members)
            if (key.find_first_of("\r\n") != std::string::npos)
                std::abort();
        total += bytes;
    }
    if (total > kMaxRowBytesTotal)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::array<const char*, 4> addresses = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "192.168.1.255"};
    ScriptedIo io;
    ChatGroups groups;
    configureGroup(groups, 0, "12121", "A", "me");
    configureGroup(groups, 1, "12122abc", "B", "me");
    scratchLogs().attach(groups);
    GroupReceiver receiver(io, groups);
    receiver.setClock([] { return std::time_t{1765000000}; });
    receiver.setSteadyClock([&io] { return io.now; });
    std::array<DatagramAssembler, 3> sockets;

    std::string_view in(reinterpret_cast<const char*>(data), size);
    while (in.size() >= 2) {
        const auto control = static_cast<unsigned char>(in[0]);
        const std::size_t len = static_cast<unsigned char>(in[1]) * 4u;
        in.remove_prefix(2);
        const std::string_view datagram = in.substr(0, len);
        in.remove_prefix(datagram.size());

        const int g = control % 3;
        const char* address = addresses[(control >> 2) & 3u];
        const unsigned groupPort = g == 1 ? 12122 : 12121;
        const unsigned port = control & 0x10u ? 12123 : groupPort;
        if (control & 0x20u)
            receiver.setCoalescedRefresh((control & 0x40u) != 0);
        const auto text = sockets[static_cast<std::size_t>(g)].feed(datagram, address, port);
        if (text)
            receiver.handle(g, *text, address, port);
        if (control & 0x80u)
            io.advance(static_cast<unsigned char>(datagram.empty() ? 0 : datagram[0]) * 4);
        checkBounds(groups);
    }
    io.advance(100000);
    checkBounds(groups);
    checkAndRemoveLogs(groups);
    return 0;
}

} // namespace orvalink::chat
