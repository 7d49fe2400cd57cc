#include "mail/CSendFrame.h"

#include "mail/AccountList.h"
#include "mail/CSendHeaderBar.h"
#include "mail/CSendThread.h"
#include "mail/CSendView.h"
#include "mail/CSendWorker.h"
#include "mail/CertificateQuestion.h"
#include "mail/ComposeTexts.h"
#include "mail/ComposeThreadTable.h"
#include "mail/MailDirectory.h"
#include "mail/MailState.h"
#include "platform/MessageBox.h"
#include "platform/Profile.h"
#include "platform/TextCodec.h"
#include "platform/WindowPlacement.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"
#include "store/MailStore.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QMetaObject>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <ctime>

namespace orvalink::mail {

using res::resourceIcon;
using res::resourceToolbarIcons;

CSendFrame::CSendFrame(CSendThread* thread)
    : m_thread(thread), m_initialTo(thread->initialTo), m_initialSubject(thread->initialSubject)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    restoreRect();
    createMenus();
    createToolBar();
    createStatusBar();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_header = new CSendHeaderBar(central);
    layout->addWidget(m_header);
    m_view = new CSendView(central);
    layout->addWidget(m_view, 1);
    setCentralWidget(central);
    setWindowIcon(resourceIcon(res::kIconChatWrite));

    const auto& profile = platform::Profile::application();
    m_header->fromSave()->setChecked(profile.getInt(kSection, "From Save", 0) != 0);
    m_header->toSave()->setChecked(profile.getInt(kSection, "To Save", 0) != 0);
    m_header->subjectSave()->setChecked(profile.getInt(kSection, "Subject Save", 0) != 0);

    LoadAccounts();
    for (const MailAccount& a : m_accounts)
        m_header->fromBox()->addItem(platform::toQString(a.serverName));
    CSendHeaderBar::setText(m_header->fromBox(), m_accounts.empty() ? std::string() : m_accounts.front().emailAddress);
    CSendHeaderBar::setText(m_header->toBox(), m_initialTo);
    CSendHeaderBar::setText(m_header->subjectBox(), m_initialSubject);
    setWindowTitle(platform::toQString(m_initialSubject));
    m_view->setFocus();

    CSendWorker* worker = m_thread->worker();
    connect(worker, &CSendWorker::smtpStateChanged, this, &CSendFrame::setConversationState);
    connect(worker, &CSendWorker::mailSent, this, [this] {
        keepSentCopy();
        closeWithoutAsking();
    });
    connect(worker, &CSendWorker::failed, this, [](const QByteArray& cp932) {
        platform::messageBox(std::string_view(cp932.constData(), static_cast<std::size_t>(cp932.size())));
    });
    connect(worker, &CSendWorker::certificateRefused, this,
            [this](const QByteArray& cp932, const CertificateInfo& certificate) {
                // The conversation has ended already (its state came first), so the same mail can
                // go again at once; nothing went out on the refused connection.
                if (askToTrustCertificate(certificate, CertificateUse::Sending)) {
                    onMailSend();
                    return;
                }
                platform::messageBox(std::string_view(cp932.constData(), static_cast<std::size_t>(cp932.size())));
            });
}

CSendFrame::~CSendFrame()
{
    teardown();
}

void CSendFrame::createMenus()
{
    auto add = [this](QMenu* menu, int id, const char* label, const char* status) {
        QAction* a = menu->addAction(platform::uiText(label));
        if (status)
            a->setStatusTip(platform::uiText(status));
        connect(a, &QAction::triggered, this, [this, id] { onCommand(id); });
        m_actions[id] = a;
        return a;
    };
    QMenu* file = menuBar()->addMenu(platform::uiText("ﾌｧｲﾙ(&F)"));
    add(file, res::kCmdFileSave, "保存", nullptr);
    file->addSeparator();
    // No handler: the item stays disabled.
    add(file, res::kCmdComposeQuit, "終了", "このメールの編集を終了します")->setEnabled(false);
    QMenu* edit = menuBar()->addMenu(platform::uiText("編集(&E)"));
    add(edit, res::kCmdEditUndo, "元に戻す", nullptr);
    edit->addSeparator();
    add(edit, res::kCmdEditCut, "切り取り", nullptr);
    add(edit, res::kCmdEditCopy, "コピー", nullptr);
    add(edit, res::kCmdEditPaste, "貼り付け", nullptr);
    QMenu* operate = menuBar()->addMenu(platform::uiText("操作(&O)"));
    add(operate, res::kCmdComposeSend, "メール送信(&S)", "このメールを送信します");
}

