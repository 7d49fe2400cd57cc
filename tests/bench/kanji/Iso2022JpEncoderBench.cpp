// Throughput of the Shift-JIS -> ISO-2022-JP encoder against glibc iconv CP932 -> ISO-2022-JP on
// the same 8 MB of mail bodies (kanji, kana and ASCII lines with CR LF) generated here. Prints MB/s
// of input (1 MB = 10^6 bytes) for both, best of several alternating rounds, and the ratio
// ours / iconv; also whether both wrote the same bytes.
#include "kanji/Iso2022JpEncoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iconv.h>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvalink::kanji {

namespace {

constexpr std::size_t kCorpusSize = 8'000'000;
constexpr int kRounds = 7;

std::string iconvAll(const char* to, const char* from, const std::string& in)
{
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv_open ") + from + " -> " + to);
    std::string out(in.size() * 4 + 64, '\0');
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

// Body lines as typed in a compose window: Japanese words with some ASCII, CR LF line ends.
std::string shiftJisBodies(std::size_t size)
{
    static const std::vector<std::string> words = {
        "こんにちは", "ありがとう", "ございます", "会議",   "資料",     "送付",     "確認",     "お願い",
        "します",     "本日",       "明日",       "予定",   "変更",     "について", "連絡",     "東京",
        "大阪",       "カタカナ",   "テスト",     "メール", "システム", "開発",     "株式会社", "担当",
        "よろしく",   "です。",     "、",         "「",     "」",       " ABC ",    "2026",     " OK "};
    std::vector<std::string> sjis;
    for (const std::string& w : words)
        sjis.push_back(iconvAll("CP932", "UTF-8", w));
    std::mt19937 rng(2026);
    std::string out;
    while (out.size() < size) {
        std::string line;
        while (line.size() < 70)
            line += sjis[rng() % sjis.size()];
        out += line + "\r\n";
        if (rng() % 8 == 0)
            out += "Regards, the project team (see http://example.org/docs)\r\n";
    }
    return out;
}

double seconds(const std::function<void()>& run)
{
    const auto t0 = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

} // namespace orvalink::kanji

int main()
{
    using namespace orvalink;
    using namespace orvalink::kanji;
    const std::string in = shiftJisBodies(kCorpusSize);
    std::string ours;
    std::string theirs;
    double bestOurs = 1e9;
    double bestTheirs = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        bestOurs = std::min(bestOurs, seconds([&] { ours = kanji::toIso2022Jp(in); }));
        bestTheirs = std::min(bestTheirs, seconds([&] { theirs = iconvAll("ISO-2022-JP", "CP932", in); }));
    }
    const double mb = static_cast<double>(in.size()) / 1e6;
    std::printf("input %.1f MB of Shift-JIS mail bodies\n", mb);
    std::printf("ours  %8.1f MB/s\n", mb / bestOurs);
    std::printf("iconv %8.1f MB/s\n", mb / bestTheirs);
    std::printf("ratio ours/iconv %.2f (goal >= 1.0)\n", bestTheirs / bestOurs);
    std::printf("same bytes as iconv: %s\n", ours == theirs ? "yes" : "no");
    return 0;
}
