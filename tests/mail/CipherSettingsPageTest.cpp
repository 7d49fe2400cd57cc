// The "暗号" page: the model's rules without widgets (ports offered, choices in and out of an
// account), then the page inside the sheet, registered through the sheet's OK.
#include "mail/CCipherSettingsPage.h"
#include "mail/CMailSettingsSheet.h"
#include "mail/CServerSettingsPage.h"
#include "mail/MailDirectory.h"
#include "mail/MailSettingsModel.h"
#include "mail/MailTestSupport.h"
#include "platform/MessageBoxRecorder.h"
#include "platform/TextCodec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace orvalink::mail {

namespace {

using TS = TransportSecurity;

TEST(CipherModel, ChoosingASecurityOffersItsUsualPortOnlyOverAUsualPort)
{
    const struct {
        MailSide side;
        TS security;
        const char* box;
        const char* offered;
    } cases[] = {
        {MailSide::Receive, TS::Implicit, "110", "995"},   {MailSide::Receive, TS::Implicit, "", "995"},
        {MailSide::Receive, TS::Implicit, "  ", "995"},    {MailSide::Receive, TS::None, "995", "110"},
        {MailSide::Receive, TS::StartTls, "995", "110"},   {MailSide::Receive, TS::StartTls, "110", "110"},
        {MailSide::Receive, TS::Implicit, "1110", "1110"}, {MailSide::Receive, TS::Implicit, "25", "25"},
        {MailSide::Send, TS::Implicit, "25", "465"},       {MailSide::Send, TS::StartTls, "25", "587"},
        {MailSide::Send, TS::StartTls, "", "587"},         {MailSide::Send, TS::Implicit, "587", "465"},
        {MailSide::Send, TS::None, "465", "25"},           {MailSide::Send, TS::Implicit, " 25 ", "465"},
        {MailSide::Send, TS::Implicit, "2525", "2525"},    {MailSide::Send, TS::StartTls, "110", "110"},
        {MailSide::Send, TS::Implicit, "abc", "abc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MailSettingsModel::offeredPort(c.side, c.security, c.box), c.offered)
            << static_cast<int>(c.side) << '/' << static_cast<int>(c.security) << " over \"" << c.box << '"';
}

MailAccount securedAccount()
{
    MailAccount a = sampleAccount("A");
    a.popSecurity = "2";
    a.smtpSecurity = "1";
    a.smtpAuth = "1";
    a.smtpUser = "smtp-user";
    a.smtpPassword = "smtp-pw";
    a.popCertPin = std::string(64, 'a');
    a.smtpCertPin = std::string(64, 'b');
    return a;
}

TEST(CipherModel, AnAccountShownAndLeftAloneStaysAsStored)
{
    MailAccount zeros = sampleAccount("Z");
    zeros.popSecurity = "0";
    zeros.smtpAuth = "0";
    zeros.plainAuth = "0";
    for (const MailAccount& stored : {sampleAccount("A"), securedAccount(), zeros}) {
        MailAccount copy = stored;
        MailSettingsModel::applyCipherChoices(MailSettingsModel::cipherChoices(stored), copy);
        EXPECT_EQ(copy, stored) << stored.serverName;
    }
}

TEST(CipherModel, ChoicesWriteTheStoredTextsAndKeepTheCertificates)
{
    MailAccount a = securedAccount();
    CipherChoices c;
    c.receive = TS::None;
    c.send = TS::Implicit;
    c.smtpAuth = false;
    c.clearAuth = true;
    MailSettingsModel::applyCipherChoices(c, a);
    EXPECT_EQ(a.popSecurity, "");
    EXPECT_EQ(a.smtpSecurity, "2");
    EXPECT_EQ(a.smtpAuth, "");
    EXPECT_EQ(a.plainAuth, "1");
    EXPECT_EQ(a.smtpUser, "");
    EXPECT_EQ(a.popCertPin, std::string(64, 'a'));
    EXPECT_EQ(a.smtpCertPin, std::string(64, 'b'));
    EXPECT_EQ(MailSettingsModel::cipherChoices(a), c);
}

class CipherPage : public ::testing::Test {
protected:
    CCipherSettingsPage& open()
    {
        m_sheet = std::make_unique<CMailSettingsSheet>(m_directory);
        m_sheet->show();
        return *m_sheet->cipherPage();
    }
    void pressOk() { QTest::mouseClick(m_sheet->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton); }
    std::string port(int id) const { return platform::fromQString(m_sheet->serverPage()->edit(id)->text()); }
    // Picks a security as the user does in the drop-down.
    static void choose(CCipherSettingsPage& page, MailSide side, TS security)
    {
        QComboBox* box = page.securityBox(side);
        box->setCurrentIndex(static_cast<int>(security));
        emit box->activated(static_cast<int>(security));
    }
    static void write(const MailAccount& a)
    {
        MailAccountStore store;
        store.write(1, a);
        store.setCount(1);
        store.setEdit(1);
    }

    ProfileSandbox sandbox;
    MailDirectory m_directory;
    std::unique_ptr<CMailSettingsSheet> m_sheet;
};

TEST_F(CipherPage, ControlsCarryTheirIdsAndJapaneseTexts)
{
    CCipherSettingsPage& page = open();
    for (MailSide side : {MailSide::Receive, MailSide::Send}) {
        QComboBox* box = page.securityBox(side);
        ASSERT_EQ(box->count(), 3);
        EXPECT_EQ(box->itemText(0), QString::fromUtf8("なし"));
        EXPECT_EQ(box->itemText(1), QString::fromUtf8("STARTTLS"));
        EXPECT_EQ(box->itemText(2), QString::fromUtf8("SSL/TLS"));
    }
    EXPECT_EQ(page.securityBox(MailSide::Receive)->objectName(), "1040");
    EXPECT_EQ(page.securityBox(MailSide::Send)->objectName(), "1041");
    EXPECT_EQ(page.smtpAuthBox()->text(), QString::fromUtf8("SMTP認証"));
    EXPECT_EQ(page.clearAuthBox()->text(), QString::fromUtf8("平文での認証を許可"));
    EXPECT_EQ(page.smtpPasswordEdit()->echoMode(), QLineEdit::Password);
    int labelled = 0;
    for (QLabel* l : page.findChildren<QLabel*>())
        labelled += l->buddy() != nullptr;
    EXPECT_EQ(labelled, 4);
    // User and password only matter with AUTH on.
    EXPECT_FALSE(page.smtpUserEdit()->isEnabled());
    page.smtpAuthBox()->setChecked(true);
    EXPECT_TRUE(page.smtpUserEdit()->isEnabled());
    EXPECT_TRUE(page.clearAuthBox()->isEnabled());
}

TEST_F(CipherPage, AnAccountWithoutTheKeysIsShownPlainAndOkAsksNothing)
{
    MailAccount plain = sampleAccount("A");
    write(plain);
    const std::vector before = sandbox.profile().entries("Server Entry");
    platform::MessageBoxRecorder boxes;
    CCipherSettingsPage& page = open();
    EXPECT_EQ(page.choices(), CipherChoices{});
    pressOk();
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_EQ(sandbox.profile().entries("Server Entry"), before);
}

TEST_F(CipherPage, ShowsTheStoredChoicesAndRegistersNewOnesWithTheOfferedPorts)
{
    MailAccount a = securedAccount();
    a.popPort = "110";
    a.smtpPort = "25";
    write(a);
    CCipherSettingsPage& page = open();
    EXPECT_EQ(page.choices(), MailSettingsModel::cipherChoices(a));
    EXPECT_EQ(platform::fromQString(page.smtpUserEdit()->text()), "smtp-user");

    choose(page, MailSide::Receive, TS::Implicit);
    choose(page, MailSide::Send, TS::Implicit);
    EXPECT_EQ(port(CServerSettingsPage::kIdPopPort), "995");
    EXPECT_EQ(port(CServerSettingsPage::kIdSmtpPort), "465");
    choose(page, MailSide::Send, TS::StartTls);
    EXPECT_EQ(port(CServerSettingsPage::kIdSmtpPort), "587");
    m_sheet->serverPage()->edit(CServerSettingsPage::kIdSmtpPort)->setText("2525");
    choose(page, MailSide::Send, TS::Implicit);
    EXPECT_EQ(port(CServerSettingsPage::kIdSmtpPort), "2525") << "a port the user typed stays";
    page.clearAuthBox()->setChecked(true);
    page.smtpPasswordEdit()->setText("new-pw");

    platform::MessageBoxRecorder boxes({platform::IDYES});
    pressOk();
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, sj("変更を登録しますか？"));
    MailAccount expected = a;
    expected.popPort = "995";
    expected.smtpPort = "2525";
    expected.smtpSecurity = "2";
    expected.plainAuth = "1";
    expected.smtpPassword = "new-pw";
    EXPECT_EQ(MailAccountStore().read(1), expected);
    EXPECT_EQ(sandbox.profile().getString("Server Entry", "SMTP Security1", ""), "2");
    EXPECT_EQ(sandbox.profile().getString("Server Entry", "SMTP CertPin1", ""), std::string(64, 'b'));
}

} // namespace

} // namespace orvalink::mail
