#pragma once

// The send-and-receive window (dialog 193, "送受信"): one button "中止(&C)" that closes it.
// Pressing the left button anywhere else in it drags the window. Closing it ends its thread.
// It receives as the receive command does, through the same receive window and thread: while that
// download runs it shows the download's status line and progress, and it closes when the download
// is over (or its window is gone). "中止(&C)" also stops the download it follows.

#include <QDialog>
#include <QPointer>

class QLabel;

class QProgressBar;

class QPushButton;

namespace orvalink::mail {

class CSendRecvThread;
class ReceiveDialog;

class CSendRecvDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kCancelButton = 2;
    static constexpr int kStatusLine = 1043;
    static constexpr int kProgress = 1015;

    explicit CSendRecvDlg(CSendRecvThread* thread);
    ~CSendRecvDlg() override;

    QPushButton* cancelButton() const { return m_cancel; }
    QLabel* statusLine() const { return m_status; }
    QProgressBar* progressBar() const { return m_progress; }

    // Shows the download of this receive window until it ends, then closes. A window that is not
    // downloading leaves nothing to show: this window closes at once.
    void followReceive(ReceiveDialog* receive);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    CSendRecvThread* m_thread;
    void showReceiveProgress();
    void cancel();

    QPushButton* m_cancel;
    QLabel* m_status;
    QProgressBar* m_progress;
    QPointer<ReceiveDialog> m_receive;
    QPoint m_dragOffset;
    bool m_dragging = false;
};

} // namespace orvalink::mail
