#include "mail/CSendHeaderBar.h"

#include "platform/TextCodec.h"
#include "res/ResourceIds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace orvalink::mail {

namespace {

QComboBox* editableBox(QWidget* parent, int id)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::number(id));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return box;
}

QCheckBox* checkBox(QWidget* parent, int id, const char* label)
{
    auto* box = new QCheckBox(platform::uiText(label), parent);
    box->setObjectName(QString::number(id));
    return box;
}

} // namespace

CSendHeaderBar::CSendHeaderBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QString::number(res::kDialogComposeHeader));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setVerticalSpacing(2);

    m_from = editableBox(this, kFromBox);
    m_to = editableBox(this, kToBox);
    m_subject = editableBox(this, kSubjectBox);
    m_recipient = new QPushButton(platform::uiText("受取人"), this);
    m_recipient->setObjectName(QString::number(kRecipientButton));
    m_fromSave = checkBox(this, kFromSave, "差出人保存");
    m_toSave = checkBox(this, kToSave, "受取人保存");
    m_subjectSave = checkBox(this, kSubjectSave, "題名保存");

    grid->addWidget(new QLabel(platform::uiText("差出人"), this), 0, 0);
    grid->addWidget(m_from, 0, 1);
    grid->addWidget(m_fromSave, 0, 2);
    grid->addWidget(m_recipient, 1, 0);
    grid->addWidget(m_to, 1, 1);
    grid->addWidget(m_toSave, 1, 2);
    grid->addWidget(new QLabel(platform::uiText("題名"), this), 2, 0);
    grid->addWidget(m_subject, 2, 1);
    grid->addWidget(m_subjectSave, 2, 2);
    grid->setColumnStretch(1, 1);
}

std::string CSendHeaderBar::text(const QComboBox* box)
{
    return platform::fromQString(box->currentText());
}

void CSendHeaderBar::setText(QComboBox* box, const std::string& cp932)
{
    box->setEditText(platform::toQString(cp932));
}

} // namespace orvalink::mail
