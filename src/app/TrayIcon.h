#pragma once

// The notification-area icon of the main window: an id, a callback message, an icon and a tooltip
// of at most 63 bytes (cut without splitting a double-byte character). Clicks come back to the
// owner as its callback message with the icon's id and the mouse message: WM_LBUTTONUP for a click
// (the only activation some trays report), WM_LBUTTONDBLCLK for a double-click, WM_RBUTTONUP for
// the menu. Operations before create() do nothing.

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QRect>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QSystemTrayIcon;

namespace orvalink::platform {
class MessageTarget;
} // namespace orvalink::platform

namespace orvalink::app {

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
    // Where the icon is on the screen (empty when the desktop does not say).
    QRect geometry() const;
    // Whether the desktop shows notification-area icons at all.
    static bool systemTrayAvailable();
    // Tests decide whether there is a tray; nullopt asks the desktop again.
    static void overrideAvailability(std::optional<bool> available);

    // An activation of the icon (a QSystemTrayIcon::ActivationReason), as the desktop reports it.
    void activated(int reason);

private:
    std::unique_ptr<QSystemTrayIcon> m_icon;
    platform::MessageTarget* m_owner = nullptr;
    unsigned m_id = 0;
    unsigned m_callback = 0;
    std::string m_tooltip;
    bool m_created = false;
    QElapsedTimer m_sinceClick;
};

} // namespace orvalink::app
