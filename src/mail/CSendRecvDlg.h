#pragma once

// The send-and-receive window (dialog 193, "送受信"): one button "中止(&C)" that closes it.
// Pressing the left button anywhere else in it drags the window. Closing it ends its thread.

#include <QDialog>

class QPushButton;

namespace orvalink::mail {

class CSendRecvThread;

class CSendRecvDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kCancelButton = 2;

    explicit CSendRecvDlg(CSendRecvThread* thread);
    ~CSendRecvDlg() override;

    QPushButton* cancelButton() const { return m_cancel; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    CSendRecvThread* m_thread;
    QPushButton* m_cancel;
    QPoint m_dragOffset;
    bool m_dragging = false;
};

} // namespace orvalink::mail
