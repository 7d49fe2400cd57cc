#pragma once

// The header bar of a compose window (dialog 175), docked under the toolbar: the From box (1029)
// with the label "差出人", the button "受取人" (1042, does nothing) beside the To box (1030), the
// Subject box (1031) with the label "題名", and the three check boxes "差出人保存" (1026),
// "受取人保存" (1027) and "題名保存" (1028), which only remember their own state between windows.
// Every box is an editable drop-down; only the From box has a list (the accounts' names).

#include <QWidget>
#include <string>

class QCheckBox;

class QComboBox;

class QPushButton;

namespace orvalink::mail {

class CSendHeaderBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFromBox = 1029;
    static constexpr int kToBox = 1030;
    static constexpr int kSubjectBox = 1031;
    static constexpr int kRecipientButton = 1042;
    static constexpr int kFromSave = 1026;
    static constexpr int kToSave = 1027;
    static constexpr int kSubjectSave = 1028;

    explicit CSendHeaderBar(QWidget* parent = nullptr);

    QComboBox* fromBox() const { return m_from; }
    QComboBox* toBox() const { return m_to; }
    QComboBox* subjectBox() const { return m_subject; }
    QPushButton* recipientButton() const { return m_recipient; }
    QCheckBox* fromSave() const { return m_fromSave; }
    QCheckBox* toSave() const { return m_toSave; }
    QCheckBox* subjectSave() const { return m_subjectSave; }

    // Box texts as code page 932.
    static std::string text(const QComboBox* box);
    static void setText(QComboBox* box, const std::string& cp932);

private:
    QComboBox* m_from;
    QComboBox* m_to;
    QComboBox* m_subject;
    QPushButton* m_recipient;
    QCheckBox* m_fromSave;
    QCheckBox* m_toSave;
    QCheckBox* m_subjectSave;
};

} // namespace orvalink::mail
