#include "store/FolderTestSupport.h"
#include "store/MailStore.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

namespace orvalink::store {

using orvalink::test::fileMessage;
using orvalink::test::ScratchDir;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string output;
};

std::string quoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The tool of this build: under ORVALINK_BUILD_DIR when the runner sets it, otherwise found from
// this test program's place in the build tree (tests/store/).
std::string toolPath()
{
    namespace fs = std::filesystem;
    if (const char* build = std::getenv("ORVALINK_BUILD_DIR"); build != nullptr && *build != '\0')
        return std::string(build) + "/tools/mbox/orvalink-mbox";
    return (fs::read_symlink("/proc/self/exe").parent_path() / "../../tools/mbox/orvalink-mbox").lexically_normal();
}

// Standard error goes to `errors` when given, else nowhere.
ToolRun runTool(const std::string& arguments, const std::string& errors = "/dev/null")
{
    const std::string tool = toolPath();
    ToolRun run;
    FILE* pipe = ::popen((quoted(tool) + " " + arguments + " 2>" + quoted(errors)).c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class MboxTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(fileMessage(m_dir, kReceivedFolder, m_first), StoreResult::Stored);
        ASSERT_EQ(fileMessage(m_dir, kReceivedFolder, m_second), StoreResult::Stored);
        // The tool is given the folder as the terminal would: in UTF-8.
        m_folderArg = quoted(m_dir.folder(kReceivedFolder));
    }

    ScratchDir m_dir;
    // 件名 ("subject") in code page 932.
    const std::string m_subject = "\x8c\x8f\x96\xbc";
    const std::string m_first = "Received: a; Thu, 04 Jan 2024\r\nFrom: f@x\r\nTo: t@y\r\nSubject: " + m_subject +
                                "\r\nDate: D\r\nX-Mailer: M\r\n\r\nbody one\r\n";
    const std::string m_second = "X: 1\r\nSubject: two\r\n\r\nbody two\r\n";
    std::string m_folderArg;
};

TEST_F(MboxTool, ListsEveryRecordWithOffsets)
{
    const std::string size1 = std::to_string(m_first.size());
    const std::string size2 = std::to_string(m_second.size());
    const std::string rest = "\tD\tM\t" + size1 + "\t0\n" + "1\t1\t\ttwo\t\t\t\t\t" + size2 + "\t" + size1 + "\n";

    const ToolRun raw = runTool("list --raw " + m_folderArg);
    EXPECT_EQ(raw.exitCode, 0);
    EXPECT_EQ(raw.output, "0\t1\tf@x\t" + m_subject + "\tt@y\tThu, 04 Jan 2024" + rest);

    const ToolRun shown = runTool("list " + m_folderArg);
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_EQ(shown.output, "0\t1\tf@x\t\xe4\xbb\xb6\xe5\x90\x8d\tt@y\tThu, 04 Jan 2024" + rest);
}

TEST_F(MboxTool, ExtractsMessagesByNumber)
{
    const ToolRun first = runTool("extract " + m_folderArg + " 0");
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(first.output, m_first);
    const ToolRun second = runTool("extract " + m_folderArg + ".mbx 1");
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.output, m_second);
}

TEST_F(MboxTool, RefusesWhatItCannotDo)
{
    EXPECT_EQ(runTool("extract " + m_folderArg + " 2").exitCode, 1);
    EXPECT_EQ(runTool("extract " + m_folderArg + " x").exitCode, 2);
    EXPECT_EQ(runTool("list").exitCode, 2);
    const ToolRun empty = runTool("list " + quoted(m_dir.path() + "/none"));
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.output, "");
}

// A damaged index: the tool lists every record it can read, marks the one it cannot place, and
// says on standard error what it could not read.
TEST_F(MboxTool, SaysWhatItCannotRead)
{
    const std::string third = "X: 3\r\nSubject: three\r\n\r\nbody three\r\n";
    ASSERT_EQ(fileMessage(m_dir, kReceivedFolder, third), StoreResult::Stored);
    const std::string folder = m_dir.folder(kReceivedFolder);
    const std::string errors = m_dir.path() + "/errors.txt";
    const std::string mailbox = orvalink::test::readBytes(folder + ".mbx");
    orvalink::test::appendBytes(folder + ".mbx", "junk");
    EXPECT_EQ(runTool("list " + m_folderArg, errors).exitCode, 0);
    EXPECT_NE(orvalink::test::readBytes(errors).find("mailbox bytes " + std::to_string(mailbox.size()) + " to " +
                                                     std::to_string(mailbox.size() + 4)),
              std::string::npos);
    orvalink::test::writeBytes(folder + ".mbx", mailbox);

    std::string index = orvalink::test::readBytes(folder + ".idx");
    // The first record: a length word past the file and no terminator after its sender.
    index.replace(0, 4, orvalink::test::le32(0x7FFFFFFFu));
    index[8 + 3] = 'X';
    orvalink::test::writeBytes(folder + ".idx", index);

    const ToolRun listed = runTool("list --raw " + m_folderArg, errors);
    EXPECT_EQ(listed.exitCode, 0);
    const std::string offset2 = std::to_string(m_first.size() + m_second.size());
    EXPECT_EQ(listed.output, "0\t1\t\ttwo\t\t\t\t\t" + std::to_string(m_second.size()) + "\t" +
                                 std::to_string(m_first.size()) + "\n" + "1\t1\t\tthree\t\t\t\t\t" +
                                 std::to_string(third.size()) + "\t" + offset2 + "\n");
    const std::string said = orvalink::test::readBytes(errors);
    EXPECT_NE(said.find("hold no readable record"), std::string::npos) << said;
    EXPECT_EQ(runTool("extract " + m_folderArg + " 1").output, third);
}

} // namespace

} // namespace orvalink::store
