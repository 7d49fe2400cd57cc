// SMTP submission throughput: 1,000 mails of about 10 KB (Japanese text) submitted one after
// another, a new connection each, by the conversation engine over real sockets to aiosmtpd, against
// Python's smtplib sending the same messages to the same server in the same run. Both run in a
// private network namespace of this process. The two take turns in blocks of 50 mails, so that
// both meet the same load of a shared machine; the times of all blocks are summed. Prints mails
// per second for both and the ratio ours / smtplib.
//
// With --starttls both submit over STARTTLS with AUTH PLAIN (the same user) to aiosmtpd with TLS
// (tests/mail/smtp_tls_server.py, certificates made with openssl for the run): ours through the
// TLS session the program uses, smtplib through Python's ssl.
#include "mail/engine/SmtpConversation.h"
#include "mail/tls/TlsSession.h"
#include "support/OpensslCertificates.h"
#include "support/PrivateNetwork.h"
#include "support/SmtpDriver.h"
#include "support/SmtpSink.h"
#include "support/TestFiles.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <netinet/in.h>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
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

bool g_startTls = false;
constexpr const char* kUser = "bench";
constexpr const char* kPassword = "bench-pw";

mail::SmtpRequest request(const std::string& body, int i)
{
    mail::SmtpRequest r;
    MailAccount account;
    account.smtpServer = "127.0.0.1";
    account.smtpPort = g_startTls ? "587" : "25";
    if (g_startTls) {
        account.smtpSecurity = "1";
        account.smtpAuth = "1";
        account.smtpUser = kUser;
        account.smtpPassword = kPassword;
    }
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

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// One conversation over a blocking socket, through a TLS session once the conversation asks for
// it: the glue of the compose window without the window. True when the server took the mail.
bool runSmtpTls(mail::SmtpConversation& c, const mail::SmtpRequest& r, std::string& messages)
{
    const mail::SmtpStart start = c.start(r);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(start.port);
    ::inet_pton(AF_INET, start.host.c_str(), &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    std::unique_ptr<TlsSession> tls;
    bool finished = false;
    bool open = true;
    auto apply = [&](const mail::SmtpStep& step) {
        if (!step.send.empty()) {
            if (tls) {
                tls->writePlain(step.send);
                writeAll(fd, tls->takeCiphertext());
            } else {
                writeAll(fd, step.send);
            }
        }
        messages += step.message;
        finished = finished || step.finished;
        if (step.release)
            open = false;
        if (step.startTls && open) {
            tls = std::make_unique<TlsSession>(start.host);
            writeAll(fd, tls->takeCiphertext());
        }
    };
    char buffer[65536];
    while (open) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            apply(c.connectionClosed());
            break;
        }
        if (!tls) {
            apply(c.feed(std::string_view(buffer, static_cast<std::size_t>(n))));
            continue;
        }
        const bool wasEstablished = tls->established();
        tls->feedCiphertext(std::string_view(buffer, static_cast<std::size_t>(n)));
        writeAll(fd, tls->takeCiphertext());
        if (tls->state() == TlsSession::State::Failed) {
            apply(c.tlsFailed(tls->errorText()));
            break;
        }
        if (!wasEstablished && tls->established())
            apply(c.tlsEstablished());
        if (const std::string plain = tls->takePlain(); !plain.empty())
            apply(c.feed(plain));
    }
    ::shutdown(fd, SHUT_WR);
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    ::close(fd);
    return finished;
}

} // namespace

} // namespace orvalink::mail

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::mail;
    orvalink::test::enterPrivateNetwork();
    if (!orvalink::test::privateNetworkReady()) {
        std::printf("skipped: %s\n", orvalink::test::privateNetworkSkipReason().c_str());
        return 0;
    }
    const std::string source = ORVALINK_SOURCE_DIR_DEFAULT;
    g_startTls = argc > 1 && std::strcmp(argv[1], "--starttls") == 0;
    orvalink::test::TempDir sinkDir("smtp-bench-sink");
    orvalink::test::TempDir messageDir("smtp-bench-messages");
    std::unique_ptr<orvalink::test::ScopedEnv> trust;
    if (g_startTls) {
        if (!orvalink::test::makeOpensslCertificates(sinkDir.path())) {
            std::printf("openssl could not make the certificates\n");
            return 1;
        }
        trust = std::make_unique<orvalink::test::ScopedEnv>("SSL_CERT_FILE", sinkDir.path() + "/ca.pem");
        orvalink::test::writeFile(sinkDir.path() + "/server.json",
                                  "{\"mode\": \"starttls\", \"cert\": \"" + sinkDir.path() +
                                      "/server.pem\", \"key\": \"" + sinkDir.path() + "/server.key\", \"user\": \"" +
                                      kUser + "\", \"password\": \"" + kPassword + "\"}");
    }
    orvalink::test::SmtpSink sink(sinkDir.path(), g_startTls ? 587 : 25, "127.0.0.1",
                                  source +
                                      (g_startTls ? "/tests/mail/smtp_tls_server.py" : "/tests/support/smtp_sink.py"));
    if (!sink.ready()) {
        std::printf("skipped: %s\n", sink.failure().c_str());
        return 0;
    }

    const std::vector<std::string> texts = bodies();
    // The same messages for smtplib: what the server keeps of ours (dot-stuffing undone). One
    // Python process for the whole run, told block by block what to send.
    std::vector<std::string> args = {"/usr/bin/python3",    source + "/tests/bench/mail/smtplib_submit.py",
                                     "127.0.0.1",           g_startTls ? "587" : "25",
                                     "bench@example.jp",    "sink@example.jp",
                                     std::to_string(kBlock)};
    if (g_startTls)
        args.insert(args.end(), {"--starttls", sinkDir.path() + "/ca.pem", kUser, kPassword});
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
        std::vector<char*> childArgv;
        for (std::string& a : args)
            childArgv.push_back(a.data());
        childArgv.push_back(nullptr);
        ::execv(childArgv[0], childArgv.data());
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
            if (g_startTls) {
                std::string messages;
                if (!runSmtpTls(c, request(texts[static_cast<std::size_t>(i)], i), messages)) {
                    std::printf("mail %d not accepted: %s\n", i, messages.c_str());
                    return 1;
                }
                continue;
            }
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
    std::printf("%s: %d mails each of %.1f KB on average, alternating in blocks of %d\n",
                g_startTls ? "STARTTLS + AUTH PLAIN" : "plain", kMails,
                static_cast<double>(totalBytes) / kMails / 1000.0, kBlock);
    std::printf("ours    %8.1f mails/s (%.3f s)\n", kMails / ours, ours);
    std::printf("smtplib %8.1f mails/s (%.3f s)\n", kMails / theirs, theirs);
    std::printf("ratio ours/smtplib %.2f (goal >= 1.0)\n", theirs / ours);
    return 0;
}
