// Download and filing speed: MESSAGES messages of about 10 KB from a local dovecot in a private
// network namespace, downloaded and filed end to end, measured twice: as the user meets it (the
// whole program, from the receive command on its automation channel to the last id recorded) and
// by the POP3 engine and the filing pipeline alone; against in the same run
//   - mpop, delivering every message to an mbox file (goal: at least as many messages per second),
//   - a plain poplib loop of LIST n / RETR n appending each message to one file (the near-limit
//     baseline; goal: at least 0.8 of its rate).
// Then one 50 MB message through the engine and pipeline: the growth of the process's peak memory
// is printed (goal: at most 10 MB).
//
//   mail_receive_bench [MESSAGES [ROUNDS]]    (default 2000 and 5; needs root for the namespace and
//                                              dovecot; the program from the build directory)
// Each figure is the median of the rounds; the rounds of the three sides alternate, so a busy
// machine hurts all of them alike.
//
//   mail_receive_bench --tls [MESSAGES [ROUNDS]]
// The same download over TLS from the first byte (dovecot on 995 with a certificate made for the
// run, trusted through SSL_CERT_FILE): the whole program against mpop (tls on, the same CA) and
// poplib's POP3_SSL, from the same dovecot in the same run (goal: program/mpop at least 1.0). The
// engine-alone and 50 MB figures are the plain run's.
#include "mail/engine/Pop3Engine.h"
#include "mail/engine/ReceivedMailFiler.h"
#include "mail/engine/UidlRecord.h"
#include "platform/Profile.h"
#include "store/MailStore.h"
#include "support/MailServers.h"
#include "support/Pop3Driver.h"
#include "support/PrivateNetwork.h"
#include "support/TestCertificates.h"
#include "support/TestFiles.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvalink::mail {

using namespace orvalink;
using Clock = std::chrono::steady_clock;

namespace {

// The run over TLS: where the CA that signed dovecot's certificate is, empty for the plain run.
struct Tls {
    std::string caFile;
    bool on() const { return !caFile.empty(); }
};
constexpr int kTlsPort = 995;

std::string message(int i)
{
    std::string m = "Received: from mx.example.jp by host; Mon, 01 Jan 2024 10:00:00 +0900\r\n"
                    "From: Sender <sender@example.jp>\r\n"
                    "To: receiver@example.jp\r\n"
                    "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= " +
                    std::to_string(i) +
                    "\r\n"
                    "Date: Mon, 01 Jan 2024 09:59:59 +0900\r\n"
                    "X-Mailer: Bench 1.0\r\n"
                    "Content-Type: text/plain; charset=iso-2022-jp\r\n"
                    "\r\n";
    const std::string japanese = "\x1b$B$3$l$OF|K\\8l$NK\\J8$G$9!#\x1b(B some ASCII text around it.\r\n";
    const std::string line = std::string(70, 'x') + "\r\n";
    while (m.size() + line.size() <= 10240)
        m += (m.size() / 72) % 4 == 0 ? japanese : line;
    return m;
}

long kilobytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Our side: one whole download into a fresh mail directory; messages per second.
double threadCpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

double oursCpuMs = 0; // the last run's CPU time on this thread

double ours(const test::DovecotPop3& server, const std::string& mailDir, int expected)
{
    std::filesystem::create_directories(mailDir);
    mail::UidlRecord record(mailDir, server.address(), server.user());
    mail::ReceivedMailFiler filer(mailDir, &record);
    mail::Pop3Engine engine({server.user(), server.password()}, filer, record.load());
    const auto start = Clock::now();
    const double cpuStart = threadCpuMs();
    const test::Pop3Run run = test::drivePop3(test::connectTcp(server.address(), server.port()), engine);
    oursCpuMs = threadCpuMs() - cpuStart;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (filer.filedCount() != expected || !run.errors.empty()) {
        std::fprintf(stderr, "ours: filed %d of %d (%zu errors)\n", filer.filedCount(), expected, run.errors.size());
        std::exit(1);
    }
    return expected / seconds;
}

// Counts the lines of the id record that record a filed message (see UidlRecord; not those of a
// filing begun), reading only what was added since the last look, so that watching the record
// costs the machine next to nothing while the program runs.
class RecordedIds {
public:
    explicit RecordedIds(std::string path) : m_path(std::move(path)) {}

