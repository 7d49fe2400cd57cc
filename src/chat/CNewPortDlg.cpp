#include "chat/CNewPortDlg.h"

#include "chat/CNetMsgDlg.h"
#include "chat/ChatGroupTable.h"
#include "platform/MessageBox.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "platform/text/PortText.h"
#include "res/ResourceIds.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace orvalink::chat {

namespace {

std::function<int(CNewPortDlg&)>& responder()
{
    static std::function<int(CNewPortDlg&)> r;
    return r;
}

QLineEdit* makeEdit(QWidget* parent, int id)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::number(id));
    return e;
}

} // namespace

CNewPortDlg::CNewPortDlg(const ChatGroupTable& groups, QWidget* parent)
    : QDialog(parent), m_groups(groups), m_port(makeEdit(this, kPortEdit)), m_groupName(makeEdit(this, kGroupNameEdit)),
      m_name(makeEdit(this, kNameEdit))
{
    setObjectName(QString::number(res::kDialogNewPort));
    setWindowTitle(platform::uiText("ポート新規作成"));
    auto* form = new QFormLayout(this);
    form->addRow(platform::uiText("ポート番号"), m_port);
    form->addRow(platform::uiText("グループ名"), m_groupName);
    form->addRow(platform::uiText("名前"), m_name);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(platform::uiText("ＯＫ"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("1");
    ok->setDefault(true);
    buttons->addButton(platform::uiText("ＣＡＮＣＥＬ"), QDialogButtonBox::RejectRole)->setObjectName("2");
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { tryAccept(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

std::string CNewPortDlg::portText() const
{
    return platform::fromQString(m_port->text());
}
std::string CNewPortDlg::groupName() const
{
    return platform::fromQString(m_groupName->text());
}
std::string CNewPortDlg::name() const
{
    return platform::fromQString(m_name->text());
}

std::string CNewPortDlg::hashInNameText()
{
    return platform::utf8ToCp932("名前に「#」は使えません");
}
std::string CNewPortDlg::portInUseText()
{
    return platform::utf8ToCp932("このポート番号は既に登録されています");
}

bool CNewPortDlg::tryAccept()
{
    // A typed port is digits only: "1e4" would otherwise be read as port 1.
    if (!platform::isTypedPortText(portText())) {
        platform::messageBox(platform::utf8ToCp932("ポート番号が間違っています"));
        return false;
    }
    if (groupName().empty()) {
        platform::messageBox(platform::utf8ToCp932("グループ名を入力してください"));
        return false;
    }
    const std::string n = name();
    if (n.empty()) {
        platform::messageBox(platform::utf8ToCp932("名前を入力ください"));
        return false;
    }
    if (n.find('#') != std::string::npos) {
        platform::messageBox(hashInNameText());
        return false;
    }
    // A second listener on a port already in use could not bind, and datagrams of the port
    // would all land in the first group.
    const ChatGroupTable& table = m_groups;
    for (int g = 0; g < table.groupCount; ++g) {
        if (portNumber(table.groups[static_cast<std::size_t>(g)].port) == portNumber(portText())) {
            platform::messageBox(portInUseText());
            return false;
        }
    }
    accept();
    return true;
}

int CNewPortDlg::run()
{
    if (responder())
        return responder()(*this);
    return exec();
}

void CNewPortDlg::setResponder(std::function<int(CNewPortDlg&)> r)
{
    responder() = std::move(r);
}

} // namespace orvalink::chat
