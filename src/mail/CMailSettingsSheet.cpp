#include "mail/CMailSettingsSheet.h"

#include "mail/CServerSettingsPage.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace orvalink::mail {

using res::resourceIcon;

CMailSettingsSheet::CMailSettingsSheet(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("fdgagasg");
    setWindowIcon(resourceIcon(res::kIconMain));

    m_pages = new QTabWidget(this);
    m_serverPage = new CServerSettingsPage(m_pages);
    m_serverPage->setObjectName(QString::number(res::kDialogServerSettings));
    m_pages->addTab(m_serverPage, QString::fromUtf8("サーバー設定"));
    auto* cipher = new QWidget(m_pages);
    cipher->setObjectName(QString::number(res::kDialogCipherPage));
    m_pages->addTab(cipher, QString::fromUtf8("暗号"));
    auto* sorting = new QWidget(m_pages);
    sorting->setObjectName(QString::number(res::kDialogSortingPage));
    m_pages->addTab(sorting, QString::fromUtf8("振り分け"));

    // No Apply: nothing waits to be applied.
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->button(QDialogButtonBox::Ok)->setText("OK");
    m_buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("キャンセル"));
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(m_buttons);
}

void CMailSettingsSheet::done(int result)
{
    m_serverPage->onPageClosing();
    QDialog::done(result);
}

} // namespace orvalink::mail
