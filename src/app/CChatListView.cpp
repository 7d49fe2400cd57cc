#include "app/CChatListView.h"

#include "app/ChatRowSource.h"
#include "controls/CFlatHeaderCtrl.h"
#include "controls/CReportCtrl.h"
#include "controls/ReportRowSource.h"
#include "controls/TextContrast.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QPainter>
#include <QTextLayout>
#include <algorithm>

namespace orvalink::app {

using namespace controls;
using res::resourceBitmap;

namespace {

// The rows of a view given no source: none.
class NoRows : public ReportRowSource {
public:
    int rowCount() const override { return 0; }
    ReportSourceRow row(int) const override { return {}; }
    std::string_view body(int) const override { return {}; }
    int find(std::uint64_t, int) const override { return -1; }
    void markRead(int) override {}
};

CChatListView::RowOpener& rowOpener()
{
    static CChatListView::RowOpener opener;
    return opener;
}

// Tabs to spaces, up to the next stop every eight columns.
QString expandTabs(const QString& text)
{
    QString out;
    int column = 0;
    for (QChar c : text) {
        if (c == u'\t') {
            const int spaces = 8 - column % 8;
            out.append(QString(spaces, u' '));
            column += spaces;
        } else {
            out.append(c);
            ++column;
        }
    }
    return out;
}

// The message text in the preview area: wrapped at words, tabs expanded, no mnemonic prefixes,
// and an ellipsis at the end of the last line that fits when more text follows. The preview shows
// a few lines: only the start of the text that can fill them goes through layout, not the whole
// text (a message may hold 60,000 bytes).
void drawWrappedText(QPainter& p, const QRect& rect, const QString& body)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    const QFontMetrics fm(p.font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(8 * fm.horizontalAdvance(u' '));
    const int lineHeight = std::max(1, fm.height());
    const int fits = rect.height() / lineHeight;
    // Every character that shows takes at least a pixel, so the lines that fit (and the one after
    // them, which tells whether more follows) never hold more than this.
    const qsizetype enough = static_cast<qsizetype>(fits + 2) * (rect.width() + 1);
    struct Line {
        int start;
        int length;
        int y;
    };
    std::vector<Line> lines;
    bool more = false;
    QString text;
    for (qsizetype chunk = 256;; chunk *= 4) {
        const bool whole = chunk >= body.size() || chunk >= enough;
        text = whole ? body.left(std::min<qsizetype>(body.size(), enough)) : body.left(chunk);
        text.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
        text.replace(u'\n', QChar::LineSeparator);
        text.replace(u'\r', QChar::LineSeparator);
        QTextLayout layout(text, p.font());
        layout.setTextOption(option);
        layout.beginLayout();
        lines.clear();
        more = false;
        int y = 0;
        bool settled = false; // a whole line follows those that fit, inside this piece of the text
        for (;;) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(rect.width());
            if (y + lineHeight > rect.height()) {
                more = true;
                settled = line.textStart() + line.textLength() < text.size();
                break;
            }
            lines.push_back({line.textStart(), line.textLength(), y});
            y += lineHeight;
        }
        layout.endLayout();
        if (whole || settled) {
            more = more || text.size() < body.size();
            break;
        }
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        QString part = text.mid(lines[i].start, lines[i].length);
        const bool last = i + 1 == lines.size();
        if (last && more) {
            part = text.mid(lines[i].start);
            const int lineEnd = part.indexOf(QChar::LineSeparator);
            part = part.left(lineEnd < 0 ? part.size() : lineEnd) + QStringLiteral(" \u2026");
            part = fm.elidedText(expandTabs(part), Qt::ElideRight, rect.width());
        } else {
            part.remove(QChar::LineSeparator);
            part = expandTabs(part);
        }
        p.drawText(QRect(rect.left(), rect.top() + lines[i].y, rect.width(), lineHeight),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, part);
    }
}

} // namespace

CChatListView::CChatListView(QWidget* parent, QListWidget* columnChooser, std::unique_ptr<ReportRowSource> source)
    : CReportView(parent), m_columnChooser(columnChooser), m_source(std::move(source))
{
    if (!m_source)
        m_source = std::make_unique<NoRows>();
    initialUpdate();
}

CChatListView::~CChatListView()
{
    if (reportCtrl())
        reportCtrl()->writeProfile("Settings", "ReportCtrl");
}

void CChatListView::setRowOpener(RowOpener opener)
{
    rowOpener() = std::move(opener);
}

