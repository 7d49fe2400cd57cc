// The receive command refuses a stored POP3 port that names no port before any window connects.
#include "mail/ReceiveCommand.h"

#include "mail/MailDirectory.h"
#include "mail/MailTestSupport.h"
#include "platform/MessageBoxRecorder.h"

#include <QApplication>
#include <filesystem>
#include <gtest/gtest.h>

namespace orvalink::mail {

namespace {

TEST(ReceiveCommand, AStoredPop3PortNamingNoPortIsRefusedBeforeAnyWindowConnects)
{
    ProfileSandbox sandbox;
    platform::MessageBoxRecorder boxes;
    for (const char* port : {"99999", "-1", "0", "65536", "pop3", "11 0"}) {
        storeAccounts({"first"}, 1);
        MailAccountStore store;
        MailAccount a = store.read(1);
        // Loopback only: were the refusal missing, nothing beyond this machine would be reached.
        a.popServer = "127.0.0.1";
        a.popPort = port;
        store.write(1, a);

        MailDirectory directory;
        ReceiveCommand command(directory);
        const std::size_t before = boxes.calls().size();
        EXPECT_EQ(command.run(), nullptr) << port;
        EXPECT_EQ(command.dialog(), nullptr) << port;
        ASSERT_EQ(boxes.calls().size(), before + 1) << port;
        EXPECT_EQ(boxes.calls().back().text, badPopPortText(port));
        EXPECT_EQ(boxes.calls().back().type, platform::MB_OK | platform::MB_ICONEXCLAMATION);
    }
    EXPECT_FALSE(std::filesystem::exists(sandbox.dataHome() + "/Orvalink")) << "nothing was received";
}

} // namespace

} // namespace orvalink::mail
