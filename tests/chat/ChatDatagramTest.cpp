#include "chat/wire/ChatDatagram.h"

#include "chat/wire/DatagramAssembler.h"

#include <gtest/gtest.h>

namespace orvalink::chat {

TEST(ChatDatagram, BuildsTheFiveLayoutsByteForByte)
{
    // "テスト" in code page 932, to show names and texts go out as typed.
    const std::string name = "\x83\x65\x83\x58\x83\x67";
    EXPECT_EQ(buildPresence("PC-OFFICE"), "0001#0001#ON #PC-OFFICE#N#");
    EXPECT_EQ(buildJoin("PC-OFFICE"), "0001#0001#ON #PC-OFFICE#C#");
    EXPECT_EQ(buildGroupMessage(name, "a#b\r\nc"), "0001#0001#WR1#" + name + "#C#a#b\r\nc");
    EXPECT_EQ(buildPersonalMessage("x", ""), "0001#0001#WR2#x#C#");
    EXPECT_EQ(buildLeave("PC-OFFICE"), "0001#0001#OFF#PC-OFFICE#");
}

TEST(ChatDatagram, ParsesWhatItBuilds)
{
    struct Case {
        std::string datagram;
        ChatKind kind;
        std::string name;
        std::string text;
    };
    const Case cases[] = {
        {buildPresence("A"), ChatKind::Presence, "A", ""},
        {buildJoin("A"), ChatKind::Join, "A", ""},
        {buildGroupMessage("A", "a#b#c"), ChatKind::GroupMessage, "A", "a#b#c"},
        {buildPersonalMessage("B", "hi\r\nthere"), ChatKind::PersonalMessage, "B", "hi\r\nthere"},
        {buildLeave("PC-OFFICE"), ChatKind::Leave, "PC-OFFICE", ""},
        {buildGroupMessage("", "x"), ChatKind::GroupMessage, "", "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.datagram);
        const auto p = parsePayload(std::string_view(c.datagram).substr(kHeaderLength));
        EXPECT_EQ(p.kind, c.kind);
        EXPECT_EQ(p.name, c.name);
        EXPECT_EQ(p.text, c.text);
    }
}

TEST(ChatDatagram, KindTestsFollowTheFlag)
{
    struct Case {
        const char* payload;
        ChatKind kind;
        char flag;
    };
    const Case cases[] = {
        {"ON #n#N#", ChatKind::Presence, 'N'},     {"ON #n#C#", ChatKind::Join, 'C'},
        {"ON #n#X#", ChatKind::Join, 'X'},     // any flag but N is a join notice
        {"WR1#n#N#text", ChatKind::None, 'N'}, // a message with flag N gives no row
        {"WR2#n#N#text", ChatKind::None, 'N'},     {"WR1#n#C#", ChatKind::GroupMessage, 'C'},
        {"WR1#n##t", ChatKind::GroupMessage, '#'}, // the flag is whatever stands before the third "#"
        {"OFF#n#", ChatKind::Leave, 'O'},          // no third "#": the flag is the first character
        {"OFF#n#N#", ChatKind::Leave, 'N'},        // a leave notice whatever its flag
        {"ON#n#N#", ChatKind::None, 'N'},          // the kind is three characters: "ON#" is nothing
        {"WR3#n#C#t", ChatKind::None, 'C'},        {"on #n#N#", ChatKind::None, 'N'}, // kinds are case-sensitive
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        const auto p = parsePayload(c.payload);
        EXPECT_EQ(p.kind, c.kind);
        EXPECT_EQ(p.flag, c.flag);
    }
}

TEST(ChatDatagram, PayloadsMissingFieldsAreOfNoKind)
{
    for (const char* payload : {"", "O", "ON", "ON ", "OFF", "OFF#name", "WR1#name", "#"}) {
        SCOPED_TRACE(payload);
        const auto p = parsePayload(payload);
        EXPECT_EQ(p.kind, ChatKind::None);
        EXPECT_TRUE(p.name.empty());
    }
    // "##" has an (empty) name between the first two "#", but "##" is no kind.
    EXPECT_EQ(parsePayload("##").kind, ChatKind::None);
}

TEST(ChatDatagram, MemberKeyAndRecipientAddress)
{
    EXPECT_EQ(memberKey("192.168.0.7", 12121, "PC-OFFICE"), "192.168.0.7#12121#PC-OFFICE");
    for (const char* ok : {"192.168.0.7", "255.255.255.255", "0.0.0.0", "10.77.0.1"})
        EXPECT_TRUE(isDottedIPv4(ok)) << ok;
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.", ".1.2.3", "a.b.c.d", "1..2.3",
                            "0001.2.3.4", "255.255.255.2555", "1.2.3.4 ", "localhost"})
        EXPECT_FALSE(isDottedIPv4(bad)) << bad;
}

