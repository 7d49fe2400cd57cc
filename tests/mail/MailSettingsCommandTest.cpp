#include "app/MailSettingsCommand.h"

#include "app/CMainFrame.h"
#include "chat/ChatGroupTable.h"
#include "mail/CMailSettingsSheet.h"
#include "mail/MailDirectory.h"
#include "mail/MailTestSupport.h"
#include "platform/MessageBoxRecorder.h"
#include "res/ResourceIds.h"

#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>

namespace orvalink::mail {

using app::CMainFrame;
using app::installMailSettingsCommand;
using chat::ChatGroupTable;

namespace {

TEST(MailSettingsCommand, StartUpLoadsTheMailDirectoryAndTheCommandOpensTheSheetModally)
{
    ProfileSandbox sandbox;
    mail::MailDirectory directory;
    ChatGroupTable chatTable;
    platform::MessageBoxRecorder boxes;
    sandbox.profile().writeString("Mail Entry", "SaveFolder", "/var/mail/me");
    CMainFrame frame(chatTable);
    ASSERT_TRUE(frame.create());
    installMailSettingsCommand(frame, directory);
    EXPECT_EQ(directory.path(), "/var/mail/me");

    // Whatever is modal gets closed, so the test cannot hang; what it was is checked afterwards.
    QString seenTitle;
    bool seenSheet = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            seenSheet = qobject_cast<CMailSettingsSheet*>(modal) != nullptr;
            seenTitle = modal->windowTitle();
            modal->close();
        }
    });
    closer.start(10);
    directory.set("");
    EXPECT_TRUE(frame.onCommand(res::kCmdMailSettings));
    closer.stop();
    EXPECT_TRUE(seenSheet);
    EXPECT_EQ(seenTitle, QString::fromUtf8("メール設定"));
    // The page was opened: an empty store got its first values and the mail directory again.
    EXPECT_EQ(sandbox.profile().getInt("Server Entry", "Normal", 0), 1);
    EXPECT_EQ(directory.path(), "/var/mail/me");
    frame.destroyWindow();
}

} // namespace

} // namespace orvalink::mail
