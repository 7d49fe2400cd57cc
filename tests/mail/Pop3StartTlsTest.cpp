// POP3 with STARTTLS (CAPA, STLS, then the login inside TLS): each script is fed whole and split at
// every position. The name and the password never go out before the handshake, and a server that
// does not offer STLS gets neither.
#include "mail/ReceiveTestSupport.h"
#include "mail/engine/Pop3Engine.h"

#include <gtest/gtest.h>

namespace orvalink::mail {
namespace {

// サーバーがSTLSに対応していないため、パスワードを送らずに受信を中止しました。
const std::string kNotOffered = "\x83T\x81[\x83o\x81[\x82\xaaSTLS\x82\xc9\x91\xce\x89\x9e\x82\xb5\x82\xc4\x82\xa2\x82"
                                "\xc8\x82\xa2\x82\xbd\x82\xdf\x81"
                                "A\x83p\x83X\x83\x8f\x81[\x83h\x82\xf0\x91\x97\x82\xe7\x82\xb8\x82\xc9\x8e\xf3\x90M"
                                "\x82\xf0\x92\x86\x8e~\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81"
                                "B";
// サーバーの応答:
const std::string kServerReply = "\x83T\x81[\x83o\x81[\x82\xcc\x89\x9e\x93\x9a: ";

struct Conversation {
    std::string sentBeforeTls;
    bool startTls = false;
    std::string sentAfterTls;
    std::vector<std::string> errors;
    int state = 0;
    Pop3Outcome outcome = Pop3Outcome::Running;
    bool operator==(const Conversation&) const = default;
};

// Feeds `beforeTls` in two reads cut at `cut`; when the engine asks for TLS, the handshake
// "succeeds" and `afterTls` is what the server says inside it.
Conversation run(TransportSecurity security, std::string_view beforeTls, std::size_t cut, std::string_view afterTls)
{
    RecordingSink sink;
    Pop3Engine engine({"taro", "pw"}, sink, {}, security);
    Conversation r;
    auto take = [&r](const Pop3Step& step, std::string& sent) {
        sent += step.send;
        r.startTls = r.startTls || step.startTls;
        for (const Pop3Event& e : step.events)
            if (e.kind == Pop3Event::Kind::Error)
                r.errors.push_back(e.text);
    };
    take(engine.feed(beforeTls.substr(0, cut)), r.sentBeforeTls);
    take(engine.feed(beforeTls.substr(cut)), r.sentBeforeTls);
    if (r.startTls) {
        take(engine.tlsEstablished(), r.sentAfterTls);
        take(engine.feed(afterTls), r.sentAfterTls);
    }
    r.state = engine.state();
    r.outcome = engine.outcome();
    return r;
}

TEST(Pop3StartTls, LoginWaitsForTheHandshakeAndNeedsStlsOffered)
{
    const std::string greeting = "+OK ready\r\n";
    struct Case {
        const char* what;
        TransportSecurity security;
        std::string beforeTls;
        std::string afterTls;
        Conversation expected;
    };
    const Case cases[] = {
        {"STLS offered",
         TransportSecurity::StartTls,
         greeting + "+OK\r\nTOP\r\nSTLS\r\nUIDL\r\n.\r\n+OK go\r\n",
         "+OK\r\nUIDL\r\n.\r\n+OK\r\n",
         {"CAPA\r\nSTLS\r\n",
          true,
          "CAPA\r\nUSER taro\r\nPASS pw\r\n",
          {},
          Pop3Engine::PassSent,
          Pop3Outcome::Running}},
        {"no capability list inside TLS",
         TransportSecurity::StartTls,
         greeting + "+OK\r\nSTLS\r\n.\r\n+OK go\r\n",
         "-ERR\r\n",
         {"CAPA\r\nSTLS\r\n", true, "CAPA\r\nUSER taro\r\n", {}, Pop3Engine::UserSent, Pop3Outcome::Running}},
        {"STLS in lower case, last",
         TransportSecurity::StartTls,
         greeting + "+OK list\r\nUSER\r\nstls\r\n.\r\n+OK\r\n",
         "",
         {"CAPA\r\nSTLS\r\n", true, "CAPA\r\n", {}, Pop3Engine::CapaSent, Pop3Outcome::Running}},
        {"clear text after +OK to STLS is dropped",
         TransportSecurity::StartTls,
         greeting + "+OK\r\nSTLS\r\n.\r\n+OK\r\n+OK injected\r\n-ERR injected\r\n",
         "",
         {"CAPA\r\nSTLS\r\n", true, "CAPA\r\n", {}, Pop3Engine::CapaSent, Pop3Outcome::Running}},
        {"no STLS in the list",
         TransportSecurity::StartTls,
         greeting + "+OK\r\nUSER\r\nSTLSX\r\n.\r\n",
         "",
         {"CAPA\r\nQUIT\r\n", false, "", {kNotOffered}, Pop3Engine::QuitSent, Pop3Outcome::Failed}},
        {"no CAPA at all",
         TransportSecurity::StartTls,
         greeting + "-ERR unknown command\r\n",
         "",
         {"CAPA\r\nQUIT\r\n", false, "", {kNotOffered}, Pop3Engine::QuitSent, Pop3Outcome::Failed}},
        {"STLS refused",
         TransportSecurity::StartTls,
         greeting + "+OK\r\nSTLS\r\n.\r\n-ERR not now\r\n",
         "",
         {"CAPA\r\nSTLS\r\nQUIT\r\n",
          false,
          "",
          {kServerReply + "-ERR not now"},
          Pop3Engine::QuitSent,
          Pop3Outcome::Failed}},
        {"plain conversation unchanged",
         TransportSecurity::None,
         greeting + "+OK\r\n",
         "",
         {"USER taro\r\nPASS pw\r\n", false, "", {}, Pop3Engine::PassSent, Pop3Outcome::Running}},
        {"implicit TLS asks the capabilities, then logs in",
         TransportSecurity::Implicit,
         greeting + "+OK\r\nSTLS\r\n.\r\n+OK\r\n",
         "",
         {"CAPA\r\nUSER taro\r\nPASS pw\r\n", false, "", {}, Pop3Engine::PassSent, Pop3Outcome::Running}},
    };
    for (const Case& c : cases) {
        for (std::size_t cut = 0; cut <= c.beforeTls.size(); ++cut) {
            SCOPED_TRACE(std::string(c.what) + ", cut at " + std::to_string(cut));
            const Conversation r = run(c.security, c.beforeTls, cut, c.afterTls);
            ASSERT_EQ(r, c.expected) << "sent " << r.sentBeforeTls << " | " << r.sentAfterTls;
        }
    }
}

TEST(Pop3StartTls, ACapabilityListThatNeverEndsEndsTheDownloadBeforeTheLogin)
{
    // サーバーの機能一覧（CAPA）が長すぎます。パスワードを送らずに受信を中止しました。
    const std::string tooLong = "\x83T\x81[\x83o\x81[\x82\xcc\x8b@\x94\x5c\x88\xea\x97\x97\x81iCAPA\x81j\x82\xaa\x92"
                                "\xb7\x82\xb7\x82\xac\x82\xdc\x82\xb7\x81"
                                "B\x83p\x83X\x83\x8f\x81[\x83h\x82\xf0\x91\x97\x82\xe7\x82\xb8\x82\xc9\x8e\xf3\x90M"
                                "\x82\xf0\x92\x86\x8e~\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81"
                                "B";
    const std::string head = "+OK ready\r\n+OK\r\nSTLS\r\n";
    std::string manyLines = head, longLines = head;
    for (int i = 1; i < Pop3Engine::kMaxCapaLines; ++i) // STLS is the first line
        manyLines += "X-" + std::to_string(i) + "\r\n";
    const std::string lastAllowed = manyLines;
    manyLines += "X-LAST\r\n";
    while (longLines.size() < head.size() + Pop3Engine::kMaxCapaBytes)
        longLines += "X-" + std::string(4000, 'c') + "\r\n";
    const Conversation failed{"CAPA\r\nQUIT\r\n", false, "", {tooLong}, Pop3Engine::QuitSent, Pop3Outcome::Failed};
    // Split at every position (the 65 KB of long lines at every 61st).
    for (const std::string& script : {manyLines, longLines})
        for (std::size_t cut = 0; cut <= script.size(); cut += script == longLines ? 61 : 1) {
            SCOPED_TRACE(std::to_string(script.size()) + " bytes cut at " + std::to_string(cut));
            ASSERT_EQ(run(TransportSecurity::StartTls, script, cut, ""), failed);
        }
    // Up to the bound it is a capability list still being read.
    const Conversation waiting = run(TransportSecurity::StartTls, lastAllowed, 0, "");
    EXPECT_EQ(waiting.sentBeforeTls, "CAPA\r\n");
    EXPECT_EQ(waiting.outcome, Pop3Outcome::Running);
}

// What the server listed in clear is forgotten: only PIPELINING listed inside TLS counts.
TEST(Pop3StartTls, PipeliningCountsOnlyWhenListedInsideTls)
{
    for (const bool insideToo : {false, true}) {
        RecordingSink sink;
        Pop3Engine engine({"taro", "pw"}, sink, {}, TransportSecurity::StartTls);
        engine.feed("+OK\r\n+OK\r\nSTLS\r\nPIPELINING\r\n.\r\n+OK\r\n");
        engine.tlsEstablished();
        engine.feed(std::string("+OK\r\n") + (insideToo ? "PIPELINING\r\n" : "") + ".\r\n+OK\r\n+OK\r\n" +
                    "+OK 1 10\r\n-ERR\r\n+OK\r\n1 10\r\n.\r\n");
        EXPECT_EQ(engine.pipelining(), insideToo);
    }
}

TEST(Pop3StartTls, SilenceOrAbortDuringTheHandshakeSendsNoLogin)
{
    RecordingSink sink;
    Pop3Engine engine({"taro", "pw"}, sink, {}, TransportSecurity::StartTls);
    engine.feed("+OK\r\n+OK\r\nSTLS\r\n.\r\n");
    ASSERT_TRUE(engine.feed("+OK\r\n").startTls);
    const Pop3Step silent = engine.timedOut();
    EXPECT_EQ(silent.send, "QUIT\r\n");
    EXPECT_TRUE(silent.disconnect);
    EXPECT_EQ(engine.outcome(), Pop3Outcome::Failed);
    // A handshake that finishes after all changes nothing.
    EXPECT_EQ(engine.tlsEstablished().send, "");
}

} // namespace
} // namespace orvalink::mail
