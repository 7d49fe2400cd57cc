#pragma once

// The mail settings sheet: caption "メール設定", the program icon, pages "サーバー設定", "暗号" and
// "振り分け" (the last has no controls yet), OK and Cancel. The server page writes the store
// from its own buttons; OK with fields that differ from what is stored (MailSettingsModel) asks
// "変更を登録しますか？": yes registers them, no drops them, cancel keeps the sheet open. Cancel
// drops whatever was not registered. Opened modally by the main window's mail settings command;
// tests build it and drive it without a modal loop.

#include <QDialog>

class QDialogButtonBox;

class QTabWidget;

namespace orvalink::mail {

class CCipherSettingsPage;
class CServerSettingsPage;
class MailDirectory;

class CMailSettingsSheet : public QDialog {
    Q_OBJECT
public:
    // `directory` (which outlives the sheet) is the mail directory its server page shows and changes.
    explicit CMailSettingsSheet(MailDirectory& directory, QWidget* parent = nullptr);

    CServerSettingsPage* serverPage() const { return m_serverPage; }
    CCipherSettingsPage* cipherPage() const { return m_cipherPage; }
    QTabWidget* pages() const { return m_pages; }
    QDialogButtonBox* buttons() const { return m_buttons; }

    // Closing by OK or Cancel (or the close box) is when the pages go away; OK may ask first and
    // stay open.
    void done(int result) override;

private:
    MailDirectory& m_directory;
    QTabWidget* m_pages = nullptr;
    CServerSettingsPage* m_serverPage = nullptr;
    CCipherSettingsPage* m_cipherPage = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
};

} // namespace orvalink::mail
