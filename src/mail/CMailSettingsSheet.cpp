#include "mail/CMailSettingsSheet.h"

#include "mail/CCipherSettingsPage.h"
#include "mail/CServerSettingsPage.h"
#include "mail/MailSettingsModel.h"
#include "platform/MessageBox.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace orvalink::mail {

using res::resourceIcon;

CMailSettingsSheet::CMailSettingsSheet(MailDirectory& directory, QWidget* parent)
    : QDialog(parent), m_directory(directory)
{
    setWindowTitle(platform::uiText("メール設定"));
    setWindowIcon(resourceIcon(res::kIconMain));

    m_pages = new QTabWidget(this);
    // The "暗号" page first: the server page loads it with the account it shows at once.
    m_cipherPage = new CCipherSettingsPage(m_pages);
    m_cipherPage->setObjectName(QString::number(res::kDialogCipherPage));
    m_serverPage = new CServerSettingsPage(m_directory, m_pages, m_cipherPage);
    m_serverPage->setObjectName(QString::number(res::kDialogServerSettings));
    m_pages->addTab(m_serverPage, platform::uiText("サーバー設定"));
    m_pages->addTab(m_cipherPage, platform::uiText("暗号"));
    connect(m_cipherPage, &CCipherSettingsPage::securityChosen, m_serverPage, &CServerSettingsPage::offerPort);
    auto* sorting = new QWidget(m_pages);
    sorting->setObjectName(QString::number(res::kDialogSortingPage));
    m_pages->addTab(sorting, platform::uiText("振り分け"));

    // No Apply: nothing waits to be applied.
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->button(QDialogButtonBox::Ok)->setText("OK");
    m_buttons->button(QDialogButtonBox::Cancel)->setText(platform::uiText("キャンセル"));
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(m_buttons);
}

void CMailSettingsSheet::done(int result)
{
    if (result == QDialog::Accepted) {
        MailSettingsModel model(m_directory);
        const MailSettingsForm form = m_serverPage->form();
        if (model.differsFromStore(form)) {
            const int answer =
                platform::messageBox(platform::utf8ToCp932("変更を登録しますか？"), platform::utf8ToCp932("メッセージ"),
                                     platform::MB_YESNOCANCEL | platform::MB_ICONQUESTION);
            if (answer == platform::IDYES) {
                // A refusal is told and the sheet stays, with everything typed in it.
                if (const auto refusal = model.registerChanges(form); refusal != MailSettingsModel::Refusal::None) {
                    m_serverPage->tellRefusal(refusal);
                    return;
                }
            } else if (answer == platform::IDNO) {
                m_serverPage->discardFolder();
            } else {
                return;
            }
        }
    } else {
        m_serverPage->discardFolder();
    }
    m_serverPage->onPageClosing();
    QDialog::done(result);
}

} // namespace orvalink::mail
