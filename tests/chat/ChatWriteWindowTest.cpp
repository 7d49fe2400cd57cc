#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgThread.h"
#include "chat/CSendChatFrame.h"
#include "chat/CSendChatThread.h"
#include "chat/CSendChatView.h"
#include "chat/CSendChatWorker.h"
#include "chat/ChatTestSupport.h"
#include "chat/ChatWriteOpeners.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/Dispatch.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "support/PrivateNetwork.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace orvalink::chat {

namespace {

std::string sj(const char* utf8)
{
    return platform::utf8ToCp932(utf8);
}

// What arrives on this host's own listener: the payload (header stripped) and the sender port.
struct Arrival {
    std::string text;
    unsigned port;
};

TEST(ChatWriteText, QuotesEveryLineOfTheReply)
{
    const struct {
        std::string body, quote;
    } cases[] = {
        {"one", ">one"},
        {"one\r\ntwo\r\nthree", ">one\r\n>two\r\n>three"},
        {"one\r\ntwo\r\n", ">one\r\n>two\r\n"},
        {"\r\n\r\nx", ">\r\n>\r\n>x"},
        {"", ""},
        {sj("こんにちは\r\n元気？"), sj(">こんにちは\r\n>元気？")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(quoteReply(c.body), c.quote) << c.body;
}

TEST(ChatWriteText, SenderNameIsTheHeaderWithoutItsTimeStamp)
{
    const struct {
        std::string header, name;
    } cases[] = {
        {"host1  2026/12/07  22:00:00", "host1"},
        {"Taro Yamada  2026/12/07  22:00:00", "Taro Yamada"},
        {"Taro Yamada  2026/12/07  22:00:00" + sj(" (続く)"), "Taro Yamada"},
        {sj("山田  2000/04/15  09:05:01"), sj("山田")},
        {"  2026/12/07  22:00:00", ""},
        // Not a header this program writes: the part before the first space.
        {"odd header", "odd"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(senderNameOfHeader(c.header), c.name) << c.header;
}

TEST(ChatWriteText, RecipientIsTheFirstMemberWithExactlyThatName)
{
    const std::vector<std::string> members = {"10.0.0.3#12121#Kenji", "10.0.0.4#12121#dup", "10.0.0.5#12121#dup",
                                              "10.0.0.6#12121#Ken", "10.0.0.7#12121#a#b"};
    const struct {
        std::string name, address;
    } cases[] = {
        {"dup", "10.0.0.4"}, {"Ken", "10.0.0.6"}, {"Kenji", "10.0.0.3"}, {"a#b", "10.0.0.7"}, {"Ke", ""}, {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(recipientFor(members, c.name), c.address) << c.name;
}

// Paste and drop go through insertFromMimeData.
struct PastableView : CSendChatView {
    using CSendChatView::insertFromMimeData;
};

TEST(ChatWriteView, TakesTenThousandCharactersAndRefusesTheNext)
{
    ProfileSandbox sandbox;
    PastableView view;
    view.show();
    view.setPlainText(QString(CSendChatView::kMaxCharacters - 1, u'a'));
    view.moveCursor(QTextCursor::End);
    QTest::keyClick(&view, Qt::Key_B);
    EXPECT_EQ(view.characterCount(), CSendChatView::kMaxCharacters);
    QTest::keyClick(&view, Qt::Key_C);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(view.characterCount(), CSendChatView::kMaxCharacters);
    EXPECT_EQ(view.toPlainText().right(2), "ab");

    // Typing over a selection frees its characters; a paste is cut to the room left.
    view.moveCursor(QTextCursor::Left, QTextCursor::KeepAnchor);
    QTest::keyClick(&view, Qt::Key_D);
    EXPECT_EQ(view.toPlainText().right(2), "ad");
    QTest::keyClick(&view, Qt::Key_Backspace);
    QTest::keyClick(&view, Qt::Key_Backspace);
    QMimeData paste;
    paste.setText("xyz");
    view.insertFromMimeData(&paste);
    EXPECT_EQ(view.characterCount(), CSendChatView::kMaxCharacters);
    EXPECT_EQ(view.toPlainText().right(3), "axy");

    // The text leaves with CR LF line ends and comes back from them.
    view.setText("one\r\ntwo");
    EXPECT_EQ(view.toPlainText(), "one\ntwo");
    EXPECT_EQ(view.text(), "one\r\ntwo");
}

class ChatWriteWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORVALINK_REQUIRE_PRIVATE_NETWORK();
        sandbox.chatTable.setReceiver(&sink);
        configureGroup(sandbox.chatTable, 0, "12121", "A", "me");
        sandbox.chatTable.startListener(0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return arrivals.size() >= 2; }, 5000)); // own announcements
        settle();
        arrivals.clear();
    }
    void TearDown() override
    {
        closeAllWindows(sandbox.chatTable);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (int g = 0; g < sandbox.chatTable.groupCount; ++g)
            sandbox.chatTable.stopListener(g, false);
        sandbox.chatTable.setReceiver(nullptr);
    }

    static void type(CSendChatFrame* f, const char* keys) { QTest::keyClicks(f->view(), QString::fromUtf8(keys)); }
    bool closed(const CSendChatThread* t)
    {
        return QTest::qWaitFor(
            [&] {
                const auto open = sandbox.chatTable.chatWriteSlots();
                return std::find(open.begin(), open.end(), t) == open.end();
            },
            5000);
    }
    bool arrived(const std::string& datagram)
    {
        const std::string payload = datagram.substr(chat::kHeaderLength);
        return QTest::qWaitFor(
            [&] {
                return std::any_of(arrivals.begin(), arrivals.end(),
                                   [&](const Arrival& a) { return a.text == payload; });
            },
            5000);
    }

    ProfileSandbox sandbox;
    platform::MessageBoxRecorder boxes;
    std::vector<Arrival> arrivals;
    TextSink sink{[this](int, std::string_view text, const std::string&, unsigned port) {
        arrivals.push_back({std::string(text), port});
    }};
};

TEST_F(ChatWriteWindows, GroupWindowSendsTypedLinesWithCrLfAndCloses)
{
    CSendChatThread* t = openWriteToGroup(sandbox.chatTable, 0);
    ASSERT_NE(t, nullptr);
    CSendChatFrame* f = t->frame();
    EXPECT_EQ(f->windowTitle(), "Orvalink(A)");
    EXPECT_EQ(f->button()->text(), QString::fromUtf8("送信(&S)"));
    EXPECT_EQ(f->button()->objectName(), "1050");
    EXPECT_FALSE(f->view()->isReadOnly());
    EXPECT_EQ(sandbox.chatTable.chatWriteCount(), 1);
    EXPECT_EQ(sandbox.chatTable.chatWriteSlots()[0], t);

    type(f, "hello");
    QTest::keyClick(f->view(), Qt::Key_Return);
    type(f, "world");
    QTest::mouseClick(f->button(), Qt::LeftButton);
    EXPECT_TRUE(arrived(chat::buildGroupMessage("me", "hello\r\nworld")));
    EXPECT_TRUE(closed(t));
    EXPECT_EQ(sandbox.chatTable.chatWriteCount(), 0);
}

TEST_F(ChatWriteWindows, BlankTextIsNeverSent)
{
    CSendChatThread* t = openWriteToGroup(sandbox.chatTable, 0);
    ASSERT_NE(t, nullptr);
    CSendChatFrame* f = t->frame();
    EXPECT_FALSE(f->button()->isEnabled());
    f->pressButton(); // as the menu's accelerator or a script would
    type(f, " ");
    QTest::keyClick(f->view(), Qt::Key_Return);
    f->view()->insertPlainText(QString::fromUtf8("\u3000"));
    QTest::keyClick(f->view(), Qt::Key_Tab);
    EXPECT_FALSE(f->button()->isEnabled());
    f->pressButton();
    settle(300);
    EXPECT_TRUE(arrivals.empty());
    EXPECT_EQ(sandbox.chatTable.chatWriteCount(), 1);

    type(f, "x");
    EXPECT_TRUE(f->button()->isEnabled());
    f->view()->clear();
    EXPECT_FALSE(f->button()->isEnabled());
    type(f, "y");
    f->pressButton();
    EXPECT_TRUE(arrived(chat::buildGroupMessage("me", "y")));
    EXPECT_TRUE(closed(t));
}

TEST_F(ChatWriteWindows, APasteCutAtTheLimitIsToldInTheWindow)
{
    CSendChatThread* t = openWriteToGroup(sandbox.chatTable, 0);
    ASSERT_NE(t, nullptr);
    CSendChatFrame* f = t->frame();
    EXPECT_TRUE(f->cutNotice()->isHidden());
    f->view()->setPlainText(QString(CSendChatView::kMaxCharacters - 2, u'a'));
    f->view()->moveCursor(QTextCursor::End);
    QApplication::clipboard()->setText("xyz12");
    f->view()->paste();
    EXPECT_EQ(f->view()->characterCount(), CSendChatView::kMaxCharacters);
    EXPECT_FALSE(f->cutNotice()->isHidden());
    EXPECT_EQ(f->cutNotice()->text(), CSendChatFrame::cutNoticeText(3));
    // A paste that fits says nothing; the notice goes with the next change.
    QTest::keyClick(f->view(), Qt::Key_Backspace);
    EXPECT_TRUE(f->cutNotice()->isHidden());
    QApplication::clipboard()->setText("z");
    f->view()->paste();
    EXPECT_TRUE(f->cutNotice()->isHidden());
    EXPECT_EQ(f->view()->toPlainText().right(3), "axz");
}

TEST_F(ChatWriteWindows, SecondWindowSendsToItsOwnRecipientAfterTheFirstCloses)
{
    // Carol's address is nowhere on this network; bob is this host. The display name "dup" occurs
    // twice: the first key is the one addressed.
    sandbox.chatTable.groups[0].members = {"10.0.0.99#12121#carol", "10.0.0.1#12121#dup", "10.0.0.98#12121#dup"};
    CSendChatThread* first = openWriteToPerson(sandbox.chatTable, 0, "carol");
    CSendChatThread* second = openWriteToPerson(sandbox.chatTable, 0, "dup");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->recipient, "10.0.0.99");
    EXPECT_EQ(second->recipient, "10.0.0.1");
    EXPECT_EQ(second->frame()->windowTitle(), "dup-Orvalink(A)");
    EXPECT_EQ(sandbox.chatTable.chatWriteCount(), 2);
    EXPECT_EQ(second->slotIndex(), 1);

    first->frame()->onCommand(res::kCmdChatWriteClose);
    ASSERT_TRUE(closed(first));
    EXPECT_EQ(sandbox.chatTable.chatWriteCount(), 1);

    type(second->frame(), "just you");
    second->frame()->pressButton();
    EXPECT_TRUE(arrived(chat::buildPersonalMessage("me", "just you")));
    EXPECT_TRUE(closed(second));
    settle();
    EXPECT_EQ(arrivals.size(), 1u);
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(ChatWriteWindows, AMemberIsAddressedByItsKeyNotByItsName)
{
    // Two members named "dup": the second (this host) is the one meant, by node and by row.
    const std::string meant = "10.0.0.1#12121#dup";
    sandbox.chatTable.groups[0].members = {"10.0.0.99#12121#dup", meant};
    CSendChatThread* byNode = openWriteToMember(sandbox.chatTable, 0, meant);
    ASSERT_NE(byNode, nullptr);
    EXPECT_EQ(byNode->recipient, "10.0.0.1");
    EXPECT_EQ(byNode->frame()->windowTitle(), "dup-Orvalink(A)");
    CSendChatThread* byRow = openMessageRow(sandbox.chatTable, 0, "dup  2026/12/07  22:00:00", "hi", meant);
    ASSERT_NE(byRow, nullptr);
    EXPECT_EQ(byRow->recipient, "10.0.0.1");
    // A member that has left is no one to write to.
    CSendChatThread* gone =
        openMessageRow(sandbox.chatTable, 0, "dup  2026/12/07  22:00:00", "hi", "10.0.0.7#12121#dup");
    ASSERT_NE(gone, nullptr);
    EXPECT_TRUE(gone->recipient.empty());
    EXPECT_TRUE(openWriteToMember(sandbox.chatTable, 0, "10.0.0.7#12121#dup")->recipient.empty());

    type(byNode->frame(), "by key");
    byNode->frame()->pressButton();
    EXPECT_TRUE(arrived(chat::buildPersonalMessage("me", "by key")));
}

TEST_F(ChatWriteWindows, ReadWindowRepliesToTheSenderWithQuotedLines)
{
    sandbox.chatTable.groups[0].members = {"10.0.0.97#12121#Taro", "10.0.0.1#12121#Taro Yamada"};
    CSendChatThread* t = openMessageRow(sandbox.chatTable, 0, "Taro Yamada  2026/12/07  22:00:00", "first\r\nsecond");
    ASSERT_NE(t, nullptr);
    CSendChatFrame* f = t->frame();
    EXPECT_EQ(f->windowTitle(), "Taro Yamada");
    EXPECT_EQ(t->recipient, "10.0.0.1");
    EXPECT_TRUE(f->inReadMode());
    EXPECT_TRUE(f->view()->isReadOnly());
    EXPECT_EQ(f->button()->text(), QString::fromUtf8("返信(&D)"));
    EXPECT_EQ(f->view()->text(), "first\r\nsecond");

    f->pressButton(); // reply: nothing is sent yet
    EXPECT_FALSE(f->view()->isReadOnly());
    EXPECT_EQ(f->button()->text(), QString::fromUtf8("送信(&S)"));
    EXPECT_EQ(f->view()->text(), ">first\r\n>second");
    settle();
    EXPECT_TRUE(arrivals.empty());

    QTest::keyClick(f->view(), Qt::Key_Return);
    type(f, "ok");
    f->pressButton();
    EXPECT_TRUE(arrived(chat::buildPersonalMessage("me", ">first\r\n>second\r\nok")));
    EXPECT_TRUE(closed(t));
}

TEST_F(ChatWriteWindows, NoMemberToAddressIsRefusedNeverSentToTheGroup)
{
    // A row whose sender has left: the window reads, but its reply is refused.
    CSendChatThread* row = openMessageRow(sandbox.chatTable, 0, "gone  2026/12/07  22:00:00", "bye");
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(row->recipient.empty());
    row->frame()->pressButton();
    EXPECT_TRUE(row->frame()->inReadMode());
    EXPECT_TRUE(row->frame()->view()->isReadOnly());

    // A member node whose member left meanwhile: the send is refused, the text stays.
    CSendChatThread* person = openWriteToPerson(sandbox.chatTable, 0, "gone");
    ASSERT_NE(person, nullptr);
    type(person->frame(), "hi");
    person->frame()->pressButton();
    settle(300);
    EXPECT_TRUE(arrivals.empty());
    EXPECT_EQ(sandbox.chatTable.chatWriteCount(), 2);
    EXPECT_EQ(person->frame()->view()->text(), "hi");
    const auto calls = boxes.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].text, noRecipientText());
    EXPECT_EQ(calls[1].text, noRecipientText());
}

TEST_F(ChatWriteWindows, GroupWithoutListenerIsReportedAndTheWindowCloses)
{
    CSendChatThread* t = openWriteToGroup(sandbox.chatTable, 0);
    ASSERT_NE(t, nullptr);
    sandbox.chatTable.stopListener(0, false);
    type(t->frame(), "late");
    t->frame()->pressButton();
    EXPECT_TRUE(closed(t));
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, sj("送信しようとしているグループは削除されました"));
    EXPECT_TRUE(arrivals.empty());
}

