#pragma once

// "ポート新規作成": the port, group name and display name of a new chat group. OK checks, in this
// order, that the port text is digits only naming 1 to 65535 ("1e4" and "12122abc" are refused),
// that the group name and the name are given, that the name has no "#" (the datagram format
// separates fields with it) and that no other group uses the port; each failure is a message and
// the dialog stays open. Texts are kept as typed.

#include <QDialog>
#include <functional>
#include <string>

class QLineEdit;

namespace orvalink::chat {

class CNewPortDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPortEdit = 1001;
    static constexpr int kGroupNameEdit = 1004;
    static constexpr int kNameEdit = 1005;

    explicit CNewPortDlg(QWidget* parent = nullptr);

    QLineEdit* portEdit() const { return m_port; }
    QLineEdit* groupNameEdit() const { return m_groupName; }
    QLineEdit* nameEdit() const { return m_name; }
    std::string portText() const;
    std::string groupName() const;
    std::string name() const;

    // The OK button: true (and the dialog is accepted) when every check passes.
    bool tryAccept();

    // Shows the dialog modally and returns QDialog::Accepted or Rejected. While a responder is
    // installed (tests), it plays the user instead and its result is returned.
    int run();
    static void setResponder(std::function<int(CNewPortDlg&)> responder);

    // Texts of the checks this program adds (code page 932).
    static std::string hashInNameText();
    static std::string portInUseText();

private:
    QLineEdit* m_port;
    QLineEdit* m_groupName;
    QLineEdit* m_name;
};

} // namespace orvalink::chat