void CChatListView::onInitialUpdate()
{
    CReportCtrl* ctrl = reportCtrl();
    ctrl->setNotifier([this](ReportNotification& n) { return onNotify(n); });
    ctrl->setSubItemList(m_columnChooser);
    ctrl->setImageList(
        ImageList(resourceBitmap(res::kBitmapReportImages), res::kReportImageWidth, QColor(255, 0, 255)));
    ctrl->insertColor(0, QColor(192, 216, 192));
    ctrl->insertColor(1, QColor(192, 192, 208));
    ctrl->insertColor(2, QColor(0, 64, 128));
    ctrl->insertColor(3, QColor(0, 64, 48));
    ctrl->insertColor(4, QColor(125, 84, 126));
    ReportSubItem message;
    message.format = RVCF_TEXT;
    message.width = 800;
    message.text = "Message";
    ctrl->defineSubItem(0, message);
    // One column only: it cannot be reordered.
    ctrl->headerCtrl()->modifyStyle(HDS_DRAGDROP, 0);
    ctrl->activateSubItem(0, 0);
    ctrl->headerCtrl()->setProperty(FH_PROPERTY_DRAGCURSOR, res::kCursorRemoveColumn);
    ctrl->modifyStyle(0, RCS_SINGLESEL | RCS_REMOVECOLUMNS);
}

void CChatListView::insertRow(int i, const ReportSourceRow& e)
{
    ReportItem item;
    item.item = i;
    item.subItem = 0;
    item.text = std::string(platform::cp932Prefix(e.header, kMaxCellText));
    item.state = RCIS_BOLD;
    if (!e.unread) {
        // A read row: one line with the "read" image, no message text.
        item.mask = RCIF_TEXT | RCIF_IMAGE | RCIF_STATE;
        item.image = res::kReportImageRead;
    } else {
        item.mask = RCIF_TEXT | RCIF_IMAGE | RCIF_PREVIEW | RCIF_STATE | RCIF_DATA;
        item.image = -1;
        item.preview = e.height;
        item.data = i;
        if (e.personal) {
            item.mask |= RCIF_BKCOLOR | RCIF_TEXTCOLOR;
            item.background = 4;
            item.textColor = 2;
        }
    }
    reportCtrl()->insertItem(item);
}

void CChatListView::reloadRows()
{
    m_stale = false;
    CReportCtrl* ctrl = reportCtrl();
    const ReportRowSource& source = *m_source;
    const int count = std::clamp(source.rowCount(), 0, kPaneRowCapacity);
    // A row arriving in the shown group adds one row at the end (and, in a full group, drops the
    // oldest): the rows already in the control are the same rows, so only the difference is
    // applied. The result is the one a full rebuild gives, without rebuilding thousands of rows for
    // each message, and the user's selection stays where it was. Rows are told apart by their
    // numbers; anything else (another group, unnumbered rows) is rebuilt whole. A sorted list stays
    // sorted: the rows are put in the chosen order again, so the header's arrow keeps telling the
    // truth.
    const auto& loaded = m_loadedSerials;
    bool ascending = true;
    const int sortedHeader = ctrl->headerCtrl()->sortColumn(&ascending);
    const HeaderItem* sortedBy = sortedHeader >= 0 ? ctrl->headerCtrl()->item(sortedHeader) : nullptr;
    const std::uint64_t firstSerial = count > 0 ? source.row(0).serial : 0;
    int kept = -1; // rows dropped from the top of what the control holds
    if (firstSerial != 0 && ctrl->itemCount() == static_cast<int>(loaded.size())) {
        const auto it = std::lower_bound(loaded.begin(), loaded.end(), firstSerial);
        const int drop = static_cast<int>(it - loaded.begin());
        const int overlap = static_cast<int>(loaded.size()) - drop;
        if (overlap == 0 || (overlap <= count && firstSerial == loaded[static_cast<std::size_t>(drop)] &&
                             source.row(overlap - 1).serial == loaded.back()))
            kept = drop;
    }
    int first = 0;
    if (kept >= 0 && kept < static_cast<int>(loaded.size())) {
        ctrl->deleteFirstItems(kept);
        m_loadedSerials.erase(m_loadedSerials.begin(), m_loadedSerials.begin() + kept);
        first = static_cast<int>(m_loadedSerials.size());
    } else {
        ctrl->deleteAllItems();
        m_loadedSerials.clear();
    }
    for (int i = first; i < count; ++i) {
        const ReportSourceRow row = source.row(i);
        m_loadedSerials.push_back(row.serial);
        insertRow(i, row);
    }
    if (sortedBy)
        ctrl->sortItems(static_cast<int>(sortedBy->data), ascending);
}

