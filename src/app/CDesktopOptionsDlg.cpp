#include "app/CDesktopOptionsDlg.h"

#include "app/Autostart.h"
#include "app/DesktopNotifier.h"
#include "platform/Profile.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace orvalink::app {

CDesktopOptionsDlg::CDesktopOptionsDlg(const Options& current, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("デスクトップの設定"));
    setWindowIcon(res::resourceIcon(res::kIconMain));
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    auto* page = new QWidget(tabs);
    auto* inner = new QVBoxLayout(page);
    m_notify = new QCheckBox(QStringLiteral("メッセージの着信をデスクトップに通知する(&N)"), page);
    m_autostart = new QCheckBox(QStringLiteral("ログイン時に起動する(&L)"), page);
    m_notify->setChecked(current.notify);
    m_autostart->setChecked(current.autostart);
    inner->addWidget(m_notify);
    inner->addWidget(m_autostart);
    inner->addStretch(1);
    tabs->addTab(page, QStringLiteral("デスクトップ"));
    layout->addWidget(tabs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

CDesktopOptionsDlg::Options CDesktopOptionsDlg::options() const
{
    return {m_notify->isChecked(), m_autostart->isChecked()};
}

CDesktopOptionsDlg::Options CDesktopOptionsDlg::stored()
{
    return {DesktopNotifier::enabledInProfile(), Autostart::isEnabled()};
}

bool CDesktopOptionsDlg::apply(const Options& options, const std::string& program)
{
    platform::Profile::application().writeInt(DesktopNotifier::kSection, DesktopNotifier::kEnabledKey,
                                              options.notify ? 1 : 0);
    if (options.autostart == Autostart::isEnabled())
        return true;
    return Autostart::setEnabled(options.autostart, program);
}

} // namespace orvalink::app
