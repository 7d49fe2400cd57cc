#include "mail/ReceiveCommand.h"

#include "mail/AccountList.h"
#include "mail/CRThread.h"
#include "mail/MailDirectory.h"
#include "mail/ReceiveDialog.h"
#include "mail/engine/MailAccount.h"
#include "platform/MessageBox.h"

#include <QGuiApplication>
#include <QScreen>
#include <memory>

namespace orvalink::mail {

ReceiveCommand::ReceiveCommand(MailDirectory& directory, QObject* parent) : QObject(parent), m_directory(directory) {}

ReceiveCommand::~ReceiveCommand()
{
    closeWindow();
}

ReceiveDialog* ReceiveCommand::run()
{
    // A stored port that names no port is refused here, before any window connects: a guessed
    // port would take the password to a server the user never named.
    if (const std::vector<MailAccount> accounts = readAccounts(); !accounts.empty()) {
        const std::string& port = accounts.front().popPort;
        if (!accountPort(port, kDefaultPop3Port)) {
            platform::messageBox(badPopPortText(port), "Orvalink", platform::MB_OK | platform::MB_ICONEXCLAMATION);
            return nullptr;
        }
    }
    m_directory.prepare();
    if (!m_dialog) {
        auto thread = std::make_unique<CRThread>();
        if (!thread->startAndWaitReady())
            return nullptr;
        m_dialog = new ReceiveDialog(std::move(thread), m_directory);
        connect(m_dialog, &ReceiveDialog::downloadEnded, this, [this] {
            ++m_endedDownloads;
            emit downloadEnded();
        });
        m_dialog->adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            m_dialog->move(screen->availableGeometry().center() - m_dialog->rect().center());
    }
    m_dialog->setSilenceTimeout(m_silence);
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
    m_dialog->startDownload();
    return m_dialog.data();
}

ReceiveDialog* ReceiveCommand::dialog() const
{
    return m_dialog.data();
}

void ReceiveCommand::closeWindow()
{
    // Deleted at once rather than later: the thread must be over before the program goes on.
    delete m_dialog.data();
}

} // namespace orvalink::mail
