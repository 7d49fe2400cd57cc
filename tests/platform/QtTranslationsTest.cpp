#include "platform/QtTranslations.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTranslator>
#include <gtest/gtest.h>

namespace orvalink::platform {

namespace {

// Qt's standard buttons and its own folder picker, as a user under a C or English locale meets
// them: in Japanese once the catalogue is installed.
#if !defined(__SANITIZE_THREAD__)
// Qt's file dialog starts Qt's own file-information thread, ordered by Qt's futex locks that
// ThreadSanitizer cannot see in Debian's uninstrumented Qt; nothing of ours runs there, and the
// texts checked here do not depend on threads. The other builds run this test (a skip would fail
// the ThreadSanitizer run as a test that could not run).
TEST(QtTranslations, StandardDialogsSpeakJapaneseUnderAnyLocale)
{
    const QLocale oldLocale;
    for (const char* locale : {"C", "en_US"}) {
        SCOPED_TRACE(locale);
        QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
        ASSERT_TRUE(platform::installQtJapanese(*qApp));

        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Yes);
        EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QString::fromUtf8("キャンセル"));
        EXPECT_EQ(buttons.button(QDialogButtonBox::Yes)->text(), QString::fromUtf8("はい(&Y)"));

        QFileDialog picker;
        picker.setOption(QFileDialog::DontUseNativeDialog);
        picker.setFileMode(QFileDialog::Directory);
        QStringList labels;
        for (const QLabel* l : picker.findChildren<QLabel*>())
            labels << l->text();
        EXPECT_TRUE(labels.join('|').contains(QString::fromUtf8("ファイルの種類"))) << labels.join('|').toStdString();

        for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
    }
    QLocale::setDefault(oldLocale);
}
#endif

} // namespace

} // namespace orvalink::platform
