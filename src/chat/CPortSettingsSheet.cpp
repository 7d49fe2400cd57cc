#include "chat/CPortSettingsSheet.h"

#include "chat/CPortPage.h"
#include "platform/TextCodec.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace orvalink::chat {

using res::resourceIcon;

CPortSettingsSheet::CPortSettingsSheet(ChatGroupTable& groups, QWidget* parent)
    : QDialog(parent), m_page(new CPortPage(groups))
{
    setWindowTitle(platform::uiText("ポート＆ログの設定"));
    setWindowIcon(resourceIcon(res::kIconMain));
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    tabs->addTab(m_page, platform::uiText("ポート設定"));
    layout->addWidget(tabs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(platform::uiText("キャンセル"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CPortSettingsSheet::run(ChatGroupTable& groups, QWidget* parent)
{
    CPortSettingsSheet sheet(groups, parent);
    if (sheet.exec() == QDialog::Accepted)
        sheet.page()->storeLogSettings();
}

} // namespace orvalink::chat
