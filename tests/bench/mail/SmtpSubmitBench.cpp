// SMTP submission throughput: 1,000 mails of about 10 KB (Japanese text) submitted one after
// another, a new connection each, by the conversation engine over real sockets to aiosmtpd, against
// Python's smtplib sending the same messages to the same server in the same run. Both run in a
// private network namespace of this process. The two take turns in blocks of 50 mails, so that
// both meet the same load of a shared machine; the times of all blocks are summed. Prints mails
// per second for both and the ratio ours / smtplib.
#include "mail/engine/SmtpConversation.h"
#include "support/PrivateNetwork.h"
#include "support/SmtpDriver.h"
#include "support/SmtpSink.h"
#include "support/TestFiles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iconv.h>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace orvalink::mail {

namespace {

constexpr int kMails = 1000;
constexpr std::size_t kBodySize = 8'000;
constexpr int kBlock = 50;

std::string toCp932(const std::string& utf8)
{
    iconv_t cd = ::iconv_open("CP932", "UTF-8");
    std::string out(utf8.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(utf8.data());
    std::size_t srcLeft = utf8.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    if (cd == reinterpret_cast<iconv_t>(-1) ||
        ::iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1))
        throw std::runtime_error("iconv");
    ::iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

std::vector<std::string> bodies()
{
    static const std::vector<std::string> words = {
        "こんにちは", "会議", "資料", "送付",   "確認",     "お願い", "します", "本日",  "明日", "予定", "変更",
        "について",   "連絡", "ﾃｽﾄ",  "メール", "株式会社", "です。", "、",     " ABC ", "2026", " OK "};
    std::vector<std::string> sjis;
    for (const std::string& w : words)
        sjis.push_back(toCp932(w));
    std::mt19937 rng(7);
    std::vector<std::string> result;
    for (int i = 0; i < kMails; ++i) {
        std::string body;
        while (body.size() < kBodySize) {
            std::string line;
            while (line.size() < 70)
                line += sjis[rng() % sjis.size()];
            body += line + "\r\n";
        }
        result.push_back(body);
    }
    return result;
}

mail::SmtpRequest request(const std::string& body, int i)
{
    mail::SmtpRequest r;
    MailAccount account;
    account.smtpServer = "127.0.0.1";
    account.smtpPort = "25";
    account.emailAddress = "bench@example.jp";
    r.account = account;
    r.to = "sink@example.jp";
    r.subject = toCp932("ベンチマーク ") + std::to_string(i);
    r.body = body;
    r.localHostName = "bench.example.jp";
    r.time = {1796723700 + i, 540};
    r.messageId = "<" + std::to_string(i) + "@bench.example.jp>";
    return r;
}

} // namespace

} // namespace orvalink::mail

int main()
{
    using namespace orvalink;
    using namespace orvalink::mail;
    orvalink::test::enterPrivateNetwork();
    if (!orvalink::test::privateNetworkReady()) {
        std::printf("skipped: %s\n", orvalink::test::privateNetworkSkipReason().c_str());
        return 0;
    }
    const std::string source = ORVALINK_SOURCE_DIR_DEFAULT;
    orvalink::test::TempDir sinkDir("smtp-bench-sink");
    orvalink::test::TempDir messageDir("smtp-bench-messages");
    orvalink::test::SmtpSink sink(sinkDir.path(), 25, "127.0.0.1", source + "/tests/support/smtp_sink.py");
    if (!sink.ready()) {
        std::printf("skipped: %s\n", sink.failure().c_str());
        return 0;
    }

    const std::vector<std::string> texts = bodies();
    // The same messages for smtplib: what the server keeps of ours (dot-stuffing undone). One
    // Python process for the whole run, told block by block what to send.
    std::vector<std::string> args = {"/usr/bin/python3",    source + "/tests/bench/mail/smtplib_submit.py",
                                     "127.0.0.1",           "25",
                                     "bench@example.jp",    "sink@example.jp",
                                     std::to_string(kBlock)};
    std::size_t totalBytes = 0;
    for (int i = 0; i < kMails; ++i) {
        mail::SmtpConversation c;
        c.start(request(texts[static_cast<std::size_t>(i)], i));
        std::string content = c.mailText();
        content.resize(content.size() - 3);
        totalBytes += content.size();
        args.push_back(messageDir.file("m" + std::to_string(i)));
        orvalink::test::writeFile(args.back(), content);
    }
    int toPython[2];
    int fromPython[2];
    if (::pipe(toPython) != 0 || ::pipe(fromPython) != 0)
        return 1;
    const pid_t python = ::fork();
    if (python == 0) {
        ::dup2(toPython[0], STDIN_FILENO);
        ::dup2(fromPython[1], STDOUT_FILENO);
        ::close(toPython[1]);
        ::close(fromPython[0]);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(toPython[0]);
    ::close(fromPython[1]);
    std::FILE* ask = ::fdopen(toPython[1], "w");
    std::FILE* answer = ::fdopen(fromPython[0], "r");
    char loaded[16] = {};
    if (python < 0 || std::fscanf(answer, "%15s", loaded) != 1) {
        std::printf("smtplib did not start\n");
        return 1;
    }

    double ours = 0;
    double theirs = 0;
    for (int block = 0; block < kMails / kBlock; ++block) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = block * kBlock; i < (block + 1) * kBlock; ++i) {
            mail::SmtpConversation c;
            const auto run = orvalink::test::runSmtp(c, request(texts[static_cast<std::size_t>(i)], i));
            if (!run.finished) {
                std::printf("mail %d not accepted: %s\n", i, run.messages.c_str());
                return 1;
            }
        }
        ours += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

        double seconds = 0;
        std::fprintf(ask, "%d\n", block);
        std::fflush(ask);
        if (std::fscanf(answer, "%lf", &seconds) != 1) {
            std::printf("smtplib run failed\n");
            return 1;
        }
        theirs += seconds;
    }
    std::fclose(ask);
    std::fclose(answer);
    int status = 0;
    ::waitpid(python, &status, 0);
    const std::size_t expected = 2 * kMails;
    if (!sink.waitForMails(expected, 120000)) {
        std::printf("the server kept %zu of %zu mails\n", sink.mailCount(), expected);
        return 1;
    }
    std::printf("%d mails each of %.1f KB on average, alternating in blocks of %d\n", kMails,
                static_cast<double>(totalBytes) / kMails / 1000.0, kBlock);
    std::printf("ours    %8.1f mails/s (%.3f s)\n", kMails / ours, ours);
    std::printf("smtplib %8.1f mails/s (%.3f s)\n", kMails / theirs, theirs);
    std::printf("ratio ours/smtplib %.2f (goal >= 1.0)\n", theirs / ours);
    return 0;
}
