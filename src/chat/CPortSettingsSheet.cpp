#include "chat/CPortSettingsSheet.h"

#include "chat/CPortPage.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace orvalink::chat {

using res::resourceIcon;

CPortSettingsSheet::CPortSettingsSheet(QWidget* parent) : QDialog(parent), m_page(new CPortPage)
{
    setWindowTitle(QString::fromUtf8("ポート＆ログの設定"));
    setWindowIcon(resourceIcon(res::kIconMain));
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    tabs->addTab(m_page, QString::fromUtf8("ポート設定"));
    layout->addWidget(tabs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("キャンセル"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CPortSettingsSheet::run(QWidget* parent)
{
    CPortSettingsSheet sheet(parent);
    if (sheet.exec() == QDialog::Accepted)
        sheet.page()->storeLogSettings();
}

} // namespace orvalink::chat
