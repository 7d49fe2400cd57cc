#include "platform/MessageBox.h"

#include "platform/EventLoopWait.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace orvalink::platform {

using orvalink::test::processEventsUntil;

namespace {
// "２重起動は出来ません" and "メッセージ" in code page 932.
const std::string kTwice = "\x82\x51\x8F\x64\x8B\x4E\x93\xAE\x82\xCD\x8F\x6F\x97\x88\x82\xDC\x82\xB9\x82\xF1";
const std::string kMessage = "\x83\x81\x83\x62\x83\x5A\x81\x5B\x83\x57";

QMessageBox* visibleMessageBox()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            return box;
    return nullptr;
}
} // namespace

TEST(MessageBox, RecorderRecordsCallsFromAnyThreadAndAnswersFromItsQueue)
{
    MessageBoxRecorder rec({IDCANCEL});
    EXPECT_EQ(messageBox(kTwice, kMessage, MB_OKCANCEL), IDCANCEL);
    int fromThread = 0;
    std::thread([&] { fromThread = messageBox("Socket creation failed"); }).join();
    EXPECT_EQ(fromThread, IDOK) << "IDOK once the queue is empty";
    rec.pushAnswer(IDNO);
    EXPECT_EQ(messageBox("q", "c", MB_YESNO | MB_ICONQUESTION), IDNO);

    const auto calls = rec.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].text, kTwice);
    EXPECT_EQ(calls[0].caption, kMessage);
    EXPECT_EQ(calls[0].type, MB_OKCANCEL);
    EXPECT_EQ(calls[1].text, "Socket creation failed");
    EXPECT_EQ(calls[1].caption, "Orvalink");
    EXPECT_EQ(calls[1].type, MB_OK);
    EXPECT_EQ(calls[2].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()) << "no dialog while a responder answers";
}

TEST(MessageBox, FromAnotherThreadTheDialogIsShownOnTheGuiThread)
{
    struct Case {
        unsigned type;
        QMessageBox::StandardButton press;
        int expected;
        QMessageBox::Icon icon;
    };
    const Case cases[] = {
        {MB_YESNO | MB_ICONQUESTION, QMessageBox::No, IDNO, QMessageBox::Question},
        {MB_YESNO, QMessageBox::Yes, IDYES, QMessageBox::NoIcon},
        {MB_OKCANCEL | MB_ICONEXCLAMATION, QMessageBox::Cancel, IDCANCEL, QMessageBox::Warning},
        {MB_OK | MB_ICONSTOP, QMessageBox::Ok, IDOK, QMessageBox::Critical},
        {MB_OK | MB_ICONINFORMATION, QMessageBox::Ok, IDOK, QMessageBox::Information},
    };
    for (const auto& c : cases) {
        // The dialog runs its own modal loop on this thread: a timer inside that loop answers it.
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool pressed = false;
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            QMessageBox* box = visibleMessageBox();
            if (!box || pressed)
                return;
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            if (QAbstractButton* b = box->button(c.press)) {
                pressed = true;
                b->click();
            } else {
                box->reject();
            }
        });
        answerer.start(10);
        auto result = std::async(std::launch::async, [&] { return messageBox(kTwice, kMessage, c.type); });
        ASSERT_TRUE(
            processEventsUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        EXPECT_TRUE(pressed);
        EXPECT_EQ(result.get(), c.expected);
        EXPECT_EQ(title, QString::fromUtf8("メッセージ"));
        EXPECT_EQ(text, QString::fromUtf8("２重起動は出来ません"));
        EXPECT_EQ(icon, c.icon);
    }
}

TEST(MessageBox, FolderPickerResponder)
{
    std::string askedTitle;
    setFolderPickerResponder([&](std::string_view title) -> std::optional<std::string> {
        askedTitle = title;
        if (title == "cancel")
            return std::nullopt;
        return std::string("/home/user/\x83\x8D\x83\x4F"); // ログ
    });
    EXPECT_EQ(pickFolder("choose", "/tmp"), "/home/user/\x83\x8D\x83\x4F");
    EXPECT_EQ(askedTitle, "choose");
    EXPECT_EQ(pickFolder("cancel"), std::nullopt);
    setFolderPickerResponder(nullptr);
}

} // namespace orvalink::platform