TEST_F(ChatWriteWindows, HundredWindowsOpenTheNextIsRefused)
{
    std::vector<CSendChatThread*> open;
    for (int i = 0; i < kMaxChatWriteWindows; ++i) {
        CSendChatThread* t = openWriteToGroup(sandbox.chatTable, 0);
        ASSERT_NE(t, nullptr) << i;
        open.push_back(t);
    }
    EXPECT_EQ(sandbox.chatTable.chatWriteCount(), kMaxChatWriteWindows);
    EXPECT_EQ(openWriteToGroup(sandbox.chatTable, 0), nullptr);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, tooManyWindowsText());
    EXPECT_EQ(sandbox.chatTable.chatWriteCount(), kMaxChatWriteWindows);

    // A freed slot is taken again.
    open[40]->frame()->close();
    ASSERT_TRUE(closed(open[40]));
    CSendChatThread* again = openWriteToGroup(sandbox.chatTable, 0);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->slotIndex(), 40);
}

TEST_F(ChatWriteWindows, ClosingAllEndsEveryWindowAndItsThreadWithoutSending)
{
    CSendChatThread* a = openWriteToGroup(sandbox.chatTable, 0);
    CSendChatThread* b = openWriteToGroup(sandbox.chatTable, 0);
    ASSERT_TRUE(a && b);
    type(a->frame(), "never sent");
    closeAllWindows(sandbox.chatTable);
    EXPECT_EQ(sandbox.chatTable.chatWriteCount(), 0);
    for (CSendChatThread* t : sandbox.chatTable.chatWriteSlots())
        EXPECT_EQ(t, nullptr);
    settle();
    EXPECT_TRUE(arrivals.empty());
}

