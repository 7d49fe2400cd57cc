#include "mail/CSendRecvDlg.h"

#include "mail/CSendRecvThread.h"
#include "mail/ReceiveDialog.h"
#include "mail/SendRecvWindow.h"
#include "platform/TextCodec.h"
#include "res/ResourceIds.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

namespace orvalink::mail {

CSendRecvDlg::CSendRecvDlg(CSendRecvThread* thread) : m_thread(thread)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QString::number(res::kDialogSendReceive));
    setWindowTitle(platform::uiText("送受信"));
    auto* layout = new QVBoxLayout(this);
    m_status = new QLabel(this);
    m_status->setObjectName(QString::number(kStatusLine));
    layout->addWidget(m_status);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QString::number(kProgress));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    layout->addWidget(m_progress);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = new QPushButton(platform::uiText("中止(&C)"), this);
    m_cancel->setObjectName(QString::number(kCancelButton));
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    resize(300, 110);
    connect(m_cancel, &QPushButton::clicked, this, &CSendRecvDlg::cancel);
    // Escape and the close box end the window like its button does.
    connect(this, &QDialog::rejected, this, &CSendRecvDlg::cancel);
}

void CSendRecvDlg::followReceive(ReceiveDialog* receive)
{
    if (!receive || !receive->downloading()) {
        close();
        return;
    }
    m_receive = receive;
    connect(receive, &ReceiveDialog::reportShown, this, &CSendRecvDlg::showReceiveProgress);
    connect(receive, &ReceiveDialog::downloadEnded, this, &QDialog::close);
    connect(receive, &QObject::destroyed, this, &QDialog::close);
    showReceiveProgress();
}

void CSendRecvDlg::showReceiveProgress()
{
    if (!m_receive)
        return;
    std::string status = m_receive->statusText();
    while (!status.empty() && (status.back() == '\n' || status.back() == '\r'))
        status.pop_back();
    m_status->setText(platform::toQString(status));
    m_progress->setRange(0, std::max(m_receive->progressMaximum(), 1));
    m_progress->setValue(m_receive->progressValue());
}

void CSendRecvDlg::cancel()
{
    // The download this window started or joined stops with it, as the receive window's own
    // button would stop it.
    if (m_receive && m_receive->downloading())
        m_receive->abort();
    close();
}

CSendRecvDlg::~CSendRecvDlg()
{
    m_thread->place().forget(m_thread);
    m_thread->quitAndWait();
    delete m_thread;
}

void CSendRecvDlg::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(event);
        return;
    }
    // A press anywhere in the window moves it, as a press on its caption would. Where the window
    // system can move it itself that is used; elsewhere the window follows the mouse.
    if (QWindow* w = windowHandle(); w && w->startSystemMove()) {
        event->accept();
        return;
    }
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - pos();
    event->accept();
}

void CSendRecvDlg::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void CSendRecvDlg::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

} // namespace orvalink::mail
