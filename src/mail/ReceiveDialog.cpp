#include "mail/ReceiveDialog.h"

#include "mail/AccountList.h"
#include "mail/CRThread.h"
#include "mail/CertificateQuestion.h"
#include "mail/ConnectErrorText.h"
#include "mail/MailDirectory.h"
#include "platform/Dispatch.h"
#include "platform/MessageBox.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>
#include <utility>

namespace orvalink::mail {

using res::resourceIcon;

namespace {

// A status or message line ends with a line break; the label shows the text without it.
QString lineText(const std::string& text)
{
    std::string shown = text;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
        shown.pop_back();
    return platform::toQString(shown);
}

} // namespace

struct ReceiveDialog::ReportQueue {
    std::mutex mutex;
    std::vector<ReceiveWorker::Report> reports;
    bool callWaiting = false;
};

ReceiveDialog::ReceiveDialog(std::unique_ptr<CRThread> thread, const MailDirectory& directory, QWidget* parent)
    : QDialog(parent), m_thread(std::move(thread)), m_directory(directory)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QString::number(res::kDialogMailReceive));
    setWindowTitle(platform::uiTextThroughCp932("メール受信中"));
    setWindowIcon(resourceIcon(res::kIconMain));
    setModal(false);

    auto* layout = new QVBoxLayout(this);
    m_statusLine = new QLabel(this);
    m_statusLine->setObjectName(QString::number(kStatusLineId));
    m_statusLine->setMinimumWidth(300);
    m_messageLine = new QLabel(this);
    m_messageLine->setObjectName(QString::number(kMessageLineId));
    layout->addWidget(m_statusLine);
    layout->addWidget(m_messageLine);
    layout->addWidget(new QLabel(platform::uiTextThroughCp932("進行状況"), this));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QString::number(kProgressId));
    // An empty range would make the bar an endless busy indicator: the bar always keeps at least
    // one step, and stays empty for an empty mailbox.
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    layout->addWidget(m_progress);
    layout->addWidget(new QLabel(platform::uiTextThroughCp932("エラー情報"), this));
    m_errorList = new QListWidget(this);
    m_errorList->setObjectName(QString::number(kErrorListId));
    layout->addWidget(m_errorList, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_abort = new QPushButton(platform::uiTextThroughCp932("中止(&C)"), this);
    m_abort->setObjectName(QString::number(kAbortId));
    m_abort->setAutoDefault(false);
    buttons->addWidget(m_abort);
    layout->addLayout(buttons);
    connect(m_abort, &QPushButton::clicked, this, &ReceiveDialog::abort);

    // Reports come from the receive thread; they are shown here, on the window's own thread, each
    // in turn. While one call to show them waits, later reports join it instead of waking this
    // thread again. The window ends that thread before it goes, so the handler never outlives it.
    QPointer<ReceiveDialog> self(this);
    auto queue = std::make_shared<ReportQueue>();
    m_thread->worker()->setReportHandler([self, queue](ReceiveWorker::Report report) {
        {
            const std::lock_guard lock(queue->mutex);
            queue->reports.push_back(std::move(report));
            if (std::exchange(queue->callWaiting, true))
                return;
        }
        QMetaObject::invokeMethod(
            self.data(),
            [self, queue] {
                std::vector<ReceiveWorker::Report> reports;
                {
                    const std::lock_guard lock(queue->mutex);
                    reports.swap(queue->reports);
                    queue->callWaiting = false;
                }
                for (const ReceiveWorker::Report& waiting : reports)
                    if (self)
                        self->showReport(waiting);
                if (self)
                    self->refresh();
            },
            Qt::QueuedConnection);
    });
}

ReceiveDialog::~ReceiveDialog()
{
    // The thread lives exactly as long as the window: a download still under way ends with it.
    if (m_thread)
        m_thread->quitAndWait();
}

