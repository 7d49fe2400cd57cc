// Arbitrary files through the cleanup and Subject joining passes: no crash, every LF of the output
// preceded by CR, and the output no longer than the input allows (a bare LF may gain its CR; the
// Subject pass may end a last line). The file forms give the same bytes as the byte forms.
#include "mail/engine/ReceivedMailFiling.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace orvalink::mail {

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

std::size_t bareLineFeeds(std::string_view s)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r'))
            ++n;
    return n;
}

void checkCrLf(std::string_view s)
{
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] == '\n')
            check(i > 0 && s[i - 1] == '\r');
}

std::string scratchFolder()
{
    static const std::string folder = [] {
        std::string pattern = "/tmp/orvalink-filing-fuzz-XXXXXX";
        check(::mkdtemp(pattern.data()) != nullptr);
        return pattern;
    }();
    return folder;
}

std::string readAll(const std::string& path)
{
    std::string bytes;
    const int fd = ::open(path.c_str(), O_RDONLY);
    check(fd >= 0);
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return bytes;
}

void writeAll(const std::string& path, std::string_view bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    check(fd >= 0);
    check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view in(reinterpret_cast<const char*>(data), size);

    const std::string cleaned = cleanupPass(in);
    checkCrLf(cleaned);
    check(cleaned.size() <= in.size() + bareLineFeeds(in));

    const std::string joined = joinSubjectPass(in);
    checkCrLf(joined);
    check(joined.size() <= in.size() + bareLineFeeds(in) + 2);

    // The cleaned text is what the joining pass gets in the pipeline (after the converter).
    const std::string both = joinSubjectPass(cleaned);
    checkCrLf(both);
    check(both.size() <= cleaned.size() + 2);

    // The file forms stream the same rules.
    if (size <= 4096) {
        const std::string dir = scratchFolder();
        writeAll(dir + "/in", in);
        check(cleanupPassFile(dir + "/in", dir + "/tab"));
        check(readAll(dir + "/tab") == cleaned);
        check(joinSubjectPassFile(dir + "/in", dir + "/cnv"));
        check(readAll(dir + "/cnv") == joined);
    }
    return 0;
}

} // namespace orvalink::mail
