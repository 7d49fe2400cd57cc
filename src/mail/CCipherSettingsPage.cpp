#include "mail/CCipherSettingsPage.h"

#include "platform/TextCodec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

namespace orvalink::mail {

namespace {

// The box's items in the order of TransportSecurity.
constexpr const char* kSecurityNames[] = {"なし", "STARTTLS", "SSL/TLS"};

int indexOf(TransportSecurity security)
{
    return static_cast<int>(security);
}

TransportSecurity securityAt(int index)
{
    return index == 1   ? TransportSecurity::StartTls
           : index == 2 ? TransportSecurity::Implicit
                        : TransportSecurity::None;
}

} // namespace

CCipherSettingsPage::CCipherSettingsPage(QWidget* parent) : QWidget(parent)
{
    auto makeSecurityBox = [this](int id) {
        auto* box = new QComboBox(this);
        box->setObjectName(QString::number(id));
        for (const char* name : kSecurityNames)
            box->addItem(platform::uiText(name));
        return box;
    };
    auto makeCheck = [this](int id, const char* utf8Text) {
        auto* check = new QCheckBox(platform::uiText(utf8Text), this);
        check->setObjectName(QString::number(id));
        return check;
    };
    m_popSecurity = makeSecurityBox(kIdPopSecurity);
    m_smtpSecurity = makeSecurityBox(kIdSmtpSecurity);
    m_smtpAuth = makeCheck(kIdSmtpAuth, "SMTP認証");
    m_smtpUser = new QLineEdit(this);
    m_smtpUser->setObjectName(QString::number(kIdSmtpUser));
    m_smtpUser->setPlaceholderText(platform::uiText("空欄: POP3のアカウント"));
    m_smtpPassword = new QLineEdit(this);
    m_smtpPassword->setObjectName(QString::number(kIdSmtpPassword));
    m_smtpPassword->setEchoMode(QLineEdit::Password);
    m_smtpPassword->setPlaceholderText(platform::uiText("空欄: POP3のパスワード"));
    m_clearAuth = makeCheck(kIdClearAuth, "平文での認証を許可");

    // Laid out like the server page: a label column and a field column.
    auto* grid = new QGridLayout(this);
    int row = 0;
    auto addRow = [&](const char* utf8Label, QWidget* field) {
        auto* l = new QLabel(platform::uiText(utf8Label), this);
        l->setBuddy(field);
        grid->addWidget(l, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    };
    addRow("受信（POP3）の暗号", m_popSecurity);
    addRow("送信（SMTP）の暗号", m_smtpSecurity);
    grid->addWidget(m_smtpAuth, row++, 0, 1, 2);
    addRow("SMTPのユーザー名", m_smtpUser);
    addRow("SMTPのパスワード", m_smtpPassword);
    grid->addWidget(m_clearAuth, row++, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(row, 1);

    connect(m_popSecurity, &QComboBox::activated, this,
            [this](int index) { emit securityChosen(MailSide::Receive, securityAt(index)); });
    connect(m_smtpSecurity, &QComboBox::activated, this,
            [this](int index) { emit securityChosen(MailSide::Send, securityAt(index)); });
    connect(m_smtpAuth, &QCheckBox::toggled, this, &CCipherSettingsPage::enableAuthFields);
    enableAuthFields();
}

void CCipherSettingsPage::showChoices(const CipherChoices& choices)
{
    m_popSecurity->setCurrentIndex(indexOf(choices.receive));
    m_smtpSecurity->setCurrentIndex(indexOf(choices.send));
    m_smtpAuth->setChecked(choices.smtpAuth);
    m_smtpUser->setText(platform::toQString(choices.smtpUser));
    m_smtpPassword->setText(platform::toQString(choices.smtpPassword));
    m_clearAuth->setChecked(choices.clearAuth);
    enableAuthFields();
}

CipherChoices CCipherSettingsPage::choices() const
{
    CipherChoices choices;
    choices.receive = securityAt(m_popSecurity->currentIndex());
    choices.send = securityAt(m_smtpSecurity->currentIndex());
    choices.smtpAuth = m_smtpAuth->isChecked();
    choices.smtpUser = platform::fromQString(m_smtpUser->text());
    choices.smtpPassword = platform::fromQString(m_smtpPassword->text());
    choices.clearAuth = m_clearAuth->isChecked();
    return choices;
}

void CCipherSettingsPage::enableAuthFields()
{
    // The user and password are kept as typed while AUTH is off; they only do nothing.
    const bool on = m_smtpAuth->isChecked();
    m_smtpUser->setEnabled(on);
    m_smtpPassword->setEnabled(on);
    m_clearAuth->setEnabled(on);
}

} // namespace orvalink::mail
