#pragma once

// "ポート設定": the chat groups and the chat log switches. A new group and a deleted group take
// effect at once (listener started or stopped, tree node added or removed); changed names are
// only stored and apply at the next start (the page shows the stored names, each marked while it
// waits for the next start); the log settings are stored by storeLogSettings() when
// the sheet closes with OK.
//
// Deleting a group in the middle moves every later group down by one, in the store and in the
// group table alike: its listener (told its new index), members, rows, tree node, open chat write
// windows and the current group all follow it, so a datagram arriving afterwards lands in the
// group it belongs to.

#include <QWidget>
#include <string>

class QCheckBox;

class QLabel;

class QLineEdit;

class QListWidget;

class QPushButton;

namespace orvalink::chat {

class CPortPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPortList = 1003;
    static constexpr int kGroupNameEdit = 1004;
    static constexpr int kNameEdit = 1002;
    static constexpr int kGroupNameButton = 1024;
    static constexpr int kNameButton = 1052;
    static constexpr int kRegisterButton = 1023;
    static constexpr int kDeleteButton = 1025;
    static constexpr int kLogCheck = 1055;
    static constexpr int kLogFolderLabel = 1054;
    static constexpr int kBrowseButton = 1053;

    explicit CPortPage(QWidget* parent = nullptr);

    void selectItem(int index);
    void changeGroupName();
    void changeDisplayName();
    void registerGroup();
    void deleteSelected();
    void browseLogFolder();
    // Closing with OK: "Log Folder" when it was changed, and "Log YesNo".
    void storeLogSettings();

    // A file-system path (bytes as the file system names them), not code page 932 text.
    const std::string& logFolder() const { return m_logFolder; }
    bool logging() const { return m_logging; }

    QListWidget* portList() const { return m_list; }
    QLineEdit* groupNameEdit() const { return m_groupName; }
    QLineEdit* nameEdit() const { return m_name; }
    QPushButton* groupNameButton() const { return m_groupNameButton; }
    QPushButton* nameButton() const { return m_nameButton; }
    QCheckBox* logCheck() const { return m_logCheck; }
    QLabel* logFolderLabel() const { return m_folderLabel; }
    // The marks beside the names: shown while the stored name differs from the one in use.
    QLabel* groupNamePendingMark() const { return m_groupNamePending; }
    QLabel* namePendingMark() const { return m_namePending; }

    // The mark's text: a changed name takes effect at the next start.
    static QString pendingText();

    static std::string tooManyGroupsText();

private:
    void showNames(int index);
    void markPending(int index);
    void removeGroupFromTable(int g);

    QListWidget* m_list;
    QLineEdit* m_groupName;
    QLineEdit* m_name;
    QPushButton* m_groupNameButton;
    QPushButton* m_nameButton;
    QCheckBox* m_logCheck;
    QLabel* m_folderLabel;
    QLabel* m_groupNamePending;
    QLabel* m_namePending;
    std::string m_logFolder;
    std::string m_initialLogFolder;
    bool m_logging = false;
    bool m_initialLogging = false;
};

} // namespace orvalink::chat