    int count()
    {
        const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return m_ids;
        char chunk[65536];
        for (ssize_t n; (n = ::pread(fd, chunk, sizeof chunk, m_offset)) > 0;) {
            m_offset += n;
            for (const char c : std::string_view(chunk, static_cast<std::size_t>(n))) {
                if (c != '\n') {
                    m_line.push_back(c);
                    continue;
                }
                if (m_line.size() > 1 && m_line[0] == '\t' && m_line[1] != '\t' && !m_line.ends_with("\t+"))
                    ++m_ids;
                m_line.clear();
            }
        }
        ::close(fd);
        return m_ids;
    }

private:
    std::string m_path;
    off_t m_offset = 0;
    std::string m_line;
    int m_ids = 0;
};

// CPU time (ms) of each thread of process `pid` by thread name, from /proc.
std::map<std::string, double> threadCpuMs(pid_t pid)
{
    std::map<std::string, double> cpu;
    const double tick = 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        const std::string stat = test::readFile(task.path().string() + "/stat");
        const std::size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(close + 2));
        std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
        if (f.size() > 12)
            cpu[stat.substr(open + 1, close - open - 1)] += (std::stod(f[11]) + std::stod(f[12])) * tick;
    }
    return cpu;
}

struct ProgramRun {
    double rate = 0;
    double windowThreadMs = 0;  // the program's main thread during the download
    double receiveThreadMs = 0; // its receive threads (engine, filing, work-file removal)
};

