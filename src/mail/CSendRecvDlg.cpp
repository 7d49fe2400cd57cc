#include "mail/CSendRecvDlg.h"

#include "mail/CSendRecvThread.h"
#include "res/ResourceIds.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>

namespace orvalink::mail {

CSendRecvDlg::CSendRecvDlg(CSendRecvThread* thread) : m_thread(thread)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QString::number(res::kDialogSendReceive));
    setWindowTitle(QString::fromUtf8("送受信"));
    auto* layout = new QHBoxLayout(this);
    layout->addStretch(1);
    m_cancel = new QPushButton(QString::fromUtf8("中止(&C)"), this);
    m_cancel->setObjectName(QString::number(kCancelButton));
    layout->addWidget(m_cancel);
    layout->addStretch(1);
    resize(240, 90);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::close);
    // Escape and the close box end the window like its button does.
    connect(this, &QDialog::rejected, this, &QDialog::close);
}

CSendRecvDlg::~CSendRecvDlg()
{
    CSendRecvThread::forget(m_thread);
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
