#include "chat/CSendChatFrame.h"

#include "chat/CSendChatThread.h"
#include "chat/CSendChatView.h"
#include "chat/CSendChatWorker.h"
#include "chat/ChatGroupTable.h"
#include "chat/ChatWriteOpeners.h"
#include "chat/SendErrorText.h"
#include "platform/Dispatch.h"
#include "platform/MessageBox.h"
#include "platform/Profile.h"
#include "platform/TextCodec.h"
#include "platform/WindowPlacement.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvalink::chat {

using res::resourceIcon;

namespace {

constexpr const char* kSection = "ChatWriteWindow Entry";

} // namespace

CSendChatFrame::CSendChatFrame(CSendChatThread* thread)
    : m_thread(thread), m_senderName(thread->senderName), m_readMode(thread->readMode)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(resourceIcon(res::kIconChatWrite));
    restoreRect();

    QMenu* file = menuBar()->addMenu(platform::uiText("ファイル(&F)"));
    file->addAction(platform::uiText("終了(&X)"), this, [this] { onCommand(res::kCmdChatWriteClose); });

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QWidget(central);
    bar->setObjectName(QString::number(res::kDialogChatWriteBar));
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(4, 2, 4, 2);
    m_button = new QPushButton(platform::uiText(m_readMode ? "返信(&D)" : "送信(&S)"), bar);
    m_button->setObjectName(QString::number(res::kControlChatWriteSend));
    barLayout->addWidget(m_button);
    m_cutNotice = new QLabel(bar);
    m_cutNotice->setObjectName("cutNotice");
    m_cutNotice->hide();
    barLayout->addWidget(m_cutNotice);
    m_sendFailure = new QLabel(bar);
    m_sendFailure->setObjectName("sendFailure");
    m_sendFailure->hide();
    barLayout->addWidget(m_sendFailure);
    barLayout->addStretch(1);
    layout->addWidget(bar);
    m_view = new CSendChatView(central);
    layout->addWidget(m_view, 1);
    setCentralWidget(central);
    connect(m_button, &QPushButton::clicked, this, &CSendChatFrame::pressButton);
    connect(m_view, &QPlainTextEdit::textChanged, this, [this] {
        m_cutNotice->hide();
        updateButton();
    });
    connect(m_view, &CSendChatView::textCut, this, [this](int, int dropped) {
        m_cutNotice->setText(cutNoticeText(dropped));
        m_cutNotice->show();
    });

    if (m_readMode) {
        setWindowTitle(platform::toQString(m_senderName));
        m_view->setText(m_thread->body);
        m_view->setReadOnly(true);
    } else {
        const std::string title =
            m_thread->memberName.empty() ? m_thread->groupLabel : m_thread->memberName + "-" + m_thread->groupLabel;
        setWindowTitle(platform::toQString(title));
    }
    updateButton();
    m_view->setFocus();

    // The thread tells the window how its send went; the window may be gone by then.
    QPointer<CSendChatFrame> self(this);
    m_thread->worker()->setOnSent([self](int outcome) {
        if (self)
            self->sendDone(outcome);
    });
}

CSendChatFrame::~CSendChatFrame()
{
    teardown();
}

void CSendChatFrame::setPlacement(Placement placement)
{
    s_placement = std::move(placement);
}

void CSendChatFrame::restoreRect()
{
    QRect frame = platform::storedFrameRect(kSection);
    if (s_placement)
        frame = s_placement(frame, m_thread->table() ? m_thread->table()->chatWriteCount() : 0);
    platform::placeFrame(*this, frame);
}

void CSendChatFrame::saveRect() const
{
    platform::storeFrameRect(*this, kSection);
}

void CSendChatFrame::teardown()
{
    if (m_tornDown)
        return;
    m_tornDown = true;
    saveRect();
    // The thread lives exactly as long as the window; a send still under way finishes first.
    if (CSendChatThread* thread = m_thread) {
        if (ChatGroupTable* table = thread->table()) {
            table->closeWriteWindow(*thread);
        } else {
            thread->quitAndWait();
            delete thread;
        }
    }
    m_thread = nullptr;
}

QString CSendChatFrame::cutNoticeText(int dropped)
{
    return platform::uiText("10,000文字を超えたため、%1文字を貼り付けませんでした").arg(dropped);
}

void CSendChatFrame::updateButton()
{
    // Reading, the button replies; writing, it sends, and a blank text is nothing to send.
    m_button->setEnabled(m_readMode || (!m_sending && !m_view->isBlank()));
}

bool CSendChatFrame::onCommand(int id)
{
    if (id != res::kCmdChatWriteClose)
        return false;
    close();
    return true;
}

void CSendChatFrame::pressButton()
{
    if (m_readMode)
        reply();
    else
        send();
}

void CSendChatFrame::reply()
{
    // Without the sender among the members the reply could only go to the whole group.
    if (m_thread->recipient.empty()) {
        platform::messageBox(chat::noRecipientText());
        return;
    }
    m_view->setText(chat::quoteReply(m_thread->body));
    m_view->setReadOnly(false);
    m_button->setText(platform::uiText("送信(&S)"));
    m_readMode = false;
    updateButton();
    m_view->setFocus();
    m_view->moveCursor(QTextCursor::End);
}

void CSendChatFrame::send()
{
    if (m_sending || m_view->isBlank())
        return;
    const ChatGroupTable* table = m_thread->table();
    CNetMsgDlg* target = table ? table->sendTarget(m_thread->groupIndex()) : nullptr;
    if (!target) {
        platform::messageBox(chat::groupDeletedText());
        close();
        return;
    }
    if (m_thread->personal && m_thread->recipient.empty()) {
        platform::messageBox(chat::noRecipientText());
        return;
    }
    m_sending = true;
    m_sendFailure->hide();
    m_button->setEnabled(false);
    CSendChatWorker* worker = m_thread->worker();
    worker->setListener(target);
    platform::postMessage(worker, {WM_CHAT_WRITE_SEND, m_view->text(), m_thread->recipient});
}

void CSendChatFrame::sendDone(int outcome)
{
    m_sending = false;
    if (outcome == 0) {
        close();
        return;
    }
    if (outcome == CSendChatWorker::kListenerGone) {
        platform::messageBox(chat::groupDeletedText());
        close();
        return;
    }
    // Not sent: the text stays for another try, and the bar says why.
    m_sendFailure->setText(platform::toQString(chat::messageNotSentText(outcome)));
    m_sendFailure->show();
    updateButton();
}

} // namespace orvalink::chat
