#include "app/Autostart.h"

#include "app/CDesktopOptionsDlg.h"
#include "app/DesktopNotifier.h"
#include "platform/Profile.h"
#include "support/TestFiles.h"

#include <QCheckBox>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orvalink::app {

using test::ScopedEnv;
using test::TempDir;

namespace {

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

} // namespace

TEST(Autostart, TheCheckBoxWritesAndRemovesTheLoginEntry)
{
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir.path());
    const std::string entry = dir.path() + "/autostart/org.orvalink.Orvalink.desktop";
    EXPECT_EQ(Autostart::entryPath(), entry);
    EXPECT_FALSE(Autostart::isEnabled());

    ASSERT_TRUE(Autostart::setEnabled(true, "/usr/bin/orvalink"));
    EXPECT_TRUE(Autostart::isEnabled());
    EXPECT_EQ(test::readFile(entry), Autostart::entryText("/usr/bin/orvalink"));
    EXPECT_NE(test::readFile(entry).find("\nExec=/usr/bin/orvalink\n"), std::string::npos);
    EXPECT_EQ(modeOf(entry), 0600u);
    EXPECT_EQ(modeOf(dir.path() + "/autostart"), 0700u);
    EXPECT_FALSE(std::filesystem::exists(entry + ".new"));

    ASSERT_TRUE(Autostart::setEnabled(false, "/usr/bin/orvalink"));
    EXPECT_FALSE(Autostart::isEnabled());
    EXPECT_TRUE(Autostart::setEnabled(false, "/usr/bin/orvalink")) << "removing what is not there is no failure";
}

TEST(Autostart, ExecQuotesWhatTheEntryFormatWantsQuoted)
{
    const struct {
        const char* program;
        const char* exec;
    } cases[] = {
        {"/opt/orvalink-1.0/bin/orvalink", "Exec=/opt/orvalink-1.0/bin/orvalink\n"},
        {"/home/a b/orvalink", "Exec=\"/home/a b/orvalink\"\n"},
        {"/x/$HOME/100%/o\"k", "Exec=\"/x/\\\\$HOME/100%%/o\\\\\"k\"\n"},
    };
    for (const auto& c : cases)
        EXPECT_NE(Autostart::entryText(c.program).find(c.exec), std::string::npos) << c.program << "\n"
                                                                                   << Autostart::entryText(c.program);
}

TEST(Autostart, TheDesktopSettingsStoreNotificationsAndLoginStart)
{
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir.path());
    platform::Profile::reopenApplication();
    EXPECT_TRUE(CDesktopOptionsDlg::stored().notify) << "notifications are on by default";
    EXPECT_FALSE(CDesktopOptionsDlg::stored().autostart);

    CDesktopOptionsDlg dlg(CDesktopOptionsDlg::stored());
    EXPECT_TRUE(dlg.notifyBox()->isChecked());
    dlg.notifyBox()->setChecked(false);
    dlg.autostartBox()->setChecked(true);
    ASSERT_TRUE(CDesktopOptionsDlg::apply(dlg.options(), "/usr/bin/orvalink"));
    EXPECT_FALSE(DesktopNotifier::enabledInProfile());
    EXPECT_TRUE(Autostart::isEnabled());

    ASSERT_TRUE(CDesktopOptionsDlg::apply({true, false}, "/usr/bin/orvalink"));
    EXPECT_TRUE(CDesktopOptionsDlg::stored().notify);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/autostart/org.orvalink.Orvalink.desktop"));
}

} // namespace orvalink::app