void ReceiveDialog::startDownload()
{
    const std::vector<MailAccount> accounts = readAccounts();
    if (accounts.empty()) {
        platform::messageBox(platform::utf8ToCp932("サーバー情報がありません"));
        return;
    }
    // Always account 1, whatever else is registered.
    const MailAccount& account = accounts.front();
    ReceiveWorker::Request request;
    request.server = account.popServer;
    request.security = transportSecurity(account.popSecurity);
    // TLS from the first byte has a port of its own (RFC 8314); a port the user typed holds.
    const bool noPortTyped = account.popPort.find_first_not_of(" \t") == std::string::npos;
    request.port = noPortTyped ? defaultPop3Port(request.security) : orvalink::mail::pop3Port(account.popPort);
    request.pinnedFingerprint = account.popCertPin;
    request.login = {account.popAccount, account.popPassword};
    request.mailDir = m_directory.path();
    request.silence = m_silence;
    ReceiveWorker* worker = m_thread->worker();
    worker->setRequest(std::move(request));
    const auto result = platform::sendMessage(worker, {WM_RECV_START, {}, {}});
    if (result == ReceiveWorker::AlreadyRunning)
        return;
    ++m_download;
    if (result == ReceiveWorker::SocketFailed) {
        platform::messageBox("Socket creation failed");
        return;
    }
    m_downloading = true;
    showRunning();
}

void ReceiveDialog::abort()
{
    if (m_failed) {
        // The button reads 閉じる: the download is over and the window has said why.
        close();
        return;
    }
    platform::postMessage(m_thread->worker(), {WM_RECV_ABORT, {}, {}});
}

void ReceiveDialog::showRunning()
{
    m_failed = false;
    setWindowTitle(platform::uiTextThroughCp932("メール受信中"));
    m_abort->setText(platform::uiTextThroughCp932("中止(&C)"));
}

void ReceiveDialog::showFailed()
{
    // A download that ended without closing the window failed: nothing may still look as if it ran.
    m_failed = true;
    setWindowTitle(platform::uiTextThroughCp932("メール受信"));
    m_status = platform::utf8ToCp932("メールを受信できませんでした。エラー情報をご覧ください。");
    refresh();
    m_abort->setText(platform::uiTextThroughCp932("閉じる"));
}

void ReceiveDialog::refresh()
{
    const QString status = lineText(m_status);
    if (m_statusLine->text() != status)
        m_statusLine->setText(status);
    const QString message = lineText(m_message);
    if (m_messageLine->text() != message)
        m_messageLine->setText(message);
    m_progress->setRange(0, std::max(m_progressMaximum, 1));
    m_progress->setValue(m_progressValue);
}

void ReceiveDialog::showReport(const ReceiveWorker::Report& report)
{
    if (report.certificate && report.download == m_download && m_downloading && !report.running &&
        askToTrustCertificate(*report.certificate, CertificateUse::Receiving)) {
        // Trusted for this account from now on: the download starts over (nothing was sent on
        // the refused connection).
        m_downloading = false;
        startDownload();
        return;
    }
    for (const Pop3Event& e : report.events) {
        switch (e.kind) {
        case Pop3Event::Kind::StatusLine:
            m_status = e.text;
            break;
        case Pop3Event::Kind::MessageLine:
            m_message = e.text;
            break;
        case Pop3Event::Kind::ProgressRange:
            m_progressMaximum = std::max(e.value, 0);
            m_progressValue = 0;
            break;
        case Pop3Event::Kind::ProgressPosition:
            m_progressValue = std::clamp(e.value, 0, m_progressMaximum);
            break;
        case Pop3Event::Kind::Error:
            m_errors.push_back(e.text);
            m_errorList->addItem(platform::toQString(e.text));
            m_errorList->scrollToBottom();
            break;
        case Pop3Event::Kind::Finished:
            break;
        }
    }
    const bool current = report.download == m_download;
    const bool ended = current && !report.running && m_downloading;
    if (ended) {
        m_downloading = false;
        if (!report.closeWindow)
            showFailed();
    }
    if (!report.running)
        refresh();
    emit reportShown();
    if (ended)
        emit downloadEnded();
    if (current && report.closeWindow)
        close();
}

} // namespace orvalink::mail
