// The file entry point, through the orvalink-kconv filter and through convertFile directly.
#include "kanji/KanjiConverter.h"
#include "kanji/KanjiTestSupport.h"
#include "support/TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace orvalink::kanji {

namespace fs = std::filesystem;
using orvalink::test::readFile;
using orvalink::test::writeFile;

namespace {

class ConvertFile : public ::testing::Test {
protected:
    fs::path path(const std::string& name) const { return fs::path(m_dir.path()) / name; }

    // Runs the filter as the filing of received mail does; returns its exit status.
    static int runTool(const fs::path& in, const fs::path& out)
    {
        const std::string command =
            std::string("'") + KCONV_TOOL + "' -B -m -s '" + in.string() + "' '" + out.string() + "' 2>/dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    orvalink::test::TempDir m_dir{"kconv-test"};
};

TEST_F(ConvertFile, ToolConvertsAMessage)
{
    writeFile(path("in"), "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
                          "Date: x\r\n\r\n\x1b$B$3$s$K$A$O\x1b(B\r\nlast");
    ASSERT_EQ(runTool(path("in"), path("out")), 0);
    EXPECT_EQ(hex(readFile(path("out"))),
              hex("Subject: " + sj("テスト") + "\r\nDate: x\r\n\r\n" + sj("こんにちは") + "\r\nlast"));
}

TEST_F(ConvertFile, ToolReadsCrLfAsOneLineEnd)
{
    writeFile(path("in"), "a\r\nb\nc\r\n\r\n");
    ASSERT_EQ(runTool(path("in"), path("out")), 0);
    EXPECT_EQ(readFile(path("out")), "a\r\nb\r\nc\r\n\r\n");
}

TEST_F(ConvertFile, ToolMissingInputFailsWithoutOutput)
{
    EXPECT_NE(runTool(path("missing"), path("out")), 0);
    EXPECT_FALSE(fs::exists(path("out")));
}

TEST_F(ConvertFile, MissingInputReturnsMinusOne)
{
    EXPECT_EQ(kanji::convertFile({"kconv", "-B", "-m", "-s", path("missing").string(), path("out").string()}), -1);
    EXPECT_FALSE(fs::exists(path("out")));
}

TEST_F(ConvertFile, UncreatableOutputReturnsMinusOne)
{
    writeFile(path("in"), "x\n");
    EXPECT_EQ(kanji::convertFile({"kconv", "-B", "-m", "-s", path("in").string(), path("no/such/dir").string()}), -1);
}

// The output is a work file of the mail download, a user's mail: owner-only whatever the umask.
TEST_F(ConvertFile, OutputIsCreatedOwnerOnly)
{
    writeFile(path("in"), "x\n");
    const mode_t oldMask = ::umask(0);
    const int result = kanji::convertFile({"kconv", "-B", "-m", "-s", path("in").string(), path("out").string()});
    ::umask(oldMask);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(fs::status(path("out")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ConvertFile, TooFewWordsReturnsMinusOne)
{
    EXPECT_EQ(kanji::convertFile({"kconv", "-s"}), -1);
}

TEST_F(ConvertFile, OptionWordsSelectTheFeatures)
{
    writeFile(path("in"), "a$B$3\x1b(B =?ISO-8859-1?Q?caf=E9?=");
    ASSERT_EQ(kanji::convertFile({"kconv", "-s", path("in").string(), path("plain").string()}), 0);
    EXPECT_EQ(readFile(path("plain")), "a$B$3 =?ISO-8859-1?Q?caf=E9?=");
    ASSERT_EQ(kanji::convertFile({"kconv", "-B", "-m", "-s", path("in").string(), path("all").string()}), 0);
    EXPECT_EQ(hex(readFile(path("all"))), hex("a" + sj("こ") + " caf\xE9"));
}

TEST_F(ConvertFile, OutputIsTruncated)
{
    writeFile(path("in"), "new");
    writeFile(path("out"), "an older and longer content");
    ASSERT_EQ(kanji::convertFile({"kconv", "-B", "-m", "-s", path("in").string(), path("out").string()}), 0);
    EXPECT_EQ(readFile(path("out")), "new");
}

// A message larger than the 16 KiB read buffer, with a CR LF split across every buffer boundary
// that the layout allows, gives the same bytes as the in-memory conversion.
TEST_F(ConvertFile, LargeFileMatchesInMemoryConversion)
{
    std::string message;
    std::string expected;
    for (std::size_t lineLength : {16382u, 16383u, 16384u, 1u, 0u, 40000u}) {
        const std::string line(lineLength, 'q');
        message += line + "\r\n";
        expected += line + "\r\n";
    }
    for (int i = 0; i < 3000; ++i) {
        message += "\x1b$B$3$s\x1b(B \xA4\xB3\r\n";
        expected += sj("こん") + " " + sj("こ") + "\r\n";
    }
    message += "\r";
    expected += "\r";
    writeFile(path("in"), message);
    ASSERT_EQ(kanji::convertFile({"kconv", "-B", "-m", "-s", path("in").string(), path("out").string()}), 0);
    const std::string out = readFile(path("out"));
    EXPECT_EQ(out.size(), expected.size());
    EXPECT_TRUE(out == expected);
    EXPECT_TRUE(kanji::KanjiConverter().convert(message) == expected);
}

} // namespace

} // namespace orvalink::kanji
