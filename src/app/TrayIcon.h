#pragma once

// The notification-area icon of the main window: an id, a callback message, an icon and a tooltip
// of at most 63 bytes (cut without splitting a double-byte character). Clicks come back to the
// owner as its callback message with the icon's id and the mouse message (WM_LBUTTONDBLCLK,
// WM_RBUTTONUP). Operations before create() do nothing.

#include <QObject>
#include <QIcon>

#include <memory>
#include <string>
#include <string_view>

class QSystemTrayIcon;

namespace platform {
class MessageTarget;
}

class TrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxTooltipBytes = 63;

    TrayIcon();
    ~TrayIcon() override;

    // Refuses (false) when already created.
    bool create(platform::MessageTarget* owner, const QIcon& icon, unsigned id, std::string_view tooltip,
                unsigned callbackMessage);
    bool createFromResource(platform::MessageTarget* owner, int iconResource, unsigned id, std::string_view tooltip,
                            unsigned callbackMessage);
    void setTooltip(std::string_view tooltip);
    void setIconFromResource(int iconResource);
    void remove();

    bool created() const { return m_created; }
    // The tooltip as set, in code page 932 bytes.
    const std::string& tooltip() const { return m_tooltip; }
    unsigned id() const { return m_id; }
    // Whether the desktop shows notification-area icons at all.
    static bool systemTrayAvailable();

private:
    void activated(int reason);

    std::unique_ptr<QSystemTrayIcon> m_icon;
    platform::MessageTarget* m_owner = nullptr;
    unsigned m_id = 0;
    unsigned m_callback = 0;
    std::string m_tooltip;
    bool m_created = false;
};
