#pragma once

// "ポート＆ログの設定": a modal sheet with the program icon, one page ("ポート設定") and no Apply
// button. Closing it with OK stores the log settings; Cancel stores none of them (groups
// registered or deleted and names changed meanwhile stay so).

#include <QDialog>

class QWidget;

namespace orvalink::chat {

class CPortPage;

class CPortSettingsSheet : public QDialog {
    Q_OBJECT
public:
    explicit CPortSettingsSheet(QWidget* parent = nullptr);

    CPortPage* page() const { return m_page; }

    // The main window's port-settings command: shows the sheet modally and stores the log
    // settings when it closes with OK.
    static void run(QWidget* parent);

private:
    CPortPage* m_page;
};

} // namespace orvalink::chat
