// Japanese typed through an input method: what the input method sends the program's text fields (a
// preedit shown in place, then a commit). The chat write window's text, the compose window's body
// and header fields, and the settings fields take the committed text; the character limits count
// committed text only, never the preedit. (The real input methods drive these same events; the
// desktop suite runs them where they can run headless.)

#include "chat/CSendChatView.h"
#include "mail/CSendHeaderBar.h"
#include "mail/CSendView.h"
#include "mail/CServerSettingsPage.h"
#include "mail/MailDirectory.h"
#include "platform/LimitedTextEdit.h"
#include "platform/text/Cp932.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextLayout>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace orvalink::app {

namespace {

// The events an input method sends for "nihongo", space, Enter: the reading, the conversion, the
// commit.
void composeNihongo(QWidget* target)
{
    for (const QString& preedit : {QStringLiteral("にほんご"), QStringLiteral("日本語")}) {
        QInputMethodEvent e(preedit, {QInputMethodEvent::Attribute(QInputMethodEvent::Cursor, preedit.size(), 1)});
        QApplication::sendEvent(target, &e);
    }
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("日本語"));
    QApplication::sendEvent(target, &commit);
}

QString preeditShown(const platform::LimitedTextEdit& edit)
{
    return edit.textCursor().block().layout()->preeditAreaText();
}

} // namespace

TEST(InputMethod, TheWriteAndComposeTextsShowThePreeditAndTakeTheCommit)
{
    const struct {
        const char* what;
        std::function<std::unique_ptr<platform::LimitedTextEdit>()> make;
    } views[] = {
        {"chat write window", [] { return std::make_unique<chat::CSendChatView>(); }},
        {"compose body", [] { return std::make_unique<mail::CSendView>(); }},
    };
    for (const auto& v : views) {
        auto edit = v.make();
        edit->setAttribute(Qt::WA_InputMethodEnabled);
        EXPECT_TRUE(edit->testAttribute(Qt::WA_InputMethodEnabled)) << v.what;
        QInputMethodEvent reading(QStringLiteral("にほんご"), {});
        QApplication::sendEvent(edit.get(), &reading);
        EXPECT_EQ(preeditShown(*edit), QStringLiteral("にほんご")) << v.what << ": the reading shows in place";
        EXPECT_EQ(edit->characterCount(), 0) << v.what << ": a preedit is not text yet";
        composeNihongo(edit.get());
        EXPECT_EQ(preeditShown(*edit), QString()) << v.what;
        EXPECT_EQ(edit->text(), platform::utf8ToCp932("日本語")) << v.what;
    }
}

TEST(InputMethod, TheLimitCountsCommittedTextOnly)
{
    chat::CSendChatView view;
    QSignalSpy cut(&view, &platform::LimitedTextEdit::textCut);
    view.setPlainText(QString(chat::CSendChatView::kMaxCharacters - 2, u'a'));
    view.moveCursor(QTextCursor::End);
    // A reading longer than the room left is shown whole: nothing is committed yet.
    QInputMethodEvent reading(QStringLiteral("にほんごのぶん"), {});
    QApplication::sendEvent(&view, &reading);
    EXPECT_EQ(preeditShown(view), QStringLiteral("にほんごのぶん"));
    EXPECT_TRUE(cut.isEmpty());
    composeNihongo(&view);
    EXPECT_EQ(view.characterCount(), chat::CSendChatView::kMaxCharacters);
    EXPECT_TRUE(view.toPlainText().endsWith(QStringLiteral("aa日本")));
    ASSERT_EQ(cut.count(), 1);
    EXPECT_EQ(cut.at(0).at(0).toInt(), 2);
    EXPECT_EQ(cut.at(0).at(1).toInt(), 1);
}

TEST(InputMethod, HeaderAndSettingsFieldsTakeTheCommit)
{
    mail::CSendHeaderBar header;
    mail::MailDirectory directory;
    mail::CServerSettingsPage server(directory);
    int fields = 0;
    for (QWidget* w : {static_cast<QWidget*>(&header), static_cast<QWidget*>(&server)}) {
        for (QLineEdit* e : w->findChildren<QLineEdit*>()) {
            if (e->isReadOnly() || e->echoMode() != QLineEdit::Normal)
                continue; // a password field takes no input method, as everywhere
            ++fields;
            e->clear();
            e->setFocus();
            QInputMethodEvent reading(QStringLiteral("にほんご"), {});
            QApplication::sendEvent(e, &reading);
            EXPECT_EQ(e->text(), QString()) << e->objectName().toStdString() << ": preedit is not text";
            composeNihongo(e);
            EXPECT_EQ(e->text(), QStringLiteral("日本語")) << e->objectName().toStdString();
        }
    }
    EXPECT_GE(fields, 6) << "the compose header (To, Cc, Subject...) and the account fields";
}

} // namespace orvalink::app
