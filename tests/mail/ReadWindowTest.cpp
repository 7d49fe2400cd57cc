// The read window as the user sees it: the texts its widgets show for messages in every transfer
// encoding and charset, a multipart with a Japanese-named attachment saved byte for byte, an
// HTML-only message, broken messages, a composition, the reply's compose window, and the 100 slots.
#include "mail/CReadFrame.h"
#include "mail/CReadThread.h"
#include "mail/CSendFrame.h"
#include "mail/CSendThread.h"
#include "mail/ComposeTexts.h"
#include "mail/ComposeThreadTable.h"
#include "mail/ComposeWindows.h"
#include "mail/MailState.h"
#include "mail/ReadWindows.h"
#include "platform/MessageBoxRecorder.h"
#include "platform/text/Cp932.h"
#include "store/MailStore.h"
#include "support/SettingsSandbox.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace orvalink::mail {

namespace {

std::string sj(const char* utf8)
{
    return platform::utf8ToCp932(utf8);
}

ReadRequest received(std::string bytes)
{
    return {std::string(store::kReceivedFolder), {}, std::move(bytes)};
}

class ReadWindow : public ::testing::Test {
protected:
    void TearDown() override
    {
        windows.closeAll();
        closeAllComposeWindows(side);
        platform::setSaveFilePickerResponder({});
    }

    test::SettingsSandbox settings;
    platform::MessageBoxRecorder boxes;
    MailState side;
    ReadWindows windows{side};
};

} // namespace

TEST_F(ReadWindow, ShowsEveryEncodingAndCharsetDecoded)
{
    const struct {
        const char* what;
        std::string message;
        std::string subject;
        std::string body;
    } cases[] = {
        {"base64 UTF-8",
         "From: a@example.com\r\nSubject: =?UTF-8?B?44GT44KT44Gr44Gh44Gv?=\r\nContent-Type: text/plain; "
         "charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n5pel5pys6Kqe\r\n",
         sj("こんにちは"), sj("日本語")},
        {"quoted-printable EUC-JP",
         "Subject: =?EUC-JP?B?xvzL3Ljs?=\r\nContent-Type: text/plain; charset=EUC-JP\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n=A4=A2=A4=A4\r\nx=\r\ny\r\n",
         sj("日本語"), sj("あい") + "\nxy\n"},
        {"base64 ISO-2022-JP",
         "Subject: =?ISO-2022-JP?B?GyRCN29MPhsoQg==?=\r\nContent-Type: text/plain; "
         "charset=ISO-2022-JP\r\nContent-Transfer-Encoding: base64\r\n\r\nGyRCN29MPhsoQg==",
         sj("件名"), sj("件名")},
        {"base64 Shift_JIS",
         "Subject: =?Shift_JIS?B?jI+WvA==?=\r\nContent-Type: text/plain; charset=Shift_JIS\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\ngqCCog==",
         sj("件名"), sj("あい")},
        {"quoted-printable ISO-8859-1",
         "Subject: =?ISO-8859-1?Q?Caf=E9?=\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\nna=EFve =41",
         "Caf?", "na?ve A"},
        {"filed 7bit text", "Subject: " + sj("件名") + "\r\n\r\n" + sj("本文") + "\r\n", sj("件名"), sj("本文") + "\n"},
        {"HTML only",
         "Subject: h\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
         "PHA+PGI+5pel5pys6KqePC9iPiAmYW1wOzwvcD48cD54PC9wPjxzY3JpcHQ+YWxlcnQoMSk8L3NjcmlwdD4=",
         "h", sj("日本語") + " &\nx"},
        {"broken base64 and an unknown charset",
         "Subject: =?x-unknown?B?eA==?= =?UTF-8?B?44GC\r\nContent-Type: text/plain; charset=x-unknown\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\nYW*Jj!ZA",
         "=?x-unknown?B?eA==?= =?UTF-8?B?44GC", "abcd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CReadFrame* frame = windows.open(received(c.message));
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->subjectText(), c.subject);
        EXPECT_EQ(frame->bodyText(), c.body);
        frame->close();
        delete frame;
    }
    EXPECT_EQ(windows.openCount(), 0);
}