void CSendFrame::createToolBar()
{
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QString::number(res::kToolbarCompose));
    m_toolBar->setAllowedAreas(Qt::TopToolBarArea);
    m_toolBar->setFloatable(false);
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    const QList<QIcon> icons = resourceToolbarIcons(res::kToolbarCompose);
    auto icon = [&icons](int i) { return i < icons.size() ? icons[i] : QIcon(); };

    // Button 1 is the menu's send item, so the two are enabled and disabled together.
    QAction* send = m_actions[res::kCmdComposeSend];
    send->setIcon(icon(0));
    send->setToolTip(platform::uiText("メール送信"));
    m_toolBar->addAction(send);
    QAction* save = m_toolBar->addAction(icon(1), platform::uiText("保存"));
    save->setStatusTip(platform::uiText("このメールを保存します"));
    connect(save, &QAction::triggered, this, [this] { onCommand(res::kCmdComposeSave); });
    m_actions[res::kCmdComposeSave] = save;
    // Buttons 3 and 4 have no handler and are shown disabled.
    for (int id : {res::kCmdComposeButton3, res::kCmdComposeButton4}) {
        QAction* a = m_toolBar->addAction(icon(id == res::kCmdComposeButton3 ? 2 : 3), QString());
        a->setEnabled(false);
        m_actions[id] = a;
    }
}

void CSendFrame::createStatusBar()
{
    QStatusBar* bar = statusBar();
    for (const char* indicator : {"KANA", "CAPS", "NUM", "SCRL"}) {
        auto* pane = new QLabel(QString::fromLatin1(indicator), bar);
        pane->setObjectName(QString::fromLatin1(indicator));
        pane->setEnabled(false);
        bar->addPermanentWidget(pane);
    }
}

int CSendFrame::LoadAccounts()
{
    m_accounts = readAccounts();
    return static_cast<int>(m_accounts.size());
}

