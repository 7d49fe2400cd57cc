#include "mail/CReadFrame.h"

#include "mail/CReadThread.h"
#include "mail/CSendFrame.h"
#include "mail/CSendThread.h"
#include "mail/CSendView.h"
#include "mail/ComposeTexts.h"
#include "mail/ComposeWindows.h"
#include "mail/mime/HeaderWords.h"
#include "mail/mime/ReplyText.h"
#include "platform/MessageBox.h"
#include "platform/TextCodec.h"
#include "platform/WindowPlacement.h"
#include "platform/text/Cp932.h"
#include "store/MailStore.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolBar>
#include <QVBoxLayout>
#include <fstream>

namespace orvalink::mail {

namespace {

QLineEdit* headerLine(QWidget* parent, const char* name)
{
    auto* line = new QLineEdit(parent);
    line->setObjectName(name);
    line->setReadOnly(true);
    line->setFrame(false);
    return line;
}

} // namespace

CReadFrame::CReadFrame(ReadWindows& owner, CReadThread* thread, ReadRequest request)
    : m_owner(owner), m_thread(thread), m_request(std::move(request))
{
    setAttribute(Qt::WA_DeleteOnClose);
    platform::placeFrame(*this, platform::storedFrameRect(kSection));
    decode();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* form = new QFormLayout;
    m_from = headerLine(central, "from");
    m_to = headerLine(central, "to");
    m_subject = headerLine(central, "subject");
    m_date = headerLine(central, "date");
    form->addRow(platform::uiTextThroughCp932("差出人:"), m_from);
    form->addRow(platform::uiTextThroughCp932("宛先:"), m_to);
    form->addRow(platform::uiTextThroughCp932("件名:"), m_subject);
    form->addRow(platform::uiTextThroughCp932("日付:"), m_date);
    layout->addLayout(form);
    m_body = new QPlainTextEdit(central);
    m_body->setObjectName("body");
    m_body->setReadOnly(true);
    m_body->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    layout->addWidget(m_body, 1);
    auto* partsRow = new QHBoxLayout;
    m_parts = new QListWidget(central);
    m_parts->setObjectName("parts");
    m_parts->setMaximumHeight(80);
    m_save = new QPushButton(platform::uiTextThroughCp932("保存(&S)..."), central);
    partsRow->addWidget(m_parts, 1);
    partsRow->addWidget(m_save, 0, Qt::AlignTop);
    layout->addLayout(partsRow);
    setCentralWidget(central);

    QAction* replyAction = menuBar()
                               ->addMenu(platform::uiTextThroughCp932("メール(&M)"))
                               ->addAction(platform::uiTextThroughCp932("返信(&R)"));
    replyAction->setObjectName("reply");
    auto* tools = addToolBar(QString());
    tools->addAction(replyAction);
    connect(replyAction, &QAction::triggered, this, [this] { reply(); });
    connect(m_save, &QPushButton::clicked, this, [this] { savePart(m_parts->currentRow()); });
    connect(m_parts, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { savePart(m_parts->row(item)); });

    m_from->setText(platform::toQString(m_shown.from));
    m_to->setText(platform::toQString(m_shown.to));
    m_subject->setText(platform::toQString(m_shown.subject));
    m_date->setText(platform::toQString(m_shown.date));
    m_body->setPlainText(platform::toQString(m_shown.body));
    for (const DisplayedPart& part : m_shown.parts)
        m_parts->addItem(platform::toQString(part.label));
    const bool anyPart = !m_shown.parts.empty();
    m_parts->setVisible(anyPart);
    m_save->setVisible(anyPart);
    if (anyPart)
        m_parts->setCurrentRow(0);
    setWindowTitle(platform::toQString(m_shown.subject));
}

CReadFrame::~CReadFrame()
{
    teardown();
}

void CReadFrame::decode()
{
    if (m_request.folderName == store::kReceivedFolder) {
        m_mime = parseMimeMessage(m_request.bytes);
        m_shown = displayMessage(m_mime);
        return;
    }
    // A composition: its mailbox bytes are the body alone, the rest is in its record.
    const store::IndexRecord& r = m_request.record;
    m_shown.from = decodeHeaderWords(r.sender);
    m_shown.to = decodeHeaderWords(r.recipient);
    m_shown.subject = decodeHeaderWords(r.subject);
    m_shown.date = r.headerDate.empty() ? r.arrivalDate : r.headerDate;
    m_shown.body = toLfLines(m_request.bytes);
}

std::string CReadFrame::fromText() const
{
    return platform::fromQString(m_from->text());
}

std::string CReadFrame::toText() const
{
    return platform::fromQString(m_to->text());
}

std::string CReadFrame::subjectText() const
{
    return platform::fromQString(m_subject->text());
}

std::string CReadFrame::dateText() const
{
    return platform::fromQString(m_date->text());
}

std::string CReadFrame::bodyText() const
{
    return platform::fromQString(m_body->toPlainText());
}

std::vector<std::string> CReadFrame::partNames() const
{
    std::vector<std::string> names;
    for (int i = 0; i < m_parts->count(); ++i)
        names.push_back(platform::fromQString(m_parts->item(i)->text()));
    return names;
}

bool CReadFrame::savePart(int i)
{
    if (i < 0 || i >= static_cast<int>(m_shown.parts.size()))
        return false;
    const DisplayedPart& shown = m_shown.parts[static_cast<std::size_t>(i)];
    const MimePart& part = m_mime.parts[shown.part];
    // A name is offered without any folder it may name: the user picks where it goes.
    std::string name = part.name.empty() ? std::string("part") + std::to_string(i + 1) : part.name;
    for (char& c : name) {
        if (c == '/')
            c = '_';
    }
    const std::optional<std::string> path =
        platform::pickSaveFilePath(platform::utf8ToCp932("添付ファイルの保存"), name);
    if (!path)
        return false;
    const std::string bytes = partContent(part);
    std::ofstream out(*path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        platform::messageBox(platform::utf8ToCp932("ファイルに保存できませんでした"), captionText(), platform::MB_OK);
        return false;
    }
    return true;
}

bool CReadFrame::reply()
{
    CSendThread* compose =
        OpenComposeWindow(m_owner.mailState(), replyAddress(m_shown.from), replySubject(m_shown.subject));
    if (!compose || !compose->frame())
        return false;
    compose->frame()->view()->setText(quoteBody(m_shown.body));
    return true;
}

void CReadFrame::closeEvent(QCloseEvent* event)
{
    platform::storeFrameRect(*this, kSection);
    event->accept();
}

void CReadFrame::teardown()
{
    if (m_tornDown)
        return;
    m_tornDown = true;
    m_thread->quitAndWait();
    m_owner.release(m_thread->windowSlot(), m_thread);
    delete m_thread;
    m_thread = nullptr;
}

} // namespace orvalink::mail
