// The POP3 engine on byte scripts: every script is fed whole, one byte per read and split at every
// position, and must give the same commands, window events and messages each time. The texts the
// window shows are written out here, not taken from the engine's own definitions, so that a wrong
// text is caught.
#include "mail/engine/Pop3Engine.h"

#include "mail/ReceiveTestSupport.h"

#include <climits>
#include <gtest/gtest.h>

namespace orvalink::mail {

namespace {

enum class End { Open, Closed, Silent };

struct Outcome {
    std::string sent;
    std::vector<Pop3Event> events;
    std::string calls;
    std::vector<std::string> data;
    std::vector<std::string> ids;
    Pop3Outcome outcome = Pop3Outcome::Running;
    int state = 0;
    bool disconnect = false;

    bool operator==(const Outcome&) const = default;
};

std::vector<std::string> errorsOf(const Outcome& o)
{
    std::vector<std::string> errors;
    for (const Pop3Event& e : o.events)
        if (e.kind == Kind::Error)
            errors.push_back(e.text);
    return errors;
}

std::string textOf(const Outcome& o, Kind kind)
{
    std::string last;
    for (const Pop3Event& e : o.events)
        if (e.kind == kind)
            last = e.text;
    return last;
}

void take(Outcome& o, const Pop3Step& step)
{
    o.sent += step.send;
    o.events.insert(o.events.end(), step.events.begin(), step.events.end());
    o.disconnect = o.disconnect || step.disconnect;
}

// Feeds the server's bytes in pieces ending at `cuts`, then ends as `end` says.
Outcome run(std::string_view server, const std::vector<std::size_t>& cuts, End end = End::Open,
            std::set<std::string> filed = {}, TransportSecurity security = TransportSecurity::None)
{
    RecordingSink sink;
    Pop3Engine engine({"taro", "pw"}, sink, std::move(filed), security);
    Outcome o;
    std::size_t at = 0;
    for (const std::size_t cut : cuts) {
        take(o, engine.feed(server.substr(at, cut - at)));
        at = cut;
    }
    take(o, engine.feed(server.substr(at)));
    if (end == End::Closed)
        take(o, engine.connectionClosed());
    if (end == End::Silent)
        take(o, engine.timedOut());
    o.calls = sink.calls;
    for (const auto& m : sink.messages) {
        o.data.push_back(m.data);
        o.ids.push_back(m.id);
    }
    o.outcome = engine.outcome();
    o.state = engine.state();
    return o;
}

// The outcome of the whole script; fails the test when any split of it gives another.
Outcome runEverySplit(std::string_view server, End end = End::Open, const std::set<std::string>& filed = {},
                      TransportSecurity security = TransportSecurity::None)
{
    const Outcome whole = run(server, {}, end, filed, security);
    std::vector<std::size_t> bytewise;
    for (std::size_t i = 1; i < server.size(); ++i)
        bytewise.push_back(i);
    EXPECT_EQ(run(server, bytewise, end, filed, security), whole) << "one byte per read";
    for (std::size_t i = 1; i < server.size(); ++i) {
        if (!(run(server, {i}, end, filed, security) == whole)) {
            ADD_FAILURE() << "split at " << i;
            break;
        }
    }
    return whole;
}

const std::string kLogin = "+OK ready\r\n+OK\r\n+OK logged in\r\n";
const std::string kLoginSent = "USER taro\r\nPASS pw\r\nSTAT\r\n";

// A window text with numbers put in, from its pattern written out in UTF-8.
std::string sjf(const char* utf8Pattern, int a, int b = 0, int c = 0)
{
    char text[512];
    std::snprintf(text, sizeof text, sj(utf8Pattern).c_str(), a, b, c);
    return text;
}

std::string statText(int count, int size)
{
    return sjf("%d通のメール（合計%dバイト）があります\n", count, size);
}

std::string listText(int number, int size)
{
    return sjf("第%dメールは%dバイト\n", number, size);
}

std::string serverSaid(const std::string& reply)
{
    return sj("サーバーの応答: ") + reply;
}

const std::string kTimedOutText = sj("サーバーから60秒間応答がありません。受信を中止しました。");

TEST(Pop3Engine, ThreeMessagesWithoutUidlAreListedRetrievedAndCompletedInOrder)
{
    const std::string server = kLogin + "+OK 3 60\r\n-ERR no UIDL here\r\n"
                                        "+OK 1 20\r\n+OK 20 octets\r\nSubject: one\r\n\r\nbody\r\n.\r\n"
                                        "+OK 2 20\r\n+OK\r\n..stuffed\r\n...\r\n.\r\n"
                                        "+OK 3 20\r\n+OK\r\nlast\r\n.\r\n+OK bye\r\n";
    const Outcome o = runEverySplit(server);
    EXPECT_EQ(o.sent, kLoginSent + "UIDL\r\nLIST 1\r\nRETR 1\r\nLIST 2\r\nRETR 2\r\nLIST 3\r\nRETR 3\r\nQUIT\r\n");
    EXPECT_EQ(o.calls, "begin 1;complete 1;begin 2;complete 2;begin 3;complete 3;");
    EXPECT_EQ(o.data, (std::vector<std::string>{"Subject: one\r\n\r\nbody\r\n", ".stuffed\r\n..\r\n", "last\r\n"}));
    EXPECT_EQ(o.ids, (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(o.outcome, Pop3Outcome::Done);
    EXPECT_TRUE(errorsOf(o).empty());

    const std::vector<Pop3Event> expected = {
        {Kind::StatusLine, sj("ユーザー名送信")},
        {Kind::StatusLine, sj("パスワード送信")},
        {Kind::StatusLine, sj("リスト取得")},
        {Kind::StatusLine, statText(3, 60)},
        {Kind::ProgressRange, {}, 60},
        {Kind::MessageLine, listText(1, 20)},
        {Kind::ProgressPosition, {}, 20},
        {Kind::MessageLine, listText(2, 20)},
        {Kind::ProgressPosition, {}, 40},
        {Kind::MessageLine, listText(3, 20)},
        {Kind::ProgressPosition, {}, 60},
        {Kind::Finished, {}},
    };
    EXPECT_EQ(o.events, expected);
}

TEST(Pop3Engine, UidlListsAndRetrievesOnlyMessagesNotFiledBefore)
{
    const std::string server = kLogin + "+OK 3 30\r\n+OK\r\n1 aaa\r\n2 bbb\r\n3 ccc\r\n.\r\n"
                                        "+OK\r\n1 10\r\n2 10\r\n3 10\r\n.\r\n"
                                        "+OK 2 10\r\n+OK\r\ntwo\r\n.\r\n+OK\r\n";
    const Outcome o = runEverySplit(server, End::Open, {"aaa", "ccc"});
    EXPECT_EQ(o.sent, kLoginSent + "UIDL\r\nLIST\r\nLIST 2\r\nRETR 2\r\nQUIT\r\n");
    EXPECT_EQ(o.ids, std::vector<std::string>{"bbb"});
    EXPECT_EQ(o.outcome, Pop3Outcome::Done);

    const Outcome none =
        runEverySplit(kLogin + "+OK 2 20\r\n+OK\r\n1 aaa\r\n2 bbb\r\n.\r\n+OK\r\n", End::Open, {"aaa", "bbb"});
    EXPECT_EQ(none.sent, kLoginSent + "UIDL\r\nQUIT\r\n");
    EXPECT_EQ(none.calls, "");
}

std::vector<int> valuesOf(const Outcome& o, Kind kind)
{
    std::vector<int> values;
    for (const Pop3Event& e : o.events)
        if (e.kind == kind)
            values.push_back(e.value);
    return values;
}

// When ids leave messages out, the bar measures only the messages fetched: its range becomes the
// sum of their listed sizes and its last position reaches it.
TEST(Pop3Engine, ProgressMeasuresOnlyTheMessagesFetched)
{
    struct Case {
        const char* name;
        std::string server;
        std::set<std::string> filed;
        std::string sent;
        std::vector<int> ranges;
        std::vector<int> positions;
    };
    const std::string ids = "+OK\r\n1 aaa\r\n2 bbb\r\n3 ccc\r\n.\r\n";
    const std::string sizes = "+OK 3 messages\r\n1 10\r\n2 20\r\n3 30\r\n.\r\n";
    const std::string fetch23 = "+OK 2 20\r\n+OK\r\nb\r\n.\r\n+OK 3 30\r\n+OK\r\nc\r\n.\r\n+OK\r\n";
    const std::string fetch23Sent = "LIST 2\r\nRETR 2\r\nLIST 3\r\nRETR 3\r\nQUIT\r\n";
    const std::vector<Case> cases = {
        {"one of three filed before",
         kLogin + "+OK 3 60\r\n" + ids + sizes + fetch23,
         {"aaa"},
         "UIDL\r\nLIST\r\n" + fetch23Sent,
         {60, 50},
         {20, 50}},
        {"all filed before",
         kLogin + "+OK 3 60\r\n" + ids + "+OK\r\n",
         {"aaa", "bbb", "ccc"},
         "UIDL\r\nQUIT\r\n",
         {60, 0},
         {}},
        // Every message is new: the STAT size is the total, no listing of sizes is asked for.
        {"none filed before",
         kLogin + "+OK 3 60\r\n" + ids + "+OK 1 10\r\n+OK\r\na\r\n.\r\n" + fetch23,
         {},
         "UIDL\r\nLIST 1\r\nRETR 1\r\n" + fetch23Sent,
         {60},
         {10, 30, 60}},
        // A server that will not list the sizes: the STAT range and the LIST n steps, as without ids.
        {"sizes refused",
         kLogin + "+OK 3 60\r\n" + ids + "-ERR not now\r\n" + fetch23,
         {"aaa"},
         "UIDL\r\nLIST\r\n" + fetch23Sent,
         {60},
         {20, 50}},
        // A size named twice keeps the first, a message the listing leaves out counts 0, odd lines are
        // passed over, and the steps use the listed sizes even where LIST n says otherwise.
        {"odd listing",
         kLogin + "+OK 3 60\r\n" + ids + "+OK\r\n2 20\r\n2 999\r\nx\r\n9 5\r\n7\r\n.\r\n" + fetch23,
         {"aaa"},
         "UIDL\r\nLIST\r\n" + fetch23Sent,
         {60, 20},
         {20, 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = runEverySplit(c.server, End::Open, c.filed);
        EXPECT_EQ(o.sent, kLoginSent + c.sent);
        EXPECT_EQ(valuesOf(o, Kind::ProgressRange), c.ranges);
        EXPECT_EQ(valuesOf(o, Kind::ProgressPosition), c.positions);
        EXPECT_EQ(o.outcome, Pop3Outcome::Done);
        EXPECT_TRUE(errorsOf(o).empty());
    }
}

// After an abort, the rest of the listing of sizes is read past before the answer to QUIT.
TEST(Pop3Engine, AbortDuringTheListingOfSizesReadsPastIt)
{
    RecordingSink sink;
    Pop3Engine engine({"taro", "pw"}, sink, {"aaa"});
    Outcome o;
    take(o, engine.feed(kLogin + "+OK 2 20\r\n+OK\r\n1 aaa\r\n2 bbb\r\n.\r\n+OK\r\n1 10\r\n"));
    EXPECT_EQ(engine.state(), Pop3Engine::SizesSent);
    take(o, engine.abort());
    take(o, engine.feed("+OK not the answer to QUIT\r\n.\r\n"));
    EXPECT_TRUE(engine.waitingForServer());
    take(o, engine.feed("+OK bye\r\n"));
    EXPECT_FALSE(engine.waitingForServer());
    EXPECT_EQ(o.sent, kLoginSent + "UIDL\r\nLIST\r\nQUIT\r\n");
    EXPECT_EQ(engine.outcome(), Pop3Outcome::Aborted);
    EXPECT_EQ(sink.calls, "");
}

TEST(Pop3Engine, EmptyMailboxQuitsAtOnce)
{
    const Outcome o = runEverySplit(kLogin + "+OK 0 0\r\n+OK bye\r\n");
    EXPECT_EQ(o.sent, kLoginSent + "QUIT\r\n");
    EXPECT_EQ(textOf(o, Kind::StatusLine), statText(0, 0));
    EXPECT_EQ(o.outcome, Pop3Outcome::Done);
}

// A message ends at its "." line whatever LIST said; the size still moves the bar.
TEST(Pop3Engine, MessageEndsAtItsTerminatorNotAtTheListedSize)
{
    for (const int listed : {3, 20, 5000}) {
        const std::string server = kLogin + "+OK 1 5\r\n-ERR\r\n+OK 1 " + std::to_string(listed) +
                                   "\r\n+OK\r\nline one\r\nline two\r\n.\r\n+OK\r\n";
        const Outcome o = runEverySplit(server);
        EXPECT_EQ(o.data, std::vector<std::string>{"line one\r\nline two\r\n"}) << listed;
        EXPECT_EQ(o.calls, "begin 1;complete 1;") << listed;
        EXPECT_EQ(textOf(o, Kind::MessageLine), listText(1, listed));
        EXPECT_EQ(o.outcome, Pop3Outcome::Done);
    }
}

struct FailureCase {
    const char* name;
    std::string server;
    End end;
    std::string sent;
    std::string calls;
    std::vector<std::string> errors;
    int state;
    bool disconnect;
    Pop3Outcome outcome;
};

TEST(Pop3Engine, FailuresEndTheDownloadWithTheirTextAndQuit)
{
    const std::string dropped = sjf("第%dメールの受信中に接続が切れました。このメールは保存していません。", 1);
    const std::string retr1 = kLogin + "+OK 1 10\r\n-ERR\r\n+OK 1 10\r\n";
    const std::string retr1Sent = kLoginSent + "UIDL\r\nLIST 1\r\nRETR 1\r\n";
    const std::vector<FailureCase> cases = {
        {"negative greeting",
         "-ERR go away\r\n",
         End::Open,
         "QUIT\r\n",
         "",
         {serverSaid("-ERR go away")},
         9,
         false,
         Pop3Outcome::Failed},
        {"wrong password",
         "+OK\r\n+OK\r\n-ERR [AUTH] Authentication failed.\r\n+OK\r\n",
         End::Open,
         "USER taro\r\nPASS pw\r\nQUIT\r\n",
         "",
         {serverSaid("-ERR [AUTH] Authentication failed.")},
         9,
         false,
         Pop3Outcome::Failed},
        {"unexpected reply",
         kLogin + "hello there\r\n",
         End::Open,
         kLoginSent + "QUIT\r\n",
         "",
         {serverSaid("hello there")},
         9,
         false,
         Pop3Outcome::Failed},
        {"RETR refused",
         retr1 + "-ERR gone\r\n",
         End::Open,
         retr1Sent + "QUIT\r\n",
         "",
         {serverSaid("-ERR gone")},
         9,
         false,
         Pop3Outcome::Failed},
        {"silent server", "", End::Silent, "QUIT\r\n", "", {kTimedOutText}, 9, true, Pop3Outcome::Failed},
        {"silent in a message",
         retr1 + "+OK\r\nhalf a me",
         End::Silent,
         retr1Sent + "QUIT\r\n",
         "begin 1;abandon 1;",
         {kTimedOutText},
         9,
         true,
         Pop3Outcome::Failed},
        {"dropped in a message",
         retr1 + "+OK\r\nhalf a message\r\n.",
         End::Closed,
         retr1Sent,
         "begin 1;abandon 1;",
         {dropped},
         8,
         false,
         Pop3Outcome::Failed},
        {"dropped before the end",
         kLogin,
         End::Closed,
         kLoginSent,
         "",
         {sj("受信が終わる前にサーバーとの接続が切れました。")},
         4,
         false,
         Pop3Outcome::Failed},
        {"reply line too long",
         "+OK " + std::string(Pop3Engine::kMaxReplyLine, 'x'),
         End::Open,
         "QUIT\r\n",
         "",
         {sj("サーバーの応答行が長すぎます。受信を中止しました。")},
         9,
         true,
         Pop3Outcome::Failed},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = runEverySplit(c.server, c.end);
        EXPECT_EQ(o.sent, c.sent);
        EXPECT_EQ(o.calls, c.calls);
        EXPECT_EQ(errorsOf(o), c.errors);
        EXPECT_EQ(o.state, c.state);
        EXPECT_EQ(o.disconnect, c.disconnect);
        EXPECT_EQ(o.outcome, c.outcome);
    }
}

// After an error the QUIT's answer or the server's close ends the conversation; the window stays
// open because the outcome is Failed.
TEST(Pop3Engine, FailedDownloadFinishesWhenTheServerCloses)
{
    const Outcome o = runEverySplit("+OK\r\n+OK\r\n-ERR no\r\n", End::Closed);
    EXPECT_EQ(o.outcome, Pop3Outcome::Failed);
    EXPECT_EQ(o.events.back().kind, Kind::Finished);
    EXPECT_EQ(errorsOf(o), std::vector<std::string>{serverSaid("-ERR no")});
}

TEST(Pop3Engine, NumbersAreReadSafely)
{
    struct Case {
        std::string stat;
        int count;
        int size;
    };
    const std::vector<Case> cases = {
        {"+OK\r\n", 0, 0},
        {"+OK 2\r\n", 2, 0},
        {"+OK -5 -7\r\n", 0, 0},
        {"+OK x y\r\n", 0, 0},
        {"+OK 99999999999999999999 4294967296\r\n", INT_MAX, INT_MAX},
        {"+OK 12abc 34 extra\r\n", 12, 34},
    };
    for (const Case& c : cases) {
        RecordingSink sink;
        Pop3Engine engine({"taro", "pw"}, sink);
        Outcome o;
        take(o, engine.feed(kLogin + c.stat));
        EXPECT_EQ(textOf(o, Kind::StatusLine), statText(c.count, c.size)) << c.stat;
        EXPECT_EQ(o.sent, kLoginSent + (c.count > 0 ? "UIDL\r\n" : "QUIT\r\n")) << c.stat;
        EXPECT_EQ(engine.messageCount(), c.count);
    }

    // The LIST size beyond 32 bits: the bar saturates instead of wrapping (the messages are too
    // large to be fetched, so they are passed over).
    const Outcome o = runEverySplit(kLogin + "+OK 2 10\r\n-ERR\r\n+OK 1 99999999999\r\n+OK 2 99999999999\r\n+OK\r\n");
    EXPECT_EQ(o.sent, kLoginSent + "UIDL\r\nLIST 1\r\nLIST 2\r\nQUIT\r\n");
    EXPECT_EQ(valuesOf(o, Kind::ProgressPosition), (std::vector<int>{INT_MAX, INT_MAX}));
}

// Whatever the UIDL listing leaves out, names out of order or twice, every message whose id is not
// among the filed ones is fetched, and an id is the whole rest of its line.
TEST(Pop3Engine, UidlListingDecidesOnlyWhatIsFiledAlready)
{
    struct Case {
        const char* name;
        std::string listing;
        std::set<std::string> filed;
        std::vector<int> fetched;
        std::vector<std::string> ids;
    };
    const std::string longId(200, 'x');
    const std::vector<Case> cases = {
        {"in order", "1 aaa\r\n2 bbb\r\n3 ccc\r\n", {"bbb"}, {1, 3}, {"aaa", "ccc"}},
        {"out of order", "3 ccc\r\n1 aaa\r\n2 bbb\r\n", {"aaa"}, {2, 3}, {"bbb", "ccc"}},
        {"one left out", "1 aaa\r\n3 ccc\r\n", {"aaa", "ccc"}, {2}, {""}},
        {"none listed", "", {"aaa"}, {1, 2, 3}, {"", "", ""}},
        {"named twice: the first id holds", "1 aaa\r\n1 bbb\r\n2 bbb\r\n3 ccc\r\n", {"aaa", "ccc"}, {2}, {"bbb"}},
        {"numbers beyond the count or none",
         "0 aaa\r\n9 bbb\r\nx ccc\r\n4\r\n",
         {"aaa", "bbb", "ccc"},
         {1, 2, 3},
         {"", "", ""}},
        {"ids with spaces are not cut", "1 a b\r\n2 a c\r\n3  lead\r\n", {"a b", " lead"}, {2}, {"a c"}},
        {"long ids and control bytes kept",
         "1 " + longId + "\r\n2 t\tab\x01\x7f\xff\r\n3 ok\r\n",
         {"ok"},
         {1, 2},
         {longId, "t\tab\x01\x7f\xff"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string server = kLogin + "+OK 3 30\r\n+OK\r\n" + c.listing + ".\r\n";
        std::string sent = kLoginSent + "UIDL\r\n";
        if (c.fetched.size() < 3) {
            server += "+OK\r\n1 10\r\n2 10\r\n3 10\r\n.\r\n";
            sent += "LIST\r\n";
        }
        for (const int n : c.fetched) {
            server += "+OK " + std::to_string(n) + " 10\r\n+OK\r\nm" + std::to_string(n) + "\r\n.\r\n";
            sent += "LIST " + std::to_string(n) + "\r\nRETR " + std::to_string(n) + "\r\n";
        }
        server += "+OK\r\n";
        sent += "QUIT\r\n";
        const Outcome o = runEverySplit(server, End::Open, c.filed);
        EXPECT_EQ(o.sent, sent);
        EXPECT_EQ(o.ids, c.ids);
        EXPECT_EQ(o.outcome, Pop3Outcome::Done);
        // The bar's range and last position agree whatever was left out.
        const std::vector<int> ranges = valuesOf(o, Kind::ProgressRange);
        const std::vector<int> positions = valuesOf(o, Kind::ProgressPosition);
        ASSERT_FALSE(positions.empty());
        EXPECT_EQ(positions.back(), ranges.back());
    }
}

// A listing longer than the mailbox it lists ends the download before memory grows with it.
TEST(Pop3Engine, ListingsAreBounded)
{
    const std::string tooLong = sj("サーバーの一覧が長すぎます。受信を中止しました。");
    std::string manyLines;
    for (int i = 0; i < 3 + 17; ++i)
        manyLines += "1 id" + std::to_string(i) + "\r\n";
    std::string justEnough;
    for (int i = 0; i < 3 + 16; ++i)
        justEnough += "1 id" + std::to_string(i) + "\r\n";
    const std::string filedOne = "+OK\r\n1 aaa\r\n.\r\n";
    struct Case {
        const char* name;
        std::string server;
        std::vector<std::string> errors;
    };
    const std::vector<Case> cases = {
        {"UIDL past the count", kLogin + "+OK 3 30\r\n+OK\r\n" + manyLines, {tooLong}},
        {"LIST past the count", kLogin + "+OK 3 30\r\n" + filedOne + "+OK\r\n" + manyLines, {tooLong}},
        {"UIDL within the margin", kLogin + "+OK 3 30\r\n+OK\r\n" + justEnough + ".\r\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = runEverySplit(c.server, End::Open, {"aaa", "id0"});
        EXPECT_EQ(errorsOf(o), c.errors);
        if (!c.errors.empty()) {
            EXPECT_EQ(o.outcome, Pop3Outcome::Failed);
            EXPECT_TRUE(o.disconnect);
        }
    }

    // A STAT count that allows any number of lines: the bytes of the listing are the limit.
    RecordingSink sink;
    Pop3Engine engine({"taro", "pw"}, sink);
    Outcome o;
    take(o, engine.feed(kLogin + "+OK 2147483647 30\r\n+OK\r\n"));
    const std::string line = "1 " + std::string(998, 'u') + "\r\n";
    std::string chunk;
    while (chunk.size() < 65536)
        chunk += line;
    std::size_t fed = 0;
    while (engine.waitingForServer() && fed < 4 * Pop3Engine::kMaxListingBytes) {
        take(o, engine.feed(chunk));
        fed += chunk.size();
    }
    EXPECT_FALSE(engine.waitingForServer());
    EXPECT_LE(fed, Pop3Engine::kMaxListingBytes + chunk.size());
    EXPECT_EQ(errorsOf(o), std::vector<std::string>{tooLong});
}

TEST(Pop3Engine, AbortInAMessageDropsItAndReadsPastItsRest)
{
    RecordingSink sink;
    Pop3Engine engine({"taro", "pw"}, sink);
    Outcome o;
    take(o, engine.feed(kLogin + "+OK 1 10\r\n-ERR\r\n+OK 1 10\r\n+OK\r\nfirst part\r\n"));
    take(o, engine.abort());
    EXPECT_EQ(engine.state(), Pop3Engine::QuitSent);
    take(o, engine.feed("+OK not the answer to QUIT\r\n.\r\n"));
    EXPECT_TRUE(engine.waitingForServer());
    take(o, engine.feed("+OK bye\r\n"));
    EXPECT_FALSE(engine.waitingForServer());
    EXPECT_EQ(o.sent, kLoginSent + "UIDL\r\nLIST 1\r\nRETR 1\r\nQUIT\r\n");
    EXPECT_EQ(sink.calls, "begin 1;abandon 1;");
    EXPECT_EQ(engine.outcome(), Pop3Outcome::Aborted);
    EXPECT_TRUE(errorsOf(o).empty());
}

// A message the sink could not file is named in the error list, the download goes on with the
// next one, and it ends as Failed so that the window stays open.
TEST(Pop3Engine, MessagesNotFiledAreNamedAndTheDownloadEndsFailed)
{
    const std::string server = kLogin + "+OK 2 20\r\n-ERR\r\n+OK 1 10\r\n+OK\r\none\r\n.\r\n"
                                        "+OK 2 10\r\n+OK\r\ntwo\r\n.\r\n+OK\r\n";
    const std::string first = sj("第1メール: ");
    const std::string second = sj("第2メール: ");
    const std::string named = sj("第2メールは記録済み");
    struct Case {
        const char* name;
        std::string failBegin;
        std::string failWrite;
        std::vector<std::string> completeErrors;
        std::vector<std::string> endErrors;
        std::string calls;
        std::vector<std::string> errors;
    };
    const std::vector<Case> cases = {
        {"nothing goes wrong", "", "", {}, {}, "begin 1;complete 1;begin 2;complete 2;", {}},
        {"no file can be made",
         "no folder",
         "",
         {},
         {},
         "begin 1;begin 2;",
         {first + "no folder", second + "no folder"}},
        {"disk full",
         "",
         "disk full",
         {},
         {},
         "begin 1;abandon 1;begin 2;abandon 2;",
         {first + "disk full", second + "disk full"}},
        {"filing fails",
         "",
         "",
         {"kept"},
         {},
         "begin 1;complete 1;begin 2;complete 2;",
         {first + "kept", second + "kept"}},
        // A text that already names its message is not named twice.
        {"filing names the message",
         "",
         "",
         {named},
         {},
         "begin 1;complete 1;begin 2;complete 2;",
         {first + named, named}},
        {"ids cannot be recorded", "", "", {}, {"no record"}, "begin 1;complete 1;begin 2;complete 2;", {"no record"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        struct Sink : RecordingSink {
            std::vector<std::string> downloadEnded() override { return endErrors; }
            std::vector<std::string> endErrors;
        } sink;
        sink.failBegin = c.failBegin;
        sink.failWrite = c.failWrite;
        sink.completeErrors = c.completeErrors;
        sink.endErrors = c.endErrors;
        Pop3Engine engine({"taro", "pw"}, sink);
        Outcome o;
        take(o, engine.feed(server));
        EXPECT_EQ(sink.calls, c.calls);
        EXPECT_EQ(o.sent, kLoginSent + "UIDL\r\nLIST 1\r\nRETR 1\r\nLIST 2\r\nRETR 2\r\nQUIT\r\n");
        EXPECT_EQ(errorsOf(o), c.errors);
        EXPECT_EQ(engine.outcome(), c.errors.empty() ? Pop3Outcome::Done : Pop3Outcome::Failed);
        EXPECT_EQ(o.events.back().kind, Kind::Finished);
    }
}

// A message over the size limit is not filed; the list names it with the limit, and the rest of
// the download goes on.
TEST(Pop3Engine, MessagesOverTheSizeLimitAreSkipped)
{
    const int limit = static_cast<int>(Pop3Engine::kMaxMessageSize);
    const std::string over = std::to_string(limit + 1);
    const Outcome o =
        runEverySplit(kLogin + "+OK 2 20\r\n-ERR\r\n+OK 1 " + over + "\r\n+OK 2 10\r\n+OK\r\ntwo\r\n.\r\n+OK\r\n");
    EXPECT_EQ(o.sent, kLoginSent + "UIDL\r\nLIST 1\r\nLIST 2\r\nRETR 2\r\nQUIT\r\n");
    EXPECT_EQ(o.calls, "begin 2;complete 2;");
    EXPECT_EQ(errorsOf(o), std::vector<std::string>{sjf(
                               "第%dメールは%dバイトあり、上限の64 MBを超えるため受信しませんでした。", 1, limit + 1)});
    EXPECT_EQ(o.outcome, Pop3Outcome::Failed);

    // The size was a lie: the data grows past the limit, is dropped to its end, and the next
    // message is still fetched.
    const std::string chunk = [] {
        std::string c;
        while (c.size() < 65536)
            c += std::string(510, 'z') + "\r\n";
        return c;
    }();
    const std::string grew = sjf("第%dメールが上限の64 MBを超えたため、このメールは保存していません。", 1);
    {
        RecordingSink sink;
        sink.keepData = false;
        Pop3Engine engine({"taro", "pw"}, sink);
        Outcome out;
        take(out, engine.feed(kLogin + "+OK 2 20\r\n-ERR\r\n+OK 1 10\r\n+OK\r\n"));
        for (std::size_t fed = 0; fed <= static_cast<std::size_t>(limit); fed += chunk.size())
            take(out, engine.feed(chunk));
        take(out, engine.feed(chunk + ".\r\n+OK 2 10\r\n+OK\r\ntwo\r\n.\r\n+OK\r\n"));
        EXPECT_EQ(sink.calls, "begin 1;abandon 1;begin 2;complete 2;");
        EXPECT_LE(sink.totalWritten, static_cast<std::size_t>(limit) + 5);
        EXPECT_EQ(out.sent, kLoginSent + "UIDL\r\nLIST 1\r\nRETR 1\r\nLIST 2\r\nRETR 2\r\nQUIT\r\n");
        EXPECT_EQ(errorsOf(out), std::vector<std::string>{grew});
        EXPECT_EQ(engine.outcome(), Pop3Outcome::Failed);
    }
    // ... and when it never ends, the download ends after as much again.
    {
        RecordingSink sink;
        sink.keepData = false;
        Pop3Engine engine({"taro", "pw"}, sink);
        Outcome out;
        take(out, engine.feed(kLogin + "+OK 2 20\r\n-ERR\r\n+OK 1 10\r\n+OK\r\n"));
        std::size_t fed = 0;
        while (engine.waitingForServer() && fed < 4u * static_cast<std::size_t>(limit)) {
            take(out, engine.feed(chunk));
            fed += chunk.size();
        }
        EXPECT_FALSE(engine.waitingForServer());
        EXPECT_LE(fed, 2u * static_cast<std::size_t>(limit) + chunk.size());
        EXPECT_EQ(sink.calls, "begin 1;abandon 1;");
        EXPECT_TRUE(out.disconnect);
        EXPECT_EQ(errorsOf(out),
                  (std::vector<std::string>{grew, sjf("第%dメールが終わらないため、受信を中止しました。", 1)}));
        EXPECT_EQ(engine.outcome(), Pop3Outcome::Failed);
    }
}

// The bar moves with the bytes of a message as they arrive, never past the message's size, and
// stops at the sum of the sizes.
TEST(Pop3Engine, ProgressMovesWithTheBytesOfEachMessage)
{
    const int step = static_cast<int>(Pop3Engine::kProgressStep);
    // 40 lines of 1,000 bytes: two steps of the bar pass within the message.
    std::string body;
    for (int i = 0; i < 40; ++i)
        body += std::string(998, 'b') + "\r\n";
    struct Case {
        const char* name;
        int listed;
        std::vector<int> positions;
    };
    const std::vector<Case> cases = {
        {"true size", 40003, {step, 2 * step, 40003, 40003 + 10}},
        {"size too small", 20000, {step, 20000, 20000, 20000 + 10}},
        {"size too large", 90000, {step, 2 * step, 90000, 90000 + 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string server = kLogin + "+OK 2 100\r\n-ERR\r\n+OK 1 " + std::to_string(c.listed) + "\r\n+OK\r\n" +
                                   body + ".\r\n+OK 2 10\r\n+OK\r\nx\r\n.\r\n+OK\r\n";
        // Split at every position would take long for this size: whole, bytewise and a few cuts.
        const Outcome whole = run(server, {});
        EXPECT_EQ(valuesOf(whole, Kind::ProgressPosition), c.positions);
        std::vector<std::size_t> bytewise;
        for (std::size_t i = 1; i < server.size(); ++i)
            bytewise.push_back(i);
        EXPECT_EQ(run(server, bytewise), whole);
        for (const std::size_t cut : {std::size_t{100}, std::size_t{16500}, server.size() / 2, server.size() - 30})
            EXPECT_EQ(run(server, {cut}), whole) << cut;
    }
}

// A message far larger than any buffer reaches the sink in bounded pieces, with the LIST size
// far off.
TEST(Pop3Engine, LargeMessageStreamsInBoundedPieces)
{
    RecordingSink sink;
    sink.keepData = false;
    Pop3Engine engine({"taro", "pw"}, sink);
    engine.feed(kLogin + "+OK 1 100\r\n-ERR\r\n+OK 1 100\r\n+OK\r\n");
    const std::string line = std::string(998, 'x') + "\r\n";
    std::string chunk;
    while (chunk.size() < 65536)
        chunk += line;
    std::size_t sent = 0;
    while (sent < 50u * 1024 * 1024) {
        engine.feed(chunk);
        sent += chunk.size();
    }
    // One line without any line end, longer than every buffer.
    engine.feed(std::string(3 * 65536, 'y'));
    const Pop3Step end = engine.feed("\r\n.\r\n+OK\r\n");
    EXPECT_EQ(end.send, "QUIT\r\n");
    EXPECT_EQ(sink.calls, "begin 1;complete 1;");
    EXPECT_EQ(sink.totalWritten, sent + 3 * 65536 + 2);
    EXPECT_LE(sink.largestWrite, 3u * 65536);
}

// With an early sender the next LIST leaves before the finished message is filed; the sequence of
// commands is the same.
TEST(Pop3Engine, NextCommandCanLeaveBeforeFiling)
{
    struct Sink : RecordingSink {
        std::vector<std::string> completeMessage(int number, std::string_view id) override
        {
            calls += "[sent so far: " + *sent + "]";
            return RecordingSink::completeMessage(number, id);
        }
        const std::string* sent = nullptr;
    } sink;
    std::string sent;
    sink.sent = &sent;
    Pop3Engine engine({"taro", "pw"}, sink);
    engine.setSendNow([&sent](const std::string& bytes) { sent += bytes; });
    const Pop3Step step = engine.feed(kLogin + "+OK 2 20\r\n-ERR\r\n+OK 1 10\r\n+OK\r\na\r\n.\r\n"
                                               "+OK 2 10\r\n+OK\r\nb\r\n.\r\n+OK\r\n");
    sent += step.send;
    EXPECT_EQ(sent, kLoginSent + "UIDL\r\nLIST 1\r\nRETR 1\r\nLIST 2\r\nRETR 2\r\nQUIT\r\n");
    EXPECT_EQ(sink.calls, "begin 1;[sent so far: " + kLoginSent +
                              "UIDL\r\nLIST 1\r\nRETR 1\r\nLIST 2\r\n]complete 1;"
                              "begin 2;[sent so far: " +
                              kLoginSent +
                              "UIDL\r\nLIST 1\r\nRETR 1\r\nLIST 2\r\nRETR 2\r\n"
                              "QUIT\r\n]complete 2;");
}

TEST(Pop3Engine, LoginWithALineBreakIsNeverSent)
{
    for (const Pop3Login& login : {Pop3Login{"taro\r\nDELE 1", "pw"}, Pop3Login{"taro", "pw\nDELE 1"}}) {
        RecordingSink sink;
        Pop3Engine engine(login, sink);
        const Pop3Step step = engine.feed("+OK ready\r\n");
        EXPECT_EQ(step.send, "QUIT\r\n");
        ASSERT_EQ(step.events.size(), 1u);
        EXPECT_EQ(step.events[0].text, sj("ユーザー名かパスワードに改行が含まれているため送れません。"));
        EXPECT_EQ(engine.outcome(), Pop3Outcome::Failed);
    }
}

TEST(Pop3Engine, PortTextNamesThePortOnlyWhenItIsOne)
{
    const std::vector<std::pair<std::string, int>> cases = {
        {"110", 110}, {"995", 995},   {"1", 1},    {"65535", 65535}, {" 2110 ", 2110},     {"", 110},
        {"0", 110},   {"65536", 110}, {"-1", 110}, {"11O", 110},     {"99999999999", 110}, {"80x", 110},
    };
    for (const auto& [text, port] : cases)
        EXPECT_EQ(pop3Port(text), port) << "[" << text << "]";
}

} // namespace

} // namespace orvalink::mail

namespace orvalink::mail {
namespace {

// Inside TLS (implicit here) a server whose capability list has PIPELINING gets its RETR commands
// ahead: the listing of all sizes replaces LIST n, and what is filed, shown and said is what the
// one-at-a-time conversation gives for the same mailbox.
const std::string kTlsLogin = "+OK ready\r\n+OK\r\nUIDL\r\nPIPELINING\r\n.\r\n+OK\r\n+OK logged in\r\n";
const std::string kTlsLoginSent = "CAPA\r\n" + kLoginSent;

TEST(Pop3Pipelining, FilesShowsAndSaysWhatTheOneAtATimeConversationDoes)
{
    const std::string over = std::to_string(Pop3Engine::kMaxMessageSize + 1);
    const std::string uidl = "+OK 4 50\r\n+OK\r\n1 aaa\r\n2 bbb\r\n3 ccc\r\n4 ddd\r\n.\r\n";
    const std::string two = "+OK\r\nSubject: two\r\n\r\n..dot\r\n.\r\n", four = "+OK\r\nfour\r\n.\r\n";
    // Message 1 was filed before, 3 is too large, 2 and 4 are fetched.
    const Outcome oneAtATime =
        runEverySplit(kLogin + uidl + "+OK\r\n1 10\r\n2 20\r\n3 " + over + "\r\n4 10\r\n.\r\n" + "+OK 2 20\r\n" + two +
                          "+OK 3 " + over + "\r\n+OK 4 10\r\n" + four + "+OK bye\r\n",
                      End::Open, {"aaa"});
    EXPECT_EQ(oneAtATime.sent,
              kLoginSent + "UIDL\r\nLIST\r\nLIST 2\r\nRETR 2\r\nLIST 3\r\nLIST 4\r\nRETR 4\r\nQUIT\r\n");
    const Outcome pipelined = runEverySplit(kTlsLogin + uidl + "+OK\r\n1 10\r\n2 20\r\n3 " + over +
                                                "\r\n4 10\r\n.\r\n" + two + four + "+OK bye\r\n",
                                            End::Open, {"aaa"}, TransportSecurity::Implicit);
    EXPECT_EQ(pipelined.sent, kTlsLoginSent + "UIDL\r\nLIST\r\nRETR 2\r\nRETR 4\r\nQUIT\r\n");
    EXPECT_EQ(pipelined.calls, "begin 2;complete 2;begin 4;complete 4;");
    EXPECT_EQ(pipelined.data, (std::vector<std::string>{"Subject: two\r\n\r\n.dot\r\n", "four\r\n"}));
    EXPECT_EQ(pipelined.ids, (std::vector<std::string>{"bbb", "ddd"}));
    EXPECT_EQ(pipelined.events, oneAtATime.events);
    EXPECT_EQ(pipelined.outcome, Pop3Outcome::Failed); // message 3 was not filed
    EXPECT_EQ(errorsOf(pipelined).size(), 1u);

    // Nothing filed before: the listing of all sizes is asked all the same.
    const Outcome first = runEverySplit(kTlsLogin + "+OK 2 30\r\n-ERR no ids\r\n+OK\r\n1 20\r\n2 10\r\n.\r\n" + two +
                                            four + "+OK bye\r\n",
                                        End::Open, {}, TransportSecurity::Implicit);
    EXPECT_EQ(first.sent, kTlsLoginSent + "UIDL\r\nLIST\r\nRETR 1\r\nRETR 2\r\nQUIT\r\n");
    EXPECT_EQ(first.calls, "begin 1;complete 1;begin 2;complete 2;");
    EXPECT_EQ(first.outcome, Pop3Outcome::Done);
}

TEST(Pop3Pipelining, OnlyWithPipeliningListedInsideTlsAndTheSizesKnown)
{
    const std::string mailbox = "+OK 1 10\r\n-ERR\r\n";
    struct Case {
        const char* what;
        TransportSecurity security;
        std::string server;
        std::string sent;
    };
    const Case cases[] = {
        {"plain: no CAPA, one command at a time", TransportSecurity::None,
         kLogin + mailbox + "+OK 1 10\r\n+OK\r\nx\r\n.\r\n+OK\r\n",
         kLoginSent + "UIDL\r\nLIST 1\r\nRETR 1\r\nQUIT\r\n"},
        {"no PIPELINING", TransportSecurity::Implicit,
         "+OK\r\n+OK\r\nUIDL\r\n.\r\n+OK\r\n+OK\r\n" + mailbox + "+OK 1 10\r\n+OK\r\nx\r\n.\r\n+OK\r\n",
         kTlsLoginSent + "UIDL\r\nLIST 1\r\nRETR 1\r\nQUIT\r\n"},
        {"no CAPA", TransportSecurity::Implicit,
         "+OK\r\n-ERR\r\n+OK\r\n+OK\r\n" + mailbox + "+OK 1 10\r\n+OK\r\nx\r\n.\r\n+OK\r\n",
         kTlsLoginSent + "UIDL\r\nLIST 1\r\nRETR 1\r\nQUIT\r\n"},
        {"the sizes refused", TransportSecurity::Implicit,
         kTlsLogin + mailbox + "-ERR\r\n+OK 1 10\r\n+OK\r\nx\r\n.\r\n+OK\r\n",
         kTlsLoginSent + "UIDL\r\nLIST\r\nLIST 1\r\nRETR 1\r\nQUIT\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome o = runEverySplit(c.server, End::Open, {}, c.security);
        EXPECT_EQ(o.sent, c.sent);
        EXPECT_EQ(o.calls, "begin 1;complete 1;");
        EXPECT_EQ(o.outcome, Pop3Outcome::Done);
    }
}

// How far ahead RETR commands go: kPipelineDepth messages, or as many as kPipelineBytes of listed
// size allow (one at least), and one more as each message ends.
TEST(Pop3Pipelining, CommandsAheadAreBoundedByCountAndSize)
{
    struct Case {
        int messages;
        std::int64_t size;
        int ahead;
    };
    const std::int64_t bytes = Pop3Engine::kPipelineBytes;
    const Case cases[] = {
        {40, 10, Pop3Engine::kPipelineDepth},
        {3, 10, 3},
        {10, bytes / 2 + 1, 2},
        {10, bytes * 4, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.messages) + " of " + std::to_string(c.size));
        RecordingSink sink;
        Pop3Engine engine({"taro", "pw"}, sink, {}, TransportSecurity::Implicit);
        std::string sizes = "+OK\r\n";
        for (int i = 1; i <= c.messages; ++i)
            sizes += std::to_string(i) + " " + std::to_string(c.size) + "\r\n";
        Outcome o;
        take(o, engine.feed(kTlsLogin + "+OK " + std::to_string(c.messages) + " 1\r\n-ERR\r\n" + sizes + ".\r\n"));
        const auto retrs = [&o] {
            int n = 0;
            for (std::size_t at = o.sent.find("RETR "); at != std::string::npos; at = o.sent.find("RETR ", at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(retrs(), c.ahead);
        take(o, engine.feed("+OK\r\nx\r\n.\r\n"));
        EXPECT_EQ(retrs(), std::min(c.ahead + 1, c.messages));
    }
}

// A refused RETR, or abort, while RETR commands are ahead: their answers are read past before the
// answer to QUIT, and nothing of them is filed.
TEST(Pop3Pipelining, AnswersAheadAreReadPastAfterAFailureOrAbort)
{
    const std::string head = kTlsLogin + "+OK 3 30\r\n-ERR\r\n+OK\r\n1 10\r\n2 10\r\n3 10\r\n.\r\n";
    const Outcome refused = runEverySplit(head + "+OK\r\none\r\n.\r\n-ERR gone\r\n+OK\r\nthree\r\n.\r\n+OK bye\r\n",
                                          End::Open, {}, TransportSecurity::Implicit);
    EXPECT_EQ(refused.sent, kTlsLoginSent + "UIDL\r\nLIST\r\nRETR 1\r\nRETR 2\r\nRETR 3\r\nQUIT\r\n");
    EXPECT_EQ(refused.calls, "begin 1;complete 1;");
    EXPECT_EQ(errorsOf(refused), std::vector<std::string>{serverSaid("-ERR gone")});
    EXPECT_EQ(refused.outcome, Pop3Outcome::Failed);
    EXPECT_EQ(refused.events.back().kind, Kind::Finished);

    RecordingSink sink;
    Pop3Engine engine({"taro", "pw"}, sink, {}, TransportSecurity::Implicit);
    Outcome o;
    take(o, engine.feed(head + "+OK\r\none\r\n.\r\n+OK\r\nhalf"));
    take(o, engine.abort());
    take(o, engine.feed(" of two\r\n.\r\n+OK\r\nthree\r\n.\r\n"));
    EXPECT_TRUE(engine.waitingForServer());
    take(o, engine.feed("+OK bye\r\n"));
    EXPECT_FALSE(engine.waitingForServer());
    EXPECT_EQ(sink.calls, "begin 1;complete 1;begin 2;abandon 2;");
    EXPECT_EQ(engine.outcome(), Pop3Outcome::Aborted);
}

} // namespace
} // namespace orvalink::mail