TEST_F(ReadWindow, MultipartListsItsPartsAndSavesTheAttachmentAsItsOriginalBytes)
{
    const std::string original("\x00\x01\xff\xfe binary\r\n", 13);
    const std::string message = "From: =?UTF-8?B?44GC44GE?= <ai@example.com>\r\n"
                                "To: me@example.com\r\n"
                                "Subject: =?UTF-8?B?5re75LuY?=\r\n"
                                "Date: Tue, 8 Dec 2026 10:00:00 +0900\r\n"
                                "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                                "--b\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" +
                                sj("本文です") +
                                "\r\n"
                                "--b\r\nContent-Type: application/octet-stream\r\n"
                                "Content-Disposition: attachment; filename*=UTF-8''%E6%B7%BB%E4%BB%98.bin\r\n"
                                "Content-Transfer-Encoding: base64\r\n\r\nAAH//iBiaW5hcnkNCg==\r\n"
                                "--b\r\nContent-Type: text/plain; name=\"=?ISO-2022-JP?B?GyRCO0UbKEI=?=.txt\"\r\n\r\n"
                                "note\r\n--b--\r\n";
    CReadFrame* frame = windows.open(received(message));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->fromText(), sj("あい <ai@example.com>"));
    EXPECT_EQ(frame->toText(), "me@example.com");
    EXPECT_EQ(frame->dateText(), "Tue, 8 Dec 2026 10:00:00 +0900");
    EXPECT_EQ(frame->bodyText(), sj("本文です"));
    ASSERT_EQ(frame->partNames(), (std::vector<std::string>{sj("添付.bin"), sj("仕.txt")}));

    test::TempDir dir("orvalink-read");
    std::vector<std::string> offered;
    platform::setSaveFilePickerResponder([&](std::string_view name) -> std::optional<std::string> {
        offered.emplace_back(name);
        return dir.file("saved.bin");
    });
    EXPECT_TRUE(frame->savePart(0));
    EXPECT_EQ(offered, std::vector<std::string>{sj("添付.bin")});
    EXPECT_EQ(test::readFile(dir.file("saved.bin")), original);
    // Cancelled: nothing written, nothing said.
    platform::setSaveFilePickerResponder([](std::string_view) { return std::optional<std::string>(); });
    EXPECT_FALSE(frame->savePart(1));
    // Unwritable: the user is told.
    platform::setSaveFilePickerResponder(
        [&](std::string_view) { return std::optional<std::string>(dir.file("no/such/folder")); });
    EXPECT_FALSE(frame->savePart(1));
    EXPECT_EQ(boxes.calls().size(), 1u);
}

TEST_F(ReadWindow, BrokenStructureShowsWhatCanBeShown)
{
    const std::string unclosed = "Subject: u\r\nContent-Type: multipart/mixed; boundary=q\r\n\r\n--q\r\n"
                                 "Content-Type: text/plain\r\n\r\nfirst part\r\n--q\r\nContent-Type: image/png; "
                                 "name=a.png\r\nContent-Transfer-Encoding: base64\r\n\r\niVBOR";
    CReadFrame* frame = windows.open(received(unclosed));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->bodyText(), "first part");
    EXPECT_EQ(frame->partNames(), std::vector<std::string>{"a.png"});
    CReadFrame* empty = windows.open(received(""));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->bodyText(), "");
    EXPECT_EQ(windows.openCount(), 2);
}

TEST_F(ReadWindow, CompositionShowsItsRecordAndItsBody)
{
    ReadRequest request;
    request.folderName = std::string(store::kSavedFolder);
    request.record.sender = "me@example.com";
    request.record.recipient = "you@example.com";
    request.record.subject = sj("件名");
    request.record.arrivalDate = "Tue, 08 Dec 2026 10:00:00 +0900";
    request.bytes = sj("一行目") + "\r\nline2";
    CReadFrame* frame = windows.open(std::move(request));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->fromText(), "me@example.com");
    EXPECT_EQ(frame->toText(), "you@example.com");
    EXPECT_EQ(frame->subjectText(), sj("件名"));
    EXPECT_EQ(frame->dateText(), "Tue, 08 Dec 2026 10:00:00 +0900");
    EXPECT_EQ(frame->bodyText(), sj("一行目") + "\nline2");
}

TEST_F(ReadWindow, ReplyOpensAComposeWindowToTheSenderWithTheQuotedBody)
{
    const std::string message = "From: =?UTF-8?B?44GC44GE?= <ai@example.com>\r\nSubject: Re: " + sj("会議") +
                                "\r\n\r\n" + sj("了解") + "\r\nsee you\r\n";
    CReadFrame* frame = windows.open(received(message));
    ASSERT_NE(frame, nullptr);
    QAction* reply = frame->findChild<QAction*>("reply");
    ASSERT_NE(reply, nullptr);
    reply->trigger();
    ASSERT_EQ(side.composeThreads().openCount(), 1);
    CSendFrame* compose = nullptr;
    for (CSendThread* t : side.composeThreads().threads)
        if (t)
            compose = t->frame();
    ASSERT_NE(compose, nullptr);
    EXPECT_EQ(compose->toText(), "ai@example.com");
    EXPECT_EQ(compose->subjectText(), "Re: " + sj("会議"));
    EXPECT_EQ(compose->bodyText(), "> " + sj("了解") + "\r\n> see you");
}

TEST_F(ReadWindow, TheHundredAndFirstWindowIsRefusedAndClosingFreesTheSlots)
{
    for (int i = 0; i < kMaxReadWindows; ++i)
        ASSERT_NE(windows.open(received("Subject: " + std::to_string(i) + "\r\n\r\nx")), nullptr) << i;
    EXPECT_EQ(windows.openCount(), kMaxReadWindows);
    EXPECT_EQ(windows.open(received("Subject: one too many\r\n\r\n")), nullptr);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, tooManyWindowsText());
    // A window closed by the user gives its slot back.
    CReadFrame* fifth = windows.window(4);
    ASSERT_NE(fifth, nullptr);
    EXPECT_EQ(fifth->thread()->windowSlot(), 4);
    fifth->close();
    delete fifth;
    EXPECT_EQ(windows.openCount(), kMaxReadWindows - 1);
    CReadFrame* again = windows.open(received("Subject: again\r\n\r\n"));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->thread()->windowSlot(), 4);
    windows.closeAll();
    EXPECT_EQ(windows.openCount(), 0);
}

} // namespace orvalink::mail
