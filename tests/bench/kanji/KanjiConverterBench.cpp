// Throughput of the code converter against glibc iconv converting the same bytes to CP932, on an
// 8 MB ISO-2022-JP mail corpus and an 8 MB EUC-JP corpus generated here. Prints MB/s (input
// bytes, 1 MB = 10^6 bytes) for both, in memory and file to file, and the ratio ours / iconv.
#include "kanji/KanjiConverter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iconv.h>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvalink::kanji {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCorpusSize = 8'000'000;
constexpr int kRounds = 7;

std::string iconvAll(const char* to, const char* from, const std::string& in)
{
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv_open ") + from + " -> " + to);
    std::string out(in.size() * 3 + 64, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    if (::iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) ||
        ::iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
        ::iconv_close(cd);
        throw std::runtime_error(std::string("iconv ") + from + " -> " + to + " failed");
    }
    ::iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

// Mail-like text: a header block with encoded-word subjects, then body lines of kana, kanji and
// some ASCII, as UTF-8; each message about 2 KB.
std::string utf8Mail(std::size_t size)
{
    static const std::vector<std::string> words = {
        "こんにちは", "ありがとう", "ございます", "会議",   "資料",     "送付",     "確認",     "お願い",
        "します",     "本日",       "明日",       "予定",   "変更",     "について", "連絡",     "東京",
        "大阪",       "カタカナ",   "テスト",     "メール", "システム", "開発",     "株式会社", "担当",
        "よろしく",   "です。",     "、",         "「",     "」",       "ABC",      "2026",     "OK"};
    std::mt19937 rng(12345);
    std::string out;
    int message = 0;
    while (out.size() < size) {
        ++message;
        out += "From: sender" + std::to_string(message) + "@example.org\n";
        out += "To: team@example.org\n";
        out += "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= " + std::to_string(message) + "\n";
        out += "Date: Mon, 7 Dec 2026 21:00:00 +0900\n";
        out += "MIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-2022-JP\n\n";
        for (int line = 0; line < 24; ++line) {
            std::string text;
            while (text.size() < 90)
                text += words[rng() % words.size()];
            out += text + "\n";
        }
        out += "\n-- \nsender\n";
    }
    return out;
}

double seconds(const std::function<void()>& run)
{
    const auto t0 = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Best of kRounds for each of two contenders, run alternately so that both meet the same load.
std::pair<double, double> bestOfAlternating(const std::function<void()>& ours, const std::function<void()>& theirs)
{
    double bestOurs = 1e9;
    double bestTheirs = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        bestOurs = std::min(bestOurs, seconds(ours));
        bestTheirs = std::min(bestTheirs, seconds(theirs));
    }
    return {bestOurs, bestTheirs};
}

// iconv in memory into a fresh output buffer each time, as the converter returns a fresh string.
std::size_t iconvInMemory(const char* from, const std::string& in)
{
    iconv_t cd = ::iconv_open("CP932", from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("iconv_open");
    const std::size_t capacity = in.size() * 2 + 64;
    std::unique_ptr<char[]> out(new char[capacity]);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.get();
    std::size_t dstLeft = capacity;
    if (::iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1))
        throw std::runtime_error("iconv failed");
    ::iconv_close(cd);
    return capacity - dstLeft;
}

void writeFile(const fs::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// iconv file to file, streamed through 16 KiB chunks like the converter.
void iconvFile(const char* from, const fs::path& in, const fs::path& out)
{
    iconv_t cd = ::iconv_open("CP932", from);
    std::FILE* fi = std::fopen(in.c_str(), "rb");
    std::FILE* fo = std::fopen(out.c_str(), "wb");
    if (cd == reinterpret_cast<iconv_t>(-1) || !fi || !fo)
        throw std::runtime_error("iconv file set-up failed");
    std::vector<char> inBuf(16 * 1024 + 16);
    std::vector<char> outBuf(64 * 1024);
    std::size_t carried = 0;
    for (;;) {
        const std::size_t n = std::fread(inBuf.data() + carried, 1, 16 * 1024, fi);
        std::size_t left = carried + n;
        if (left == 0)
            break;
        char* src = inBuf.data();
        while (left > 0) {
            char* dst = outBuf.data();
            std::size_t dstLeft = outBuf.size();
            const std::size_t r = ::iconv(cd, &src, &left, &dst, &dstLeft);
            std::fwrite(outBuf.data(), 1, outBuf.size() - dstLeft, fo);
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG)
                break; // an incomplete sequence at the chunk end: carried into the next read
        }
        std::copy(src, src + left, inBuf.data());
        carried = left;
        if (n == 0)
            break;
    }
    std::fclose(fi);
    std::fclose(fo);
    ::iconv_close(cd);
}

void measure(const char* name, const std::string& corpus, const fs::path& dir)
{
    const double mb = static_cast<double>(corpus.size()) / 1e6;
    const kanji::KanjiConverter converter;

    std::size_t sink = 0;
    const auto [oursMem, iconvMem] = bestOfAlternating([&] { sink += converter.convert(corpus).size(); },
                                                       [&] { sink += iconvInMemory(name, corpus); });

    const fs::path in = dir / (std::string(name) + ".txt");
    const fs::path outOurs = dir / (std::string(name) + ".ours");
    const fs::path outIconv = dir / (std::string(name) + ".iconv");
    writeFile(in, corpus);
    const auto [oursFile, iconvFileSeconds] = bestOfAlternating(
        [&] {
            if (converter.convertFile(in.string(), outOurs.string()) != 0)
                throw std::runtime_error("convertFile failed");
        },
        [&] { iconvFile(name, in, outIconv); });

    std::printf("%-12s %5.2f MB  in memory:  ours %7.1f MB/s  iconv %7.1f MB/s  ratio %5.2f\n", name, mb, mb / oursMem,
                mb / iconvMem, iconvMem / oursMem);
    std::printf("%-12s %5.2f MB  file->file: ours %7.1f MB/s  iconv %7.1f MB/s  ratio %5.2f\n", name, mb, mb / oursFile,
                mb / iconvFileSeconds, iconvFileSeconds / oursFile);
    if (sink == 0)
        std::printf("(no output)\n");
}

} // namespace

} // namespace orvalink::kanji