void CChatListView::refresh()
{
    reloadRows();
    if (reportCtrl()->itemCount() > 0)
        ensureRowVisible(reportCtrl()->itemCount() - 1);
}

void CChatListView::rowsChanged()
{
    if (!isVisible()) {
        m_stale = true;
        return;
    }
    refresh();
}

void CChatListView::bringUpToDate()
{
    if (m_stale)
        refresh();
}

void CChatListView::showEvent(QShowEvent* event)
{
    CReportView::showEvent(event);
    bringUpToDate();
}

int CChatListView::sourceIndex(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_loadedSerials.size()))
        return -1;
    return m_source->find(m_loadedSerials[static_cast<std::size_t>(row)], row);
}

void CChatListView::ensureRowVisible(int row)
{
    reportCtrl()->ensureVisible(row, false);
}

bool CChatListView::selectRowWithSerial(std::uint64_t serial)
{
    bringUpToDate();
    const auto at = std::find(m_loadedSerials.begin(), m_loadedSerials.end(), serial);
    if (at == m_loadedSerials.end())
        return false;
    const int target = static_cast<int>(at - m_loadedSerials.begin());
    CReportCtrl* ctrl = reportCtrl();
    for (int row = 0; row < ctrl->itemCount(); ++row) {
        const int wanted = row == target ? (RCIS_SELECTED | RCIS_FOCUSED) : 0;
        if ((ctrl->rowState(row) & (RCIS_SELECTED | RCIS_FOCUSED)) == wanted)
            continue;
        ReportItem item;
        item.mask = RCIF_STATE;
        item.item = row;
        item.subItem = 0;
        item.state = (ctrl->rowState(row) & ~(RCIS_SELECTED | RCIS_FOCUSED)) | wanted;
        ctrl->setItem(item);
    }
    ensureRowVisible(target);
    return true;
}

std::intptr_t CChatListView::onNotify(ReportNotification& n)
{
    switch (n.code) {
    case RCN_DRAWPREVIEW:
        drawPreview(n);
        return 0;
    case RCN_DBLCLICK:
        if (n.hit.item >= 0)
            openRow(n.hit.item);
        return 0;
    case RCN_CLICK:
        if ((n.hit.flags & RCHT_ONCHECK) && n.hit.item >= 0 && n.hit.subItem >= 0) {
            ReportItem cell;
            cell.item = n.hit.item;
            cell.subItem = n.hit.subItem;
            if (reportCtrl()->getItem(cell) && cell.check >= 0) {
                cell.mask = RCIF_CHECK;
                cell.check = cell.check ? 0 : 1;
                reportCtrl()->setItem(cell);
            }
        }
        return 0;
    default:
        return 0;
    }
}

void CChatListView::drawPreview(ReportNotification& n)
{
    const int index = sourceIndex(n.item);
    if (index < 0 || !n.painter)
        return;
    QPainter& p = *n.painter;
    const bool selectedWithFocus = (n.state & RCIS_SELECTED) && reportCtrl()->hasFocus();
    // The list set the row's colour as the painter's background.
    p.setPen(controls::legibleOn(palette().color(selectedWithFocus ? QPalette::HighlightedText : QPalette::Highlight),
                                 p.background().color()));
    p.setFont(reportCtrl()->font());
    // Only the start of a long text can show: converting the whole of it would cost as much as
    // laying it out.
    const QRect area = n.rect.adjusted(40, 2, 0, -2);
    const int lines = std::max(0, area.height() / std::max(1, QFontMetrics(p.font()).height())) + 2;
    const std::size_t shown =
        static_cast<std::size_t>(lines) * static_cast<std::size_t>(std::max(0, area.width() + 1)) * 2;
    drawWrappedText(p, area, platform::toQString(platform::cp932Prefix(m_source->body(index), shown)));
}

void CChatListView::openRow(int row)
{
    CReportCtrl* ctrl = reportCtrl();
    ReportItem item;
    item.item = row;
    item.subItem = 0;
    item.mask = RCIF_IMAGE | RCIF_PREVIEW | RCIF_STATE;
    item.image = res::kReportImageRead;
    item.preview = 0;
    item.state = 0;
    ctrl->setItem(item);

    const int index = sourceIndex(row);
    if (index < 0)
        return;
    m_source->markRead(index);
    if (rowOpener()) {
        const ReportSourceRow e = m_source->row(index);
        rowOpener()(row, std::string(e.header), std::string(m_source->body(index)), std::string(e.from));
    }
}

} // namespace orvalink::app
