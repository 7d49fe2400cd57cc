#include "app/DesktopNotifier.h"

#include "platform/Profile.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace orvalink::app {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent)
{
    m_burst.setSingleShot(true);
    m_burst.setInterval(kBurstMs);
    connect(&m_burst, &QTimer::timeout, this, &DesktopNotifier::flush);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        m_connected = true;
        bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(actionInvoked(uint, QString)));
        bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(closed(uint, uint)));
    }
}

DesktopNotifier::~DesktopNotifier() = default;

bool DesktopNotifier::enabledInProfile()
{
    return platform::Profile::application().getInt(kSection, kEnabledKey, 1) != 0;
}

void DesktopNotifier::setEnabled(bool on)
{
    m_enabled = on;
    if (!on) {
        m_burst.stop();
        m_batch.clear();
    }
}

void DesktopNotifier::messageArrived(NotificationBatch::Message message, bool windowActive)
{
    if (!m_enabled || !m_connected || (windowActive && !message.personal))
        return;
    m_batch.add(std::move(message));
    if (!m_burst.isActive())
        m_burst.start();
}

void DesktopNotifier::flush()
{
    if (m_batch.empty())
        return;
    if (m_pending) {
        // The id of the notification being shown is not known yet: replace it once it is.
        m_burst.start();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QStringLiteral("Orvalink") << m_shownId << QStringLiteral("org.orvalink.Orvalink")
         << QString::fromStdString(m_batch.summary()) << QString::fromStdString(m_batch.body())
         << QStringList{QStringLiteral("default"), QStringLiteral("表示")} << QVariantMap{} << -1;
    m_pending = true;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::notified);
}

void DesktopNotifier::notified(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    m_pending = false;
    const QDBusPendingReply<unsigned> reply = *call;
    if (reply.isError()) {
        // No notification service: these messages stay in the list and the tray's tooltip.
        m_batch.clear();
        m_shownId = 0;
        return;
    }
    m_shownId = reply.value();
}

void DesktopNotifier::actionInvoked(uint id, const QString& action)
{
    if (id == 0 || id != m_shownId || action != QLatin1String("default"))
        return;
    const NotificationBatch::Message newest = m_batch.newest();
    closed(id, 0);
    emit showMessage(newest.group, newest.serial);
}

void DesktopNotifier::closed(uint id, uint /*reason*/)
{
    if (id == 0 || id != m_shownId)
        return;
    // Messages that came after it was shown and are still waiting make a new one.
    m_shownId = 0;
    if (!m_burst.isActive())
        m_batch.clear();
}

} // namespace orvalink::app