int main()
{
    using namespace orvalink;
    using namespace orvalink::kanji;
    const std::string utf8 = utf8Mail(kCorpusSize * 3 / 2);
    std::string jis = iconvAll("ISO-2022-JP", "UTF-8", utf8);
    std::string euc = iconvAll("EUC-JP", "UTF-8", utf8);
    // Both corpora cut at a line end near 8 MB.
    jis.resize(std::min(jis.size(), kCorpusSize));
    jis.resize(jis.rfind('\n') + 1);
    euc.resize(std::min(euc.size(), kCorpusSize));
    euc.resize(euc.rfind('\n') + 1);

    // The converter must agree with iconv (line ends aside; iconv leaves encoded words alone)
    // before it is timed.
    auto linesWithoutSubject = [](const std::string& s) {
        std::string out;
        std::size_t pos = 0;
        while (pos < s.size()) {
            std::size_t end = s.find('\n', pos);
            end = end == std::string::npos ? s.size() : end + 1;
            std::string line = s.substr(pos, end - pos);
            line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
            if (line.rfind("Subject:", 0) != 0)
                out += line;
            pos = end;
        }
        return out;
    };
    const kanji::KanjiConverter converter;
    for (const auto& [name, corpus] : {std::pair{"ISO-2022-JP", &jis}, std::pair{"EUC-JP", &euc}}) {
        const bool same =
            linesWithoutSubject(converter.convert(*corpus)) == linesWithoutSubject(iconvAll("CP932", name, *corpus));
        std::printf("%s output agrees with iconv: %s\n", name, same ? "yes" : "NO");
    }

    std::string pattern = (fs::temp_directory_path() / "kanji-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path dir = pattern;
    measure("ISO-2022-JP", jis, dir);
    measure("EUC-JP", euc, dir);
    fs::remove_all(dir);
    return 0;
}
