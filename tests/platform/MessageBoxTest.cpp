#include "platform/MessageBox.h"

#include "platform/EventLoopWait.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <unistd.h>

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

#if !defined(__SANITIZE_THREAD__)
// The real folder dialog (its file system model reads folders on a thread inside Qt that
// ThreadSanitizer cannot see: the other builds run this). The chosen folder comes back as code page
// 932 text; one whose name code page 932 cannot hold, or a cancel, gives nothing.
TEST(MessageBox, FolderPickerGivesTheChosenFolderInCodePage932)
{
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("orvalink-picker-" + std::to_string(::getpid()));
    struct Case {
        const char* folderUtf8; // nullptr: cancelled
        std::optional<std::string> expectedTail;
    };
    const Case cases[] = {
        {"\xE3\x83\xAD\xE3\x82\xB0", std::string("/\x83\x8D\x83\x4F")}, // ログ
        {"plain", std::string("/plain")},
        {"caf\xC3\xA9", std::nullopt}, // "café": no such character in code page 932
        {nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folderUtf8 ? c.folderUtf8 : "cancelled");
        const std::filesystem::path folder = root / (c.folderUtf8 ? c.folderUtf8 : "unused");
        std::filesystem::create_directories(folder);
        bool answered = false;
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || answered)
                return;
            answered = true;
            if (!c.folderUtf8) {
                dialog->reject();
                return;
            }
            dialog->setDirectory(QString::fromUtf8(folder.string().c_str()));
            static_cast<QDialog*>(dialog)->accept(); // the file dialog's own accept, through its public base
        });
        answerer.start(10);
        const auto chosen = pickFolder("choose", root.string());
        EXPECT_TRUE(answered);
        if (c.expectedTail)
            EXPECT_EQ(chosen, root.string() + *c.expectedTail);
        else
            EXPECT_EQ(chosen, std::nullopt);
    }
    std::filesystem::remove_all(root);
}
#endif

} // namespace orvalink::platform