TEST_F(ChatWriteWindows, RectangleSurvivesARestart)
{
    // The stored rectangle is the window's frame, borders and title bar included.
    CSendChatThread* t = openWriteToGroup(sandbox.chatTable, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return t->frame()->frameGeometry() == QRect(1, 1, 299, 299); }, 5000))
        << "the defaults 1, 1, 300, 300";
    t->frame()->setGeometry(50, 60, 400, 300);
    const QRect frame = t->frame()->frameGeometry();
    t->frame()->close();
    ASSERT_TRUE(closed(t));
    auto& p = platform::Profile::application();
    EXPECT_EQ(p.getInt("ChatWriteWindow Entry", "Left", 0), frame.left());
    EXPECT_EQ(p.getInt("ChatWriteWindow Entry", "top", 0), frame.top());
    EXPECT_EQ(p.getInt("ChatWriteWindow Entry", "Right", 0), frame.left() + frame.width());
    EXPECT_EQ(p.getInt("ChatWriteWindow Entry", "Bottom", 0), frame.top() + frame.height());

    platform::Profile::reopenApplication(); // as the next start reads the store
    CSendChatThread* next = openWriteToGroup(sandbox.chatTable, 0);
    ASSERT_NE(next, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return next->frame()->frameGeometry() == frame; }, 5000))
        << next->frame()->frameGeometry().x() << "," << next->frame()->frameGeometry().y();
    EXPECT_EQ(next->frame()->geometry(), QRect(50, 60, 400, 300));
}

