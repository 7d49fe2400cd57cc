#pragma once

// The "暗号" page of the mail settings sheet (dialog 198): for the account the server page shows,
// how receiving and sending are protected (なし / STARTTLS / SSL/TLS), SMTP AUTH with its own user
// and password (empty: the POP3 ones), and whether AUTH may go over a connection without TLS. The
// page only shows and collects (MailSettingsModel::cipherChoices); the server page loads it with
// each account and takes its choices when it registers, and the sheet's OK compares them with the
// store like every other field.
//
// Controls carry their dialog ids as object names, like the server page's.

#include "mail/MailSettingsModel.h"

#include <QWidget>

class QCheckBox;

class QComboBox;

class QLineEdit;

namespace orvalink::mail {

class CCipherSettingsPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kIdPopSecurity = 1040;
    static constexpr int kIdSmtpSecurity = 1041;
    static constexpr int kIdSmtpAuth = 1042;
    static constexpr int kIdSmtpUser = 1043;
    static constexpr int kIdSmtpPassword = 1044;
    static constexpr int kIdClearAuth = 1045;

    explicit CCipherSettingsPage(QWidget* parent = nullptr);

    void showChoices(const CipherChoices& choices);
    CipherChoices choices() const;

    QComboBox* securityBox(MailSide side) const { return side == MailSide::Receive ? m_popSecurity : m_smtpSecurity; }
    QCheckBox* smtpAuthBox() const { return m_smtpAuth; }
    QCheckBox* clearAuthBox() const { return m_clearAuth; }
    QLineEdit* smtpUserEdit() const { return m_smtpUser; }
    QLineEdit* smtpPasswordEdit() const { return m_smtpPassword; }

signals:
    // The user picked a security for one side (not when an account is loaded).
    void securityChosen(orvalink::mail::MailSide side, orvalink::mail::TransportSecurity security);

private:
    void enableAuthFields();

    QComboBox* m_popSecurity = nullptr;
    QComboBox* m_smtpSecurity = nullptr;
    QCheckBox* m_smtpAuth = nullptr;
    QLineEdit* m_smtpUser = nullptr;
    QLineEdit* m_smtpPassword = nullptr;
    QCheckBox* m_clearAuth = nullptr;
};

} // namespace orvalink::mail