QAction* CSendFrame::action(int id) const
{
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

std::string CSendFrame::fromText() const
{
    return CSendHeaderBar::text(m_header->fromBox());
}

std::string CSendFrame::toText() const
{
    return CSendHeaderBar::text(m_header->toBox());
}

std::string CSendFrame::subjectText() const
{
    return CSendHeaderBar::text(m_header->subjectBox());
}

std::string CSendFrame::bodyText() const
{
    return m_view->text();
}

bool CSendFrame::holdsTypedText() const
{
    return toText() != m_initialTo || subjectText() != m_initialSubject || m_view->characterCount() > 0;
}

void CSendFrame::restoreRect()
{
    // The stored rectangle is the window's frame; one that lies on no available screen is moved onto one.
    platform::placeFrame(*this, platform::storedFrameRect(kSection));
}

void CSendFrame::saveSettings() const
{
    auto& p = platform::Profile::application();
    platform::storeFrameRect(*this, kSection);
    // Each write reaches the disk at once; a value that is already stored is left alone.
    const auto write = [&p](const char* key, int value) {
        if (!p.contains(kSection, key) || p.getInt(kSection, key, 0) != value)
            p.writeInt(kSection, key, value);
    };
    write("From Save", m_header->fromSave()->isChecked() ? 1 : 0);
    write("To Save", m_header->toSave()->isChecked() ? 1 : 0);
    write("Subject Save", m_header->subjectSave()->isChecked() ? 1 : 0);
}

bool CSendFrame::onCommand(int id)
{
    switch (id) {
    case res::kCmdComposeSend:
        onMailSend();
        return true;
    case res::kCmdComposeSave:
        onMailSave();
        return true;
    case res::kCmdFileSave:
        return true;
    case res::kCmdEditUndo:
        m_view->undo();
        return true;
    case res::kCmdEditCut:
        m_view->cut();
        return true;
    case res::kCmdEditCopy:
        m_view->copy();
        return true;
    case res::kCmdEditPaste:
        m_view->paste();
        return true;
    default:
        return false;
    }
}

bool CSendFrame::storeMail()
{
    const orvalink::store::StoreResult result = orvalink::store::AppendSavedMail(
        m_thread->mailState().directory().prepare(), fromText(), toText(), subjectText(), bodyText());
    if (result != orvalink::store::StoreResult::Stored) {
        platform::messageBox(std::string(orvalink::store::storeResultText(result)), mail::captionText(),
                             platform::MB_OK);
        return false;
    }
    return true;
}

bool CSendFrame::onMailSave()
{
    if (!storeMail())
        return false;
    closeWithoutAsking();
    return true;
}

void CSendFrame::onMailSend()
{
    // One conversation at a time: a second send while one runs is ignored.
    if (m_conversationRunning)
        return;
    // The accounts as they are now: a server or port corrected in the settings since the window
    // opened is the one this send uses.
    LoadAccounts();
    // The conversation always goes through account 1, whatever the From box shows.
    mail::SmtpRequest mail;
    if (!m_accounts.empty())
        mail.account = m_accounts.front();
    mail.to = toText();
    mail.subject = subjectText();
    mail.body = bodyText();
    m_sending = {fromText(), mail.to, mail.subject, mail.body};
    // An address or port the conversation would refuse is told here, before anything connects.
    if (mail.account) {
        if (const std::string refused = mail::SmtpConversation::refusal(mail); !refused.empty()) {
            platform::messageBox(refused, mail::captionText(), platform::MB_OK | platform::MB_ICONEXCLAMATION);
            return;
        }
    }
    setConversationState(static_cast<int>(mail::SmtpState::WaitGreeting));
    CSendWorker* worker = m_thread->worker();
    QMetaObject::invokeMethod(
        worker, [worker, mail = std::move(mail)]() mutable { worker->startSend(std::move(mail)); },
        Qt::QueuedConnection);
}

void CSendFrame::setConversationState(int state)
{
    m_smtpState = state;
    m_conversationRunning = state != static_cast<int>(mail::SmtpState::None);
    if (QAction* send = action(res::kCmdComposeSend))
        send->setEnabled(!m_conversationRunning);
}

void CSendFrame::keepSentCopy()
{
    // What the server accepted is what the window held when the send began.
    const orvalink::store::StoreResult kept =
        orvalink::store::AppendSentMail(m_thread->mailState().directory().prepare(), m_sending.from, m_sending.to,
                                        m_sending.subject, m_sending.body, std::time(nullptr));
    if (kept != orvalink::store::StoreResult::Stored)
        platform::postMessageBox(std::string(orvalink::store::storeResultText(kept)), mail::captionText(),
                                 platform::MB_OK | platform::MB_ICONEXCLAMATION);
}

void CSendFrame::closeWithoutAsking()
{
    m_closeWithoutAsking = true;
    close();
}

void CSendFrame::closeAtExit()
{
    // Nobody is left to answer a question: what was typed goes to 保存したメール instead of being lost.
    if (holdsTypedText())
        orvalink::store::AppendSavedMail(m_thread->mailState().directory().prepare(), fromText(), toText(),
                                         subjectText(), bodyText());
    m_closeWithoutAsking = true;
    delete this;
}

void CSendFrame::closeEvent(QCloseEvent* event)
{
    if (!m_closeWithoutAsking && holdsTypedText()) {
        const int answer = platform::messageBox(mail::saveQuestionText(), mail::captionText(),
                                                platform::MB_YESNOCANCEL | platform::MB_ICONQUESTION);
        if (answer == platform::IDYES) {
            // A refused save keeps the window and everything in it.
            if (!storeMail()) {
                event->ignore();
                return;
            }
            event->accept();
            return;
        }
        if (answer != platform::IDNO) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

void CSendFrame::teardown()
{
    if (m_tornDown)
        return;
    m_tornDown = true;
    saveSettings();
    // Ending the thread destroys its worker, which ends a conversation still running and releases
    // its socket.
    m_thread->quitAndWait();
    ComposeThreadTable& table = m_thread->mailState().composeThreads();
    const int slot = m_thread->windowSlot();
    if (slot >= 0 && slot < kMaxComposeWindows && table.threads[static_cast<std::size_t>(slot)] == m_thread)
        table.threads[static_cast<std::size_t>(slot)] = nullptr;
    delete m_thread;
    m_thread = nullptr;
}

} // namespace orvalink::mail
