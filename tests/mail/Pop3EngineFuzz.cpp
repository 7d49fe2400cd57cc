// Arbitrary server bytes through the POP3 engine, fed whole and in reads split where the input's
// first bytes say: no crash, the same commands, events and messages for every split, and the
// engine's own memory bounded (the line buffer never beyond one reply line).
#include "mail/engine/Pop3Engine.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvalink::mail {

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// Keeps a digest of what the engine hands over instead of the bytes, so that memory stays flat.
class DigestSink : public Pop3MessageSink {
public:
    std::string beginMessage(int number) override
    {
        log += "b" + std::to_string(number);
        open = true;
        return {};
    }
    std::string writeMessageData(std::string_view data) override
    {
        check(open);
        for (const char c : data)
            digest = digest * 131 + static_cast<unsigned char>(c);
        bytes += data.size();
        return {};
    }
    std::vector<std::string> completeMessage(int number, std::string_view id) override
    {
        check(open);
        open = false;
        log += "c" + std::to_string(number) + "/" + std::string(id) + "/" + std::to_string(digest) + "/" +
               std::to_string(bytes);
        digest = 0;
        bytes = 0;
        return {};
    }
    void abandonMessage(int number) override
    {
        check(open);
        open = false;
        log += "a" + std::to_string(number);
        digest = 0;
        bytes = 0;
    }

    std::string log;
    std::uint64_t digest = 0;
    std::size_t bytes = 0;
    bool open = false;
};

struct Result {
    std::string sent;
    std::vector<Pop3Event> events;
    std::string log;
    int state;
    Pop3Outcome outcome;
    bool operator==(const Result&) const = default;
};

Result run(std::string_view bytes, const std::vector<std::size_t>& sizes, int ending, TransportSecurity security)
{
    DigestSink sink;
    Pop3Engine engine({"u", "p"}, sink, {"known"}, security);
    Result r;
    auto take = [&](const Pop3Step& s) {
        r.sent += s.send;
        r.events.insert(r.events.end(), s.events.begin(), s.events.end());
    };
    std::size_t i = 0;
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), sizes.empty() ? bytes.size() : sizes[i++ % sizes.size()]);
        take(engine.feed(bytes.substr(0, n)));
        bytes.remove_prefix(n);
    }
    if (ending == 1)
        take(engine.connectionClosed());
    else if (ending == 2)
        take(engine.timedOut());
    else if (ending == 3)
        take(engine.abort());
    r.log = sink.log;
    r.state = engine.state();
    r.outcome = engine.outcome();
    // Once finished, the sink holds no open message.
    if (!engine.waitingForServer())
        check(!sink.open);
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    // Byte 0: how the connection ends, and (bit 2) a conversation inside TLS, where a server that
    // lists PIPELINING gets RETR commands ahead; bytes 1-2: read sizes of the split run.
    const int ending = data[0] % 4;
    const TransportSecurity security = data[0] & 4 ? TransportSecurity::Implicit : TransportSecurity::None;
    const std::vector<std::size_t> sizes = {static_cast<std::size_t>(data[1] % 17) + 1,
                                            static_cast<std::size_t>(data[2]) + 1};
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 3, size - 3);
    const Result whole = run(bytes, {}, ending, security);
    check(run(bytes, sizes, ending, security) == whole);
    check(run(bytes, {1}, ending, security) == whole);
    return 0;
}

} // namespace orvalink::mail
