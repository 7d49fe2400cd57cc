#pragma once

// A chat write window: a bar with one button (1050) above the text, a menu "ファイル(&F)" whose
// "終了(&X)" (32821) closes it, icon 206. In write mode the button is "送信(&S)"; in read mode it
// is "返信(&D)" and the text shows the received message read-only until the user replies.
//
// The widgets live on the GUI thread; the send itself goes out from the window's thread
// (CSendChatThread), and the window closes once the datagram has gone out. A send that fails
// leaves the window open with its text, and the bar says why until the next send. Closing the
// window in any way saves its rectangle to "ChatWriteWindow Entry", ends its thread, frees its
// slot and counts it off the open windows. The window deletes itself when closed.
//
// Nothing is sent while the text is blank: the send button stays disabled until there is
// something to send. A paste cut at the 10,000-character limit is told in the bar beside the
// button until the text changes again.

#include "chat/CSendChatThread.h"

#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <functional>
#include <string>

class QLabel;

class QPushButton;

namespace orvalink::chat {

class CSendChatView;

class CSendChatFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CSendChatFrame(CSendChatThread* thread);
    ~CSendChatFrame() override;

    CSendChatView* view() const { return m_view; }
    QPushButton* button() const { return m_button; }
    // The bar's notice of a paste cut at the limit (hidden when there is none).
    QLabel* cutNotice() const { return m_cutNotice; }
    static QString cutNoticeText(int dropped);
    // The bar's line saying why the last send failed (hidden when it did not).
    QLabel* sendFailure() const { return m_sendFailure; }
    bool inReadMode() const { return m_readMode; }
    const std::string& senderName() const { return m_senderName; }
    CSendChatThread* thread() const { return m_thread; }

    // Button 1050: reply in read mode, send in write mode.
    void pressButton();
    // Menu commands; true when handled.
    bool onCommand(int id);

    // Where a new window goes: given its stored frame rectangle and the number of write windows
    // already open, the frame rectangle to open it at. Unset, the stored rectangle is used.
    using Placement = std::function<QRect(const QRect& stored, int openWindows)>;
    static void setPlacement(Placement placement);

private:
    void reply();
    void send();
    void restoreRect();
    void saveRect() const;
    void teardown();
    void updateButton();
    void sendDone(int outcome);

    static inline Placement s_placement;

    // The group table owns the thread; it ends the thread when the window closes, or earlier when
    // the table is cleared.
    QPointer<CSendChatThread> m_thread;
    CSendChatView* m_view = nullptr;
    QPushButton* m_button = nullptr;
    QLabel* m_cutNotice = nullptr;
    QLabel* m_sendFailure = nullptr;
    std::string m_senderName;
    bool m_readMode = false;
    bool m_sending = false;
    bool m_tornDown = false;
};

} // namespace orvalink::chat