// The whole program, as the user runs it: started with a profile that names the server and the
// mail directory, its receive command given on the automation channel once it listens there; the
// time runs from the command to the last message's id in the record (the record gains each id
// right after its message is filed). Messages per second.
ProgramRun program(const test::DovecotPop3& server, const std::string& dir, int expected, const Tls& tls)
{
    const std::string mailDir = dir + "/mail";
    std::filesystem::create_directories(mailDir);
    std::filesystem::create_directories(dir + "/config/Orvalink");
    {
        platform::Profile p(dir + "/config/Orvalink/Orvalink.conf");
        p.writeInt("NetMsg Entry", "User PortCnt", 1);
        p.writeString("NetMsg Entry", "User Port1", "12121");
        p.writeString("NetMsg Entry", "User PortName1", "G");
        p.writeString("NetMsg Entry", "User Name1", "bench");
        p.writeString("Mail Entry", "SaveFolder", mailDir);
        p.writeInt("Server Entry", "Count", 1);
        p.writeString("Server Entry", "Server Name1", "bench");
        p.writeString("Server Entry", "POP Server1", server.address());
        p.writeString("Server Entry", "POP PortNo1", std::to_string(tls.on() ? kTlsPort : server.port()));
        if (tls.on())
            p.writeString("Server Entry", "POP Security1", "2");
        p.writeString("Server Entry", "POP Accunt1", server.user());
        p.writeString("Server Entry", "POP Password1", server.password());
    }
    const std::string fifo = dir + "/control.fifo";
    ::mkfifo(fifo.c_str(), 0600);
    const std::string programPath = std::string(ORVALINK_BUILD_DIR_DEFAULT) + "/src/app/orvalink";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        ::setenv("ORVALINK_MESSAGEBOX_LOG", (dir + "/messageboxes.log").c_str(), 1);
        ::setenv("ORVALINK_AUTOMATION", fifo.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (tls.on())
            ::setenv("SSL_CERT_FILE", tls.caFile.c_str(), 1);
        if (::chdir(dir.c_str()) != 0)
            ::_exit(127);
        const int out = ::open((dir + "/program.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execl(programPath.c_str(), programPath.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto fail = [&](const char* why) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        std::fprintf(stderr, "program: %s (see %s)\n", why, dir.c_str());
        std::exit(1);
    };
    int fd = -1;
    // The program opens the channel once it has started; until then there is no reader.
    if (!test::waitUntil([&] { return (fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }, 30000, 5))
        fail("the automation channel never opened");
    RecordedIds recorded(mail::UidlRecord(mailDir, server.address(), server.user()).path());
    const std::map<std::string, double> cpuBefore = threadCpuMs(pid);
    const std::string command = "command 32771\n";
    const auto start = Clock::now();
    const bool written = ::write(fd, command.data(), command.size()) == static_cast<ssize_t>(command.size());
    ::close(fd);
    if (!written)
        fail("the command could not be written");
    if (!test::waitUntil([&] { return recorded.count() >= expected; }, 600000, 2))
        fail("not every message was recorded");
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ProgramRun run;
    run.rate = expected / seconds;
    for (const auto& [name, ms] : threadCpuMs(pid)) {
        const double before = cpuBefore.count(name) ? cpuBefore.at(name) : 0;
        if (name == "orvalink")
            run.windowThreadMs += ms - before;
        else if (name.starts_with("orvalink::mail"))
            run.receiveThreadMs += ms - before;
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    const auto listing = store::readFolderIndex(*store::folderFsPath(mailDir, store::kReceivedFolder));
    if (!listing || listing->entries.size() != static_cast<std::size_t>(expected))
        fail("the folder does not hold every message once");
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double runProgram(const std::vector<std::string>& args, int expected)
{
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", args[0].c_str(), status);
        std::exit(1);
    }
    return expected / seconds;
}

double mpop(const test::DovecotPop3& server, const std::string& dir, int expected, const Tls& tls)
{
    std::filesystem::create_directories(dir);
    const std::string conf = dir + "/mpoprc";
    const std::string security =
        tls.on() ? "tls on\ntls_starttls off\ntls_trust_file " + tls.caFile + "\n" : "tls off\n";
    test::writeFile(conf, "account bench\nhost " + server.address() + "\nport " +
                              std::to_string(tls.on() ? kTlsPort : server.port()) + "\nuser " + server.user() +
                              "\npassword " + server.password() + "\n" + security +
                              "auth user\nkeep on\nonly_new off\ndelivery mbox " + dir + "/mbox\nuidls_file " + dir +
                              "/uidls\n");
    ::chmod(conf.c_str(), 0600);
    const double rate = runProgram({"/usr/bin/mpop", "--quiet", "-C", conf, "bench"}, expected);
    const auto size = std::filesystem::file_size(dir + "/mbox");
    if (size < static_cast<std::uintmax_t>(expected) * 10000) {
        std::fprintf(stderr, "mpop delivered only %ju bytes\n", static_cast<std::uintmax_t>(size));
        std::exit(1);
    }
    return rate;
}

double poplib(const test::DovecotPop3& server, const std::string& dir, int expected, const Tls& tls = {})
{
    std::filesystem::create_directories(dir);
    const std::string connect = tls.on() ? "import ssl\np = poplib.POP3_SSL(sys.argv[1], int(sys.argv[2]), "
                                           "context=ssl.create_default_context(cafile=sys.argv[7]))\n"
                                         : "p = poplib.POP3(sys.argv[1], int(sys.argv[2]))\n";
    const std::string script = "import poplib, sys\n" + connect +
                               "p.user(sys.argv[3]); p.pass_(sys.argv[4])\n"
                               "count = p.stat()[0]\n"
                               "with open(sys.argv[5], 'ab') as out:\n"
                               "    for i in range(1, count + 1):\n"
                               "        p.list(i)\n"
                               "        out.write(b'\\r\\n'.join(p.retr(i)[1]) + b'\\r\\n')\n"
                               "p.quit()\n"
                               "sys.exit(0 if count == int(sys.argv[6]) else 1)\n";
    test::writeFile(dir + "/loop.py", script);
    return runProgram({"/usr/bin/python3", dir + "/loop.py", server.address(),
                       std::to_string(tls.on() ? kTlsPort : server.port()), server.user(), server.password(),
                       dir + "/all", std::to_string(expected), tls.caFile},
                      expected);
}

// mpop looks the server's address up in the DNS (its reverse name) before it talks. Inside the
// namespace the resolver's packets have nowhere to go and wait out its time-out (about 6 s a run),
// which is no part of receiving mail: the namespace's routing refuses them at once instead.
void refuseNameServers()
{
    std::ifstream conf("/etc/resolv.conf");
    std::string word, address;
    while (conf >> word) {
        if (word == "nameserver" && conf >> address && address.find(':') == std::string::npos &&
            address.find_first_not_of("0123456789.") == std::string::npos)
            if (std::system(("ip route add unreachable " + address + "/32 2>/dev/null").c_str()) != 0)
                std::fprintf(stderr, "no route refuses %s\n", address.c_str());
    }
}

std::string loadAverage()
{
    std::string text = test::readFile("/proc/loadavg");
    return text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
}

// The whole program against mpop and poplib, all over TLS from the same dovecot.
int tlsRounds(test::DovecotPop3& server, const test::TempDir& scratch, int count, int rounds, const Tls& tls)
{
    poplib(server, scratch.file("warm"), count, tls);
    std::vector<double> whole, mpopRates, poplibRates, ratios;
    for (int round = 0; round < rounds; ++round) {
        const std::string r = std::to_string(round);
        whole.push_back(program(server, scratch.file("program" + r), count, tls).rate);
        mpopRates.push_back(mpop(server, scratch.file("mpop" + r), count, tls));
        poplibRates.push_back(poplib(server, scratch.file("poplib" + r), count, tls));
        ratios.push_back(whole.back() / mpopRates.back());
        std::printf("round %d:    program %.0f/s, mpop %.0f/s, poplib %.0f/s: program/mpop %.2f  (load %s)\n", round,
                    whole.back(), mpopRates.back(), poplibRates.back(), ratios.back(), loadAverage().c_str());
    }
    std::printf("messages:   %d of about %zu bytes over TLS (port %d), medians of %d rounds\n", count,
                message(1).size(), kTlsPort, rounds);
    std::printf("program:    %.0f messages/s (command to last id recorded)  ratio to mpop %.2f (goal: at least "
                "1.0)\n",
                median(whole), median(ratios));
    std::printf("mpop:       %.0f messages/s\n", median(mpopRates));
    std::printf("poplib:     %.0f messages/s  program ratio %.2f\n", median(poplibRates),
                median(whole) / median(poplibRates));
    return 0;
}

} // namespace

} // namespace orvalink::mail

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::mail;
    const bool overTls = argc > 1 && std::string_view(argv[1]) == "--tls";
    if (overTls) {
        --argc;
        ++argv;
    }
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (overTls && ::access("/usr/bin/mpop", X_OK) != 0) {
        std::printf("skipped: mpop is not installed\n");
        return 0;
    }
    test::enterPrivateNetwork();
    if (!test::privateNetworkReady()) {
        std::printf("skipped: %s\n", test::privateNetworkSkipReason().c_str());
        return 0;
    }
    refuseNameServers();
    test::TempDir scratch("orvalink-receive-bench");
    test::DovecotPop3 server(test::kPrivateHostAddress);
    Tls tls;
    if (overTls) {
        const auto ca = orvalink::testing::makeCertificate({.name = "Orvalink Bench CA", .ca = true});
        const auto certificate = orvalink::testing::makeCertificate({.name = test::kPrivateHostAddress}, &ca);
        tls.caFile = scratch.file("ca.pem");
        test::writeFile(tls.caFile, ca.certificatePem);
        test::writeFile(scratch.file("server.pem"), certificate.certificatePem);
        test::writeFile(scratch.file("server.key"), certificate.keyPem);
        server.enableTls(scratch.file("server.pem"), scratch.file("server.key"), kTlsPort);
    }
    std::printf("load at start: %s\n", loadAverage().c_str());
    if (!server.start()) {
        std::printf("skipped: %s\n", server.failure().c_str());
        return 0;
    }
    for (int i = 1; i <= count; ++i)
        server.addMessage(message(i));
    if (tls.on())
        return tlsRounds(server, scratch, count, rounds, tls);

    // dovecot builds its index on the first login; that is nobody's cost.
    poplib(server, scratch.file("warm"), count);

    const bool haveMpop = ::access("/usr/bin/mpop", X_OK) == 0;
    std::vector<double> whole, engineRates, mpopRates, poplibRates, wholeRatios, engineRatios, windowMs, receiveMs,
        engineMs;
    for (int round = 0; round < rounds; ++round) {
        const std::string r = std::to_string(round);
        const ProgramRun run = program(server, scratch.file("program" + r), count, {});
        whole.push_back(run.rate);
        windowMs.push_back(run.windowThreadMs);
        receiveMs.push_back(run.receiveThreadMs);
        engineRates.push_back(ours(server, scratch.file("ours" + r), count));
        engineMs.push_back(oursCpuMs);
        if (haveMpop)
            mpopRates.push_back(mpop(server, scratch.file("mpop" + r), count, {}));
        poplibRates.push_back(poplib(server, scratch.file("poplib" + r), count));
        wholeRatios.push_back(whole.back() / poplibRates.back());
        engineRatios.push_back(engineRates.back() / poplibRates.back());
        std::printf("round %d:    program %.0f/s, engine %.0f/s, poplib %.0f/s: program/poplib %.2f\n", round,
                    whole.back(), engineRates.back(), poplibRates.back(), wholeRatios.back());
    }
    std::printf("messages:   %d of about %zu bytes, medians of %d rounds\n", count, message(1).size(), rounds);
    std::printf("program:    %.0f messages/s (command to last id recorded)  ratio to poplib %.2f (goal: at least "
                "0.8)\n",
                median(whole), median(wholeRatios));
    std::printf("engine:     %.0f messages/s (downloaded, converted and filed)  ratio to poplib %.2f\n",
                median(engineRates), median(engineRatios));
    std::printf("CPU:        program %.0f ms on its receive thread and %.0f ms on its window thread; engine alone "
                "%.0f ms (per message %.0f, %.0f and %.0f us)\n",
                median(receiveMs), median(windowMs), median(engineMs), 1000 * median(receiveMs) / count,
                1000 * median(windowMs) / count, 1000 * median(engineMs) / count);
    if (haveMpop)
        std::printf("mpop:       %.0f messages/s  engine ratio %.2f (goal: at least 1.0)\n", median(mpopRates),
                    median(engineRates) / median(mpopRates));
    std::printf("poplib:     %.0f messages/s\n", median(poplibRates));

    // One 50 MB message, the ones before known by their ids: how far the peak memory grows.
    std::string big = "From: big@example.jp\r\nSubject: big\r\n\r\n";
    const std::string line = std::string(998, 'y') + "\r\n";
    while (big.size() < 50u * 1024 * 1024)
        big += line;
    server.addMessage(big);
    big.clear();
    big.shrink_to_fit();
    // Round 0's folder, which every run has: its record holds the ids of the messages before.
    const std::string mailDir = scratch.file("ours0");
    {
        std::ofstream("/proc/self/clear_refs") << "5"; // peak memory starts again from here
    }
    const long before = kilobytes("VmRSS:");
    mail::UidlRecord record(mailDir, server.address(), server.user());
    mail::ReceivedMailFiler filer(mailDir, &record);
    mail::Pop3Engine engine({server.user(), server.password()}, filer, record.load());
    const auto start = Clock::now();
    test::drivePop3(test::connectTcp(server.address(), server.port()), engine);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long peak = kilobytes("VmHWM:");
    const auto folder = *store::folderFsPath(mailDir, store::kReceivedFolder);
    const auto listing = store::readFolderIndex(folder);
    const bool bigFiled = filer.filedCount() == 1 && listing && !listing->entries.empty() &&
                          listing->entries.back().record.bodySize >= 50u * 1024 * 1024;
    std::printf("50 MB:      %s in %.1f s, peak memory grew by %.1f MB (goal: at most 10)\n",
                bigFiled ? "filed" : "NOT FILED", seconds, (peak - before) / 1024.0);
    return bigFiled ? 0 : 1;
}
