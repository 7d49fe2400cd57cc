#pragma once

// "デスクトップ" settings: desktop notifications of messages, starting at login. The dialog shows
// and collects the two check boxes; apply() stores them (the profile, the autostart entry).

#include <QDialog>
#include <string>

class QCheckBox;

namespace orvalink::app {

class CDesktopOptionsDlg : public QDialog {
    Q_OBJECT

public:
    struct Options {
        bool notify = true;
        bool autostart = false;
    };

    explicit CDesktopOptionsDlg(const Options& current, QWidget* parent = nullptr);
    Options options() const;
    QCheckBox* notifyBox() const { return m_notify; }
    QCheckBox* autostartBox() const { return m_autostart; }

    // What is stored now.
    static Options stored();
    // Stores options; program is what the autostart entry starts. False when the autostart entry
    // could not be written or removed (the notification setting is stored regardless).
    static bool apply(const Options& options, const std::string& program);

private:
    QCheckBox* m_notify;
    QCheckBox* m_autostart;
};

} // namespace orvalink::app