TEST(ChatDatagram, PortTextsReadByTheirLeadingDigits)
{
    const std::pair<const char*, int> cases[] = {
        {"12121", 12121}, {"12122abc", 12122}, {"65535", 65535}, {"1", 1},           {"0", 0},
        {"", 0},          {"abc", 0},          {"65536", 0},     {"99999999999", 0}, {" 12121", 0}};
    for (const auto& [text, port] : cases)
        EXPECT_EQ(portNumber(text), port) << text;
}

TEST(ChatDatagram, HeaderReading)
{
    struct Case {
        const char* datagram;
        bool ok;
        int number;
        int count;
    };
    const Case cases[] = {
        {"0001#0001#", true, 1, 1},
        {"0001#0002#x", true, 1, 2},
        {"0002#0002#x", true, 2, 2},
        {"1   #2   #x", true, 1, 2}, // digits up to the first non-digit
        {"0001#0001", false, 0, 0},  // shorter than the header
        {"", false, 0, 0},
        {"abcd#0001#x", false, 0, 0},
        {"0001#efgh#x", false, 0, 0},
        {"0000#0001#x", false, 0, 0}, // part 0 does not exist
        {"0003#0002#x", false, 0, 0}, // beyond the count
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.datagram);
        const auto h = parseHeader(c.datagram);
        ASSERT_EQ(h.has_value(), c.ok);
        if (c.ok) {
            EXPECT_EQ(h->partNumber, c.number);
            EXPECT_EQ(h->partCount, c.count);
        }
    }
}

TEST(DatagramAssembler, DeliversSinglePartsAndJoinsMultipleParts)
{
    DatagramAssembler a;
    EXPECT_EQ(a.feed("0001#0001#OFF#PC-OFFICE#", "192.168.0.7", 12121), "OFF#PC-OFFICE#");

    EXPECT_FALSE(a.feed("0001#0002#WR1#n#C#hel", "10.0.0.2", 12121));
    EXPECT_EQ(a.assembledLength(), 11u);
    EXPECT_EQ(a.feed("0002#0002#lo", "10.0.0.2", 12121), "WR1#n#C#hello");
    EXPECT_EQ(a.assembledLength(), 0u);
}

TEST(DatagramAssembler, DiscardsWhatCannotBeUsed)
{
    struct Step {
        const char* datagram;
        const char* address;
        unsigned port;
        std::optional<std::string> delivered;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"short datagram empties a partial",
         {{"0001#0002#abc", "a", 1, std::nullopt}, {"0002#", "a", 1, std::nullopt}, {"0002#0002#x", "a", 1, "x"}}},
        {"unreadable header empties a partial",
         {{"0001#0002#abc", "a", 1, std::nullopt}, {"zz#0002#x", "a", 1, std::nullopt}, {"0002#0002#y", "a", 1, "y"}}},
        {"part from another address drops the partial",
         {{"0001#0002#stray", "a", 1, std::nullopt}, {"0002#0002#mine", "b", 1, "mine"}}},
        {"part from another port drops the partial",
         {{"0001#0002#stray", "a", 1, std::nullopt}, {"0001#0001#mine", "a", 2, "mine"}}},
        {"a new part 1 starts over",
         {{"0001#0003#old", "a", 1, std::nullopt},
          {"0001#0002#new", "a", 1, std::nullopt},
          {"0002#0002#er", "a", 1, "newer"}}},
        {"part 0 and part above count are discarded",
         {{"0000#0001#x", "a", 1, std::nullopt}, {"0005#0004#x", "a", 1, std::nullopt}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DatagramAssembler a;
        for (const auto& s : c.steps)
            EXPECT_EQ(a.feed(s.datagram, s.address, s.port), s.delivered) << s.datagram;
    }
}

TEST(DatagramAssembler, NeverHoldsMoreThanItsCapacity)
{
    DatagramAssembler a;
    const std::string fits(kAssemblyCapacity, 'x');
    EXPECT_EQ(a.feed(std::string(kSingleHeader) + fits, "a", 1)->size(), kAssemblyCapacity);

    const std::string half(kAssemblyCapacity / 2, 'y');
    EXPECT_FALSE(a.feed("0001#0003#" + half, "a", 1));
    EXPECT_FALSE(a.feed("0002#0003#" + half, "a", 1));
    // The third part would pass the capacity: everything is dropped, nothing is delivered.
    EXPECT_FALSE(a.feed("0003#0003#z", "a", 1));
    EXPECT_EQ(a.assembledLength(), 0u);

    // A datagram as large as the receive buffer is dropped whole.
    EXPECT_FALSE(a.feed(std::string(kSingleHeader) + std::string(kReceiveBufferSize - kHeaderLength, 'q'), "a", 1));
    EXPECT_EQ(a.feed("0001#0001#ok", "a", 1), "ok");
}

} // namespace orvalink::chat
