// The mail directory the program makes holds a user's mail: owner-only, whatever the umask.
#include "mail/MailDirectory.h"

#include "platform/text/Cp932.h"
#include "support/TestFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace orvalink::mail {

namespace fs = std::filesystem;

namespace {

constexpr fs::perms kOwnerOnly = fs::perms::owner_all;

TEST(MailDirectory, IsCreatedOwnerOnlyWithTheFoldersAboveIt)
{
    orvalink::test::TempDir dir("orvalink-maildir");
    fs::create_directory(dir.file("kept"));
    fs::permissions(dir.file("kept"), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                          fs::perms::others_read | fs::perms::others_exec);
    // メール, in code page 932 as the settings hold it.
    const std::string mail = "\x83\x81\x81\x5b\x83\x8b";
    const std::string target = dir.path() + "/kept/new/" + mail;

    const mode_t oldMask = ::umask(0);
    const bool created = createMailDirectory(target);
    const bool again = createMailDirectory(target + "/");
    ::umask(oldMask);
    ASSERT_TRUE(created);
    EXPECT_TRUE(again);
    EXPECT_EQ(fs::status(dir.file("kept/new")).permissions(), kOwnerOnly);
    EXPECT_EQ(fs::status(platform::cp932ToUtf8(target)).permissions(), kOwnerOnly);
    // A folder that was there already keeps its permissions.
    EXPECT_NE(fs::status(dir.file("kept")).permissions(), kOwnerOnly);

    orvalink::test::writeFile(dir.file("file"), "x");
    EXPECT_FALSE(createMailDirectory(dir.file("file")));
    EXPECT_FALSE(createMailDirectory(dir.file("file") + "/below"));
    EXPECT_FALSE(createMailDirectory(""));
}

} // namespace

} // namespace orvalink::mail