// Chat write windows keep the listener thread sending while its group is deleted (and, in turn,
// while the program exits): the socket must not go while a send of the listener is inside it. Each
// window is fed one send after another from a thread of its own, before, during and after the
// listener stops; sends after it has gone are dropped, nothing is left blocked, and the group's
// port is free again.
TEST_F(ChatWriteWindows, ListenerStopsSafelyWhileWindowsSend)
{
    constexpr int kWindows = 6;
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        if (round > 0) {
            sandbox.chatTable.startListener(0);
            ASSERT_TRUE(QTest::qWaitFor([&] { return arrivals.size() >= 2; }, 5000));
        }
        CNetMsgDlg* listener = sandbox.chatTable.listener(0)->window();
        std::vector<CSendChatThread*> windows;
        for (int i = 0; i < kWindows; ++i) {
            CSendChatThread* t = openWriteToGroup(sandbox.chatTable, 0);
            ASSERT_NE(t, nullptr);
            // The window would close after its first send; here it keeps sending.
            t->worker()->setOnSent({});
            t->worker()->setListener(listener);
            windows.push_back(t);
        }
        std::atomic<bool> stop = false;
        std::atomic<int> sends = 0;
        std::vector<std::thread> feeders;
        for (CSendChatThread* t : windows)
            feeders.emplace_back([&, worker = t->worker()] {
                for (int n = 0; !stop; ++n) {
                    platform::sendMessage(worker, {WM_CHAT_WRITE_SEND, "m" + std::to_string(n), std::string()});
                    ++sends;
                }
            });
        ASSERT_TRUE(orvalink::test::waitUntil([&] { return sends >= 50; }, 10000));
        sandbox.chatTable.stopListener(0, round % 2 == 1);
        EXPECT_EQ(sandbox.chatTable.listener(0), nullptr);
        // The windows went on sending past the end of the listener.
        const int atStop = sends;
        EXPECT_TRUE(orvalink::test::waitUntil([&] { return sends >= atStop + 2 * kWindows; }, 10000));
        stop = true;
        for (std::thread& f : feeders)
            f.join();
        closeAllWindows(sandbox.chatTable);
        EXPECT_EQ(sandbox.chatTable.chatWriteCount(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        RawPeer again(12121);
        EXPECT_TRUE(again.bound());
        arrivals.clear();
    }
    sandbox.chatTable.startListener(0); // as TearDown expects it
}

} // namespace

} // namespace orvalink::chat
