#include "app/CMailListView.h"

#include "controls/CFlatHeaderCtrl.h"
#include "controls/CReportCtrl.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

namespace orvalink::app {

using namespace controls;

namespace {

struct ColumnDef {
    const char* title;
    int width;
    int format;
};

constexpr ColumnDef kColumns[MailRowSource::kColumnCount] = {
    {"差出人", 180, RVCF_LEFT | RVCF_TEXT},
    {"件名", 300, RVCF_LEFT | RVCF_TEXT},
    {"日付", 200, RVCF_LEFT | RVCF_TEXT},
    {"サイズ", 80, RVCF_RIGHT | RVCF_TEXT},
};

} // namespace

CMailListView::CMailListView(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_find = new QLineEdit(this);
    m_find->setObjectName("mailFind");
    m_find->setPlaceholderText(platform::uiTextThroughCp932("差出人・件名を検索"));
    m_find->setClearButtonEnabled(true);
    layout->addWidget(m_find);
    m_notice = new QLabel(this);
    m_notice->hide();
    layout->addWidget(m_notice);
    m_ctrl = new CReportCtrl(RCS_SHOWSELALWAYS, this);
    layout->addWidget(m_ctrl, 1);

    m_ctrl->setImageList(
        ImageList(res::resourceBitmap(res::kBitmapReportImages), res::kReportImageWidth, QColor(255, 0, 255)));
    for (int c = 0; c < MailRowSource::kColumnCount; ++c) {
        ReportSubItem column;
        column.format = kColumns[c].format;
        column.width = kColumns[c].width;
        column.text = platform::utf8ToCp932(kColumns[c].title);
        m_ctrl->defineSubItem(c, column, false);
        m_ctrl->activateSubItem(c, c);
    }
    m_ctrl->setTextProvider([this](int row, int subItem) {
        const int index = sourceIndex(row);
        return index < 0 ? std::string()
                         : std::string(platform::cp932Prefix(m_source.cellText(index, subItem), kMaxCellText));
    });
    m_ctrl->setCompareCallback(
        [this](int subItem, int a, int b) { return m_source.compare(subItem, sourceIndex(a), sourceIndex(b)); });
    m_ctrl->setNotifier([this](ReportNotification& n) -> std::intptr_t {
        switch (n.code) {
        case RCN_COLUMNCLICK: {
            // Sorted here, so that the keys live only while the control sorts.
            bool ascending = true;
            const int sorted = m_ctrl->headerCtrl()->sortColumn(&ascending);
            sortBy(n.subItem, !(sorted == m_ctrl->headerIndexOf(n.subItem) && ascending));
            return 1;
        }
        case RCN_DBLCLICK:
            if (n.hit.item >= 0)
                openRow(n.hit.item);
            return 0;
        case RCN_STATECHANGED:
            emit countsChanged();
            return 0;
        default:
            return 0;
        }
    });
    connect(m_find, &QLineEdit::textChanged, this, [this] { applyFilter(); });
    auto* findKey = new QShortcut(QKeySequence::Find, this);
    findKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(findKey, &QShortcut::activated, this, [this] {
        m_find->setFocus();
        m_find->selectAll();
    });
}

CMailListView::~CMailListView() = default;

void CMailListView::showFolder(const std::string& folderName, const std::string& folderPath)
{
    m_folderName = folderName;
    m_source.load(folderPath);
    fillRows();
}

void CMailListView::reload()
{
    if (m_source.folderPath().empty())
        return;
    m_source.load(m_source.folderPath());
    fillRows();
}

int CMailListView::sourceIndex(int row) const
{
    if (row < 0 || row >= m_ctrl->itemCount())
        return -1;
    const auto index = m_filter.empty() ? row : static_cast<int>(m_shown[static_cast<std::size_t>(row)]);
    return index < m_source.count() ? index : -1;
}

int CMailListView::shownCount() const
{
    return m_ctrl->itemCount();
}

int CMailListView::selectedCount() const
{
    return m_ctrl->selectedCount();
}

void CMailListView::applyFilter()
{
    m_filter = platform::fromQString(m_find->text());
    fillRows();
}

void CMailListView::fillRows()
{
    bool ascending = true;
    const int sortedHeader = m_ctrl->headerCtrl()->sortColumn(&ascending);
    m_shown.clear();
    m_shown.shrink_to_fit();
    if (!m_filter.empty())
        m_shown = m_source.matching(m_filter);
    m_ctrl->setVirtualItems(m_filter.empty() ? m_source.count() : static_cast<int>(m_shown.size()),
                            [this](ReportItem& item) { describeRow(item); });
    if (sortedHeader >= 0)
        sortBy(static_cast<int>(m_ctrl->headerCtrl()->item(sortedHeader)->data), ascending);
    if (m_source.unreadableBytes() > 0) {
        m_notice->setText(platform::toQString(platform::utf8ToCp932("索引の終わりの ") +
                                              std::to_string(m_source.unreadableBytes()) +
                                              platform::utf8ToCp932(" バイトは読めません")));
        m_notice->show();
    } else {
        m_notice->hide();
    }
    emit countsChanged();
}

void CMailListView::markRead(int index)
{
    if (index < 0 || index >= m_source.count() || !m_source.unread(index))
        return;
    if (!m_source.markRead(index))
        return;
    // The row reads its new state from the source when it is painted again.
    m_ctrl->update();
    emit countsChanged();
}

void CMailListView::sortBy(int subItem, bool ascending)
{
    m_source.prepareSort(subItem);
    m_ctrl->sortItems(subItem, ascending);
    m_source.endSort();
}

void CMailListView::describeRow(ReportItem& item) const
{
    const int index = sourceIndex(item.item);
    if (index < 0 || item.subItem != 0)
        return;
    if (!m_source.isCached(index)) {
        // The first row of a frame not at hand: every row in view is read in one go.
        std::vector<int> inView;
        const int first = m_ctrl->firstVisible();
        const int last = std::min(m_ctrl->itemCount(), first + m_ctrl->rowsThatFit(first, false, true) + 1);
        for (int p = first; p < last; ++p)
            inView.push_back(sourceIndex(m_ctrl->rowAt(p)));
        inView.push_back(index);
        m_source.prefetch(inView);
    }
    const bool unread = m_source.unread(index);
    item.mask |= RCIF_IMAGE;
    item.image = unread ? res::kReportImageUnread : res::kReportImageRead;
    item.state = unread ? RCIS_BOLD : 0;
}

void CMailListView::openRow(int row)
{
    const int index = sourceIndex(row);
    if (index < 0)
        return;
    markRead(index);
    if (m_opener)
        m_opener(m_source, index);
}

void CMailListView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        const int position = m_ctrl->focusedPosition();
        if (position >= 0) {
            openRow(m_ctrl->rowAt(position));
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

} // namespace orvalink::app
