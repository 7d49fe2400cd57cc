#pragma once

// Desktop notifications of chat messages through the freedesktop Notifications service on the
// session bus. A personal message, or any message while the main window is hidden or not active,
// is notified; the messages of a burst, and those that come while the notification is still shown,
// make one notification that counts them (it is replaced, not repeated). Its default action shows
// the newest message. Without a session bus or a notification service nothing is shown and
// nothing fails.

#include "app/NotificationBatch.h"

#include <QObject>
#include <QTimer>
#include <cstdint>

class QDBusPendingCallWatcher;

namespace orvalink::app {

class DesktopNotifier : public QObject {
    Q_OBJECT

public:
    // Messages that arrive within this many milliseconds of the first make one notification.
    static constexpr int kBurstMs = 300;
    // The profile value of the settings check box (on unless written as 0).
    static constexpr const char* kSection = "Settings";
    static constexpr const char* kEnabledKey = "DesktopNotify";

    explicit DesktopNotifier(QObject* parent = nullptr);
    ~DesktopNotifier() override;

    void setEnabled(bool on);
    bool isEnabled() const { return m_enabled; }

    // A message arrived; windowActive tells whether the main window is shown and active.
    void messageArrived(NotificationBatch::Message message, bool windowActive);

    // Reads the check box's value from the application's profile.
    static bool enabledInProfile();

signals:
    // The user invoked the notification: show the row numbered serial of group g.
    void showMessage(int group, std::uint64_t serial);

private slots:
    // The service's signals (connected by name: the bus matches these signatures).
    void actionInvoked(uint id, const QString& action);
    void closed(uint id, uint reason);

private:
    void flush();
    void notified(QDBusPendingCallWatcher* call);

    bool m_enabled = true;
    bool m_connected = false;
    NotificationBatch m_batch;
    // The notification on screen (0: none), and whether a Notify call is under way.
    unsigned m_shownId = 0;
    bool m_pending = false;
    QTimer m_burst;
};

} // namespace orvalink::app
