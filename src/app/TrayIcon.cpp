#include "app/TrayIcon.h"

#include "platform/Dispatch.h"
#include "platform/Messages.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "res/ResourceImages.h"

#include <QGuiApplication>
#include <QStyleHints>
#include <QSystemTrayIcon>

namespace orvalink::app {

using platform::WM_LBUTTONDBLCLK;
using platform::WM_LBUTTONUP;
using platform::WM_RBUTTONUP;
using res::resourceIcon;

namespace {
std::optional<bool> g_availability;
}

TrayIcon::TrayIcon() = default;

TrayIcon::~TrayIcon()
{
    remove();
}

bool TrayIcon::systemTrayAvailable()
{
    return g_availability.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void TrayIcon::overrideAvailability(std::optional<bool> available)
{
    g_availability = available;
}

bool TrayIcon::create(platform::MessageTarget* owner, const QIcon& icon, unsigned id, std::string_view tooltip,
                      unsigned callbackMessage)
{
    if (m_created)
        return false;
    m_owner = owner;
    m_id = id;
    m_callback = callbackMessage;
    m_icon = std::make_unique<QSystemTrayIcon>(icon);
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { activated(static_cast<int>(reason)); });
    m_created = true;
    setTooltip(tooltip);
    m_icon->show();
    return true;
}

bool TrayIcon::createFromResource(platform::MessageTarget* owner, int iconResource, unsigned id,
                                  std::string_view tooltip, unsigned callbackMessage)
{
    return create(owner, resourceIcon(iconResource), id, tooltip, callbackMessage);
}

void TrayIcon::setTooltip(std::string_view tooltip)
{
    if (!m_created)
        return;
    m_tooltip = std::string(platform::cp932Prefix(tooltip, kMaxTooltipBytes));
    m_icon->setToolTip(platform::toQString(m_tooltip));
}

QRect TrayIcon::geometry() const
{
    return m_created ? m_icon->geometry() : QRect();
}

void TrayIcon::setIconFromResource(int iconResource)
{
    if (m_created)
        m_icon->setIcon(resourceIcon(iconResource));
}

void TrayIcon::remove()
{
    if (!m_created)
        return;
    m_icon->hide();
    m_icon.reset();
    m_owner = nullptr;
    m_created = false;
}

void TrayIcon::activated(int reason)
{
    if (!m_owner)
        return;
    unsigned mouse = 0;
    // Where the desktop reports both clicks of a double-click (as a click and a double-click, or as
    // two clicks), the first has already acted: one gesture shows or hides the window once.
    const bool sameGesture =
        m_sinceClick.isValid() && m_sinceClick.elapsed() <= QGuiApplication::styleHints()->mouseDoubleClickInterval();
    switch (static_cast<QSystemTrayIcon::ActivationReason>(reason)) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        if (sameGesture)
            return;
        mouse = reason == QSystemTrayIcon::Trigger ? WM_LBUTTONUP : WM_LBUTTONDBLCLK;
        m_sinceClick.start();
        break;
    case QSystemTrayIcon::Context:
        mouse = WM_RBUTTONUP;
        break;
    default:
        return;
    }
    platform::sendMessage(m_owner, {m_callback, std::int64_t{m_id}, std::int64_t{mouse}});
}

} // namespace orvalink::app
