#include "controls/CReportCtrl.h"

#include "controls/CFlatHeaderCtrl.h"
#include "controls/ReportColumnChooser_p.h"
#include "controls/TextContrast.h"
#include "platform/Profile.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <new>

namespace orvalink::controls {

namespace {

std::string cutCellText(std::string_view text, std::size_t maxBytes = kMaxCellText)
{
    return std::string(platform::cp932Prefix(text, std::min(maxBytes, kMaxCellText)));
}

// One character of code page 932 text as a number: a double-byte character counts as one unit,
// so that a single-byte character and a double-byte one compare as whole characters.
unsigned cp932CharAt(std::string_view s, std::size_t& i)
{
    const auto c = static_cast<unsigned char>(s[i++]);
    if (platform::isCp932LeadByte(c) && i < s.size())
        return (c << 8) | static_cast<unsigned char>(s[i++]);
    return c;
}

int compareCp932(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const unsigned ca = cp932CharAt(a, i);
        const unsigned cb = cp932CharAt(b, j);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

int keyFlags(Qt::KeyboardModifiers m, Qt::MouseButtons b)
{
    int flags = 0;
    if (b & Qt::LeftButton)
        flags |= MK_LBUTTON;
    if (m & Qt::ShiftModifier)
        flags |= MK_SHIFT;
    if (m & Qt::ControlModifier)
        flags |= MK_CONTROL;
    return flags;
}

} // namespace

CReportCtrl::CReportCtrl(int style, QWidget* parent, int id) : QWidget(parent), m_style(style), m_id(id)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::ArrowCursor);
    m_header = new CFlatHeaderCtrl(this, HDS_BUTTONS | HDS_DRAGDROP | HDS_FULLDRAG);
    m_header->setNotifier([this](HeaderNotification& n) { return onHeaderNotify(n); });
    connect(m_header, &CFlatHeaderCtrl::heightChanged, this, [this] { layout(); });
    m_vbar = new QScrollBar(Qt::Vertical, this);
    m_hbar = new QScrollBar(Qt::Horizontal, this);
    m_vbar->hide();
    m_hbar->hide();
    m_model.stateChanging = [this](int row) {
        ReportNotification n;
        n.code = RCN_STATECHANGING;
        n.item = row;
        return notify(n) != 0;
    };
    m_model.stateChanged = [this](int row) {
        ReportNotification n;
        n.code = RCN_STATECHANGED;
        n.item = row;
        notify(n);
    };
    m_model.setSingleSelection(m_style & RCS_SINGLESEL);
    connect(m_vbar, &QScrollBar::actionTriggered, this, [this](int action) {
        // Paging up fits rows backward from the row above the first one, which a fixed page
        // step cannot express.
        const int first = firstVisible();
        if (action == QAbstractSlider::SliderPageStepSub)
            m_vbar->setSliderPosition(std::max(0, first - std::max(1, rowsThatFit(first - 1, true, false))));
        else if (action == QAbstractSlider::SliderPageStepAdd)
            m_vbar->setSliderPosition(
                std::min(bottomPosition(), first + std::max(1, rowsThatFit(first, false, false))));
    });
    connect(m_vbar, &QScrollBar::valueChanged, this, [this](int v) {
        if (!m_inLayout)
            scrollToPosition(v);
    });
    connect(m_hbar, &QScrollBar::valueChanged, this, [this](int v) {
        if (!m_inLayout)
            setHorizontalPosition(v);
    });
    updateMetrics();
    layout();
}

CReportCtrl::~CReportCtrl()
{
    // The chooser's list box belongs to the owner; stop watching it before the control goes.
    m_chooser.reset();
}

std::intptr_t CReportCtrl::notify(ReportNotification& n)
{
    return m_notifier ? m_notifier(n) : 0;
}

// ---- metrics and layout ----

void CReportCtrl::updateMetrics()
{
    m_boldFont = font();
    m_boldFont.setWeight(QFont::Bold);
    const QFontMetrics fm(font());
    m_rowHeight = fm.height() + std::max(0, fm.leading()) + 2 + ((m_style & RCS_HGRID) ? 1 : 0);
    if (!m_images.isNull())
        m_rowHeight = std::max(m_rowHeight, m_images.imageHeight());
    m_checkSize = QSize(m_rowHeight - 2, m_rowHeight - 2);
    m_model.setRowHeight(m_rowHeight);
}

void CReportCtrl::layout()
{
    if (m_inLayout)
        return;
    m_inLayout = true;
    const int headerHeight = (m_style & RCS_NOHEADER) ? 0 : m_header->layoutHeight();
    const int vbarWidth = m_vbar->sizeHint().width();
    const int hbarHeight = m_hbar->sizeHint().height();
    bool needV = false;
    bool needH = false;
    // Showing one scroll bar can make the other necessary: settle in two rounds.
    for (int round = 0; round < 2; ++round) {
        m_rowArea = QRect(0, headerHeight, std::max(0, width() - (needV ? vbarWidth : 0)),
                          std::max(0, height() - headerHeight - (needH ? hbarHeight : 0)));
        m_model.setViewHeight(m_rowArea.height());
        needV = bottomPosition() > 0;
        needH = m_totalWidth > m_rowArea.width();
    }
    m_rowArea = QRect(0, headerHeight, std::max(0, width() - (needV ? vbarWidth : 0)),
                      std::max(0, height() - headerHeight - (needH ? hbarHeight : 0)));
    m_model.setViewHeight(m_rowArea.height());

    m_hpos = std::clamp(m_hpos, 0, std::max(0, m_totalWidth - m_rowArea.width()));
    m_hbar->setRange(0, std::max(0, m_totalWidth - m_rowArea.width()));
    m_hbar->setPageStep(std::max(1, m_rowArea.width()));
    m_hbar->setSingleStep(std::max(1, m_rowArea.width() / 8));
    m_hbar->setValue(m_hpos);
    m_hbar->setGeometry(0, height() - hbarHeight, m_rowArea.width(), hbarHeight);
    m_hbar->setVisible(needH);

    const int bottom = bottomPosition();
    m_model.clampFirst();
    m_vbar->setRange(0, bottom);
    m_vbar->setPageStep(std::max(1, rowsThatFit(firstVisible(), false, false)));
    m_vbar->setSingleStep(1);
    m_vbar->setValue(firstVisible());
    m_vbar->setGeometry(width() - vbarWidth, headerHeight, vbarWidth, m_rowArea.height());
    m_vbar->setVisible(needV);

    m_header->setGeometry(-m_hpos, 0, std::max(m_totalWidth, m_rowArea.width() + m_hpos) + (needV ? vbarWidth : 0),
                          headerHeight);
    m_header->setVisible(!(m_style & RCS_NOHEADER));
    m_inLayout = false;
    update();
}

void CReportCtrl::updateVerticalRange()
{
    if (m_inLayout)
        return;
    const int bottom = bottomPosition();
    if ((bottom > 0) != m_vbar->isVisibleTo(this)) {
        layout();
        return;
    }
    m_model.clampFirst();
    if (m_vbar->maximum() != bottom || m_vbar->value() != firstVisible()) {
        m_inLayout = true;
        m_vbar->setRange(0, bottom);
        m_vbar->setPageStep(std::max(1, rowsThatFit(firstVisible(), false, false)));
        m_vbar->setValue(firstVisible());
        m_inLayout = false;
        update();
    }
}

void CReportCtrl::scrollToPosition(int position)
{
    const int before = firstVisible();
    m_model.scrollTo(position);
    if (firstVisible() == before && m_vbar->value() == before)
        return;
    showModelScroll();
}

void CReportCtrl::showModelScroll()
{
    if (m_vbar->value() != firstVisible() ||
        m_vbar->pageStep() != std::max(1, rowsThatFit(firstVisible(), false, false))) {
        m_inLayout = true;
        m_vbar->setPageStep(std::max(1, rowsThatFit(firstVisible(), false, false)));
        m_vbar->setValue(firstVisible());
        m_inLayout = false;
    }
    update();
}

void CReportCtrl::setHorizontalPosition(int pos)
{
    const int p = std::clamp(pos, 0, std::max(0, m_totalWidth - m_rowArea.width()));
    if (p == m_hpos)
        return;
    m_hpos = p;
    layout();
}

void CReportCtrl::resizeEvent(QResizeEvent*)
{
    layout();
}

void CReportCtrl::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        m_header->setFont(font());
        updateMetrics();
        layout();
    } else if (event->type() == QEvent::PaletteChange) {
        update();
    }
    QWidget::changeEvent(event);
}

void CReportCtrl::focusInEvent(QFocusEvent*)
{
    update();
}
void CReportCtrl::focusOutEvent(QFocusEvent*)
{
    update();
}
bool CReportCtrl::focusNextPrevChild(bool)
{
    return false;
} // the control wants every key, Tab too

bool CReportCtrl::modifyStyle(int remove, int add)
{
    m_style = (m_style & ~remove) | add;
    m_model.setSingleSelection(m_style & RCS_SINGLESEL);
    updateMetrics();
    layout();
    return true;
}

bool CReportCtrl::setProperty(int id, std::intptr_t value)
{
    switch (id) {
    case RC_PROPERTY_SPACING:
        m_spacing = static_cast<int>(value);
        break;
    case RC_PROPERTY_CHECKSIZE:
        m_checkSize = QSize(static_cast<int>(value & 0xFFFF), static_cast<int>((value >> 16) & 0xFFFF));
        break;
    case RC_PROPERTY_EMPTYTEXT:
        // value: a null-terminated code page 932 text, or 0 for none.
        m_emptyText = value ? std::string(reinterpret_cast<const char*>(value)) : std::string();
        break;
    case RC_PROPERTY_GRIDPEN:
        m_gridStyle = value == 0 ? Qt::DotLine : value == 1 ? Qt::DashLine : Qt::SolidLine;
        break;
    default:
        return false;
    }
    update();
    return true;
}

QColor CReportCtrl::backgroundColor() const
{
    return palette().color(QPalette::Base);
}
QColor CReportCtrl::textColor() const
{
    return palette().color(QPalette::Text);
}

// ---- columns ----

const ReportSubItem* CReportCtrl::subItem(int id) const
{
    if (id < 0 || id >= subItemCount())
        return nullptr;
    return &m_subItems[static_cast<std::size_t>(id)];
}

int CReportCtrl::headerIndexOf(int subItem) const
{
    for (int i = 0; i < m_header->itemCount(); ++i)
        if (m_header->item(i)->data == subItem)
            return i;
    return -1;
}

std::vector<int> CReportCtrl::shownSubItems() const
{
    std::vector<int> ids;
    for (int index : m_header->orderArray())
        ids.push_back(static_cast<int>(m_header->item(index)->data));
    return ids;
}

int CReportCtrl::defineSubItem(int position, const ReportSubItem& subItem, bool refreshChooser)
{
    const int count = subItemCount();
    if (position < 0 || position > count)
        position = count;
    try {
        m_subItems.insert(m_subItems.begin() + position, subItem);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (!m_model.insertCells(position)) {
        m_subItems.erase(m_subItems.begin() + position);
        return -1;
    }
    for (int i = 0; i < m_header->itemCount(); ++i)
        if (m_header->item(i)->data >= position)
            m_header->setItemData(i, m_header->item(i)->data + 1);
    m_columnsChanged = true;
    if (refreshChooser)
        refillChooser();
    update();
    return position;
}

bool CReportCtrl::undefineSubItem(int id)
{
    if (id < 0 || id >= subItemCount())
        return false;
    deactivateSubItem(id);
    m_subItems.erase(m_subItems.begin() + id);
    m_model.eraseCells(id);
    for (int i = 0; i < m_header->itemCount(); ++i)
        if (m_header->item(i)->data > id)
            m_header->setItemData(i, m_header->item(i)->data - 1);
    m_columnsChanged = true;
    refillChooser();
    update();
    return true;
}

int CReportCtrl::activateSubItem(int id, int position)
{
    if (id < 0 || id >= subItemCount() || headerIndexOf(id) >= 0)
        return -1;
    const ReportSubItem& def = m_subItems[static_cast<std::size_t>(id)];
    HeaderItem item;
    item.width = def.width < 0 ? kDefaultColumnWidth : def.width;
    item.format = def.format & (HDF_JUSTIFYMASK | HDF_IMAGE | HDF_STRING);
    item.data = id;
    if (def.format & RVCF_TEXT)
        item.text = def.text;
    if (def.format & RVCF_IMAGE)
        item.image = def.image;
    const int index = m_header->insertItem(m_header->itemCount(), item, position);
    if (index < 0)
        return -1;
    m_totalWidth += item.width;
    HeaderItemExtra extra;
    extra.flags = (def.format & RVCF_EXTRAFLAGS) >> 16;
    extra.minWidth = def.extra1;
    // A maximum of 0 (a definition that leaves its extras at zero) would clamp the column to
    // nothing: only a positive maximum limits the width.
    extra.maxWidth = def.extra2 > 0 ? def.extra2 : -1;
    // The extras can change the width (fit to content, limits); the header reports it back.
    m_header->setItemExtra(index, extra);
    m_columnsChanged = true;
    refillChooser();
    layout();
    return index;
}

bool CReportCtrl::deactivateSubItem(int id)
{
    const int index = headerIndexOf(id);
    if (index < 0)
        return false;
    m_totalWidth -= m_header->item(index)->width;
    m_header->deleteItem(index);
    m_columnsChanged = true;
    refillChooser();
    layout();
    return true;
}

void CReportCtrl::refreshHeaderOrder()
{
    if (!m_columnsChanged)
        return;
    m_headerOrder = m_header->orderArray();
    m_columnsChanged = false;
    refillChooser();
}

void CReportCtrl::refillChooser()
{
    if (m_chooser)
        m_chooser->refill();
}

void CReportCtrl::setSubItemList(QListWidget* list)
{
    m_chooser.reset();
    if (list)
        m_chooser = std::make_unique<ReportColumnChooser>(this, list);
    // A heading dragged onto the chooser hides its column.
    m_header->setProperty(FH_PROPERTY_DROPTARGET, reinterpret_cast<std::intptr_t>(static_cast<QWidget*>(list)));
    refillChooser();
}

QListWidget* CReportCtrl::subItemList() const
{
    return m_chooser ? m_chooser->list() : nullptr;
}

std::intptr_t CReportCtrl::onHeaderNotify(HeaderNotification& n)
{
    switch (n.code) {
    case HDN_ITEMCHANGED: {
        const HeaderItem* it = m_header->item(n.item);
        if (!it)
            return 0;
        const auto id = static_cast<std::size_t>(it->data);
        if (id < m_subItems.size()) {
            if (n.changed & HDI_FORMAT)
                m_subItems[id].format = (m_subItems[id].format & ~RVCF_JUSTIFYMASK) | (it->format & HDF_JUSTIFYMASK);
            if (n.changed & HDI_WIDTH)
                m_subItems[id].width = it->width;
        }
        if (n.changed & HDI_WIDTH) {
            m_totalWidth = m_header->totalWidth();
            layout();
        }
        return 0;
    }
    case HDN_ITEMCLICK: {
        const HeaderItem* it = m_header->item(n.item);
        if (!it)
            return 0;
        ReportNotification rn;
        rn.code = RCN_COLUMNCLICK;
        rn.subItem = static_cast<int>(it->data);
        if (notify(rn) != 0 || (m_style & RCS_NOSORT))
            return 0;
        bool ascending = true;
        const int sorted = m_header->sortColumn(&ascending);
        sortItems(rn.subItem, !(sorted == n.item && ascending));
        return 0;
    }
    case HDN_ENDDRAG: {
        const HeaderItem* it = m_header->item(n.item);
        if (it && m_header->dragState() != 0 && (m_style & RCS_REMOVECOLUMNS) && m_header->itemCount() > 1) {
            deactivateSubItem(static_cast<int>(it->data));
            return 1; // the header must not move an item that is gone
        }
        m_columnsChanged = true;
        update();
        return 0;
    }
    default:
        return 0;
    }
}

// ---- rows ----

int CReportCtrl::insertItem(const ReportItem& item)
{
    const int row = m_model.insertRow(item.item, m_subItems.size());
    if (row < 0)
        return -1;
    ReportItem applied = item;
    applied.item = row;
    if (applied.subItem < 0)
        applied.subItem = 0;
    applyItem(applied, row);
    updateVerticalRange();
    // Rows in view moved down when the new one went in above or among them.
    if (row < firstVisible() + std::max(1, rowsThatFit(firstVisible(), false, true)))
        update();
    return row;
}

int CReportCtrl::insertItem(int row, std::string_view text, int image, int check, int textColor)
{
    ReportItem item;
    item.item = row;
    item.subItem = 0;
    item.mask = RCIF_TEXT | RCIF_IMAGE | RCIF_CHECK | RCIF_TEXTCOLOR;
    item.text = std::string(text);
    item.image = image;
    item.check = check;
    item.textColor = textColor;
    return insertItem(item);
}

bool CReportCtrl::setItem(const ReportItem& item)
{
    if (item.item < 0 || item.item >= itemCount())
        return false;
    return applyItem(item, positionOf(item.item));
}

bool CReportCtrl::setVirtualItems(int count, ItemProvider provider)
{
    m_itemProvider = std::move(provider);
    const bool done = m_model.setVirtualRows(count);
    layout();
    update();
    return done;
}

bool CReportCtrl::applyItem(const ReportItem& item, int position)
{
    if (m_model.isVirtual()) {
        // The owner keeps what a virtual row shows; only the focus lives here.
        if ((item.mask & RCIF_STATE) && (item.state & RCIS_FOCUSED) && position != focusedPosition())
            m_model.moveFocusMark(position);
        if (m_model.positionInView(position))
            update();
        return true;
    }
    Row& row = m_model.row(item.item);
    const int cellMask = RCIF_TEXT | RCIF_TEXTCOLOR | RCIF_IMAGE | RCIF_CHECK;
    if (item.mask & cellMask) {
        if (item.subItem < 0 || item.subItem >= subItemCount())
            return false;
        ReportCell& cell = row.cells[static_cast<std::size_t>(item.subItem)];
        if (item.mask & RCIF_TEXT)
            cell.text = cutCellText(item.text);
        if (item.mask & RCIF_TEXTCOLOR)
            cell.textColor = item.textColor;
        if (item.mask & RCIF_IMAGE)
            cell.image = item.image;
        if (item.mask & RCIF_CHECK)
            cell.check = item.check;
    }
    if (item.mask & RCIF_BKCOLOR)
        row.background = item.background;
    if (item.mask & RCIF_DATA)
        row.data = item.data;
    if (item.mask & RCIF_STATE) {
        // One row at most carries the focus mark: setting it here moves the focus.
        if ((item.state & RCIS_FOCUSED) && position != focusedPosition())
            m_model.moveFocusMark(position);
        row.state = item.state;
    }
    if ((item.mask & RCIF_PREVIEW) && row.preview != std::max(0, item.preview)) {
        row.preview = std::max(0, item.preview);
        updateVerticalRange();
    }
    if (m_model.positionInView(position))
        update();
    return true;
}

bool CReportCtrl::getItem(ReportItem& item) const
{
    if (item.item < 0 || item.item >= itemCount() || item.subItem < 0 || item.subItem >= subItemCount())
        return false;
    if (m_model.isVirtual()) {
        item.mask = 0;
        item.text.clear();
        item.textColor = -1;
        item.image = -1;
        item.check = -1;
        item.background = -1;
        item.preview = 0;
        item.state = 0;
        if (m_itemProvider)
            m_itemProvider(item);
        item.text = cutCellText(item.text, item.textMax ? item.textMax : kMaxCellText);
        item.state = (item.state & RCIS_BOLD) | m_model.rowState(item.item);
        item.data = item.item;
        item.mask |= RCIF_STATE | RCIF_DATA;
        return true;
    }
    const Row& row = m_model.row(item.item);
    const ReportCell& cell = row.cells[static_cast<std::size_t>(item.subItem)];
    item.mask = 0;
    item.text = cutCellText(cell.text, item.textMax ? item.textMax : kMaxCellText);
    if (!item.text.empty())
        item.mask |= RCIF_TEXT;
    item.textColor = cell.textColor;
    if (cell.textColor >= 0)
        item.mask |= RCIF_TEXTCOLOR;
    item.image = cell.image;
    if (cell.image >= 0)
        item.mask |= RCIF_IMAGE;
    item.check = cell.check;
    if (cell.check >= 0)
        item.mask |= RCIF_CHECK;
    item.background = row.background;
    if (row.background >= 0)
        item.mask |= RCIF_BKCOLOR;
    item.preview = row.preview;
    if (row.preview != 0)
        item.mask |= RCIF_PREVIEW;
    item.state = row.state;
    item.data = row.data;
    item.mask |= RCIF_STATE | RCIF_DATA;
    return true;
}

std::string CReportCtrl::getItemText(int row, int subItem) const
{
    ReportItem item;
    item.item = row;
    item.subItem = subItem;
    return getItem(item) ? item.text : std::string();
}

bool CReportCtrl::deleteItem(int row)
{
    if (!m_model.deleteRow(row))
        return false;
    updateVerticalRange();
    update();
    return true;
}

bool CReportCtrl::deleteFirstItems(int count)
{
    if (!m_model.deleteFirstRows(count))
        return false;
    if (count > 0) {
        updateVerticalRange();
        update();
    }
    return true;
}

bool CReportCtrl::deleteAllItems()
{
    m_model.clear();
    layout();
    return true;
}

// ---- colours and images ----

int CReportCtrl::insertColor(int index, const QColor& color)
{
    // Colours are drawn as true colour; there is no palette to realise.
    if (colorCount() >= kMaxColors)
        return -1;
    index = std::clamp(index, 0, colorCount());
    m_colors.insert(m_colors.begin() + index, color);
    update();
    return index;
}

bool CReportCtrl::deleteColor(int index)
{
    if (index < 0 || index >= colorCount())
        return false;
    m_colors.erase(m_colors.begin() + index);
    update();
    return true;
}

void CReportCtrl::setImageList(const ImageList& images)
{
    m_images = images;
    m_header->setImageList(images);
    updateMetrics();
    layout();
}

// ---- hit testing and mouse ----

int CReportCtrl::hitTest(ReportHitTest& hit) const
{
    hit.flags = 0;
    hit.item = -1;
    hit.subItem = -1;
    const QPoint pt = hit.point;
    if (!m_rowArea.contains(pt)) {
        if (pt.y() < m_rowArea.top())
            hit.flags |= RCHT_ABOVE;
        if (pt.y() > m_rowArea.bottom())
            hit.flags |= RCHT_BELOW;
        if (pt.x() < m_rowArea.left())
            hit.flags |= RCHT_TOLEFT;
        if (pt.x() > m_rowArea.right())
            hit.flags |= RCHT_TORIGHT;
        return -1;
    }
    bool onPreview = false;
    const int position = m_model.positionAt(pt.y() - m_rowArea.top(), &onPreview);
    if (position < 0) {
        hit.flags = RCHT_NOWHERE;
        return -1;
    }
    const int row = rowAt(position);
    hit.item = row;
    if (onPreview) {
        hit.flags = RCHT_ONPREVIEW;
        return row;
    }
    int left = m_rowArea.left() - m_hpos;
    for (int index : m_header->orderArray()) {
        const HeaderItem* it = m_header->item(index);
        if (pt.x() >= left && pt.x() < left + it->width) {
            hit.subItem = static_cast<int>(it->data);
            ReportItem cell;
            cell.item = row;
            cell.subItem = hit.subItem;
            getItem(cell);
            const int format = m_subItems[static_cast<std::size_t>(hit.subItem)].format;
            int mark = left + m_spacing;
            if (!m_images.isNull() && (cell.image >= 0 || (format & RVCF_SUBITEM_IMAGE))) {
                if (cell.image >= 0 && pt.x() < mark + m_images.imageWidth() + m_spacing) {
                    hit.flags = RCHT_ONIMAGE;
                    return row;
                }
                mark += m_images.imageWidth() + m_spacing;
            }
            if (cell.check >= 0 && pt.x() < mark + m_checkSize.width() + m_spacing) {
                hit.flags = RCHT_ONCHECK;
                return row;
            }
            hit.flags = RCHT_ONTEXT;
            return row;
        }
        left += it->width;
    }
    // On the row, right of the last column.
    hit.flags = RCHT_ONTEXT;
    return row;
}

void CReportCtrl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    handlePress(event);
}

ReportNotification CReportCtrl::mouseNotification(int code, QMouseEvent* event) const
{
    ReportNotification n;
    n.code = code;
    n.hit.point = event->position().toPoint();
    hitTest(n.hit);
    n.keyFlags = keyFlags(event->modifiers(), event->buttons() | event->button());
    n.item = n.hit.item;
    n.data = n.hit.item < 0 ? 0 : (m_model.isVirtual() ? n.hit.item : m_model.row(n.hit.item).data);
    return n;
}

void CReportCtrl::handlePress(QMouseEvent* event)
{
    ReportNotification n = mouseNotification(RCN_CLICK, event);
    const ReportHitTest hit = n.hit;
    if (notify(n) != 0 || hit.item < 0 || hit.item >= itemCount())
        return;
    m_model.click(positionOf(hit.item), event->modifiers() & Qt::ShiftModifier,
                  event->modifiers() & Qt::ControlModifier);
    update();
}

void CReportCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    ReportNotification n = mouseNotification(RCN_DBLCLICK, event);
    if (notify(n) != 0)
        handlePress(event);
}

// ---- keyboard and scrolling ----

void CReportCtrl::keyPressEvent(QKeyEvent* event)
{
    using Key = ReportModel::Key;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageDown:
    case Qt::Key_PageUp:
    case Qt::Key_Home:
    case Qt::Key_End: {
        const Key key = event->key() == Qt::Key_Space      ? Key::Space
                        : event->key() == Qt::Key_Up       ? Key::Up
                        : event->key() == Qt::Key_Down     ? Key::Down
                        : event->key() == Qt::Key_PageDown ? Key::PageDown
                        : event->key() == Qt::Key_PageUp   ? Key::PageUp
                        : event->key() == Qt::Key_Home     ? Key::Home
                                                           : Key::End;
        m_model.key(key, shift, ctrl);
        showModelScroll();
        break;
    }
    case Qt::Key_Left:
        setHorizontalPosition(m_hpos - std::max(1, m_rowArea.width() / 8));
        break;
    case Qt::Key_Right:
        setHorizontalPosition(m_hpos + std::max(1, m_rowArea.width() / 8));
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void CReportCtrl::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y() / 40;
    if (steps != 0)
        scrollToPosition(firstVisible() - steps);
    event->accept();
}

bool CReportCtrl::ensureVisible(int row, bool partialOk)
{
    const int before = firstVisible();
    if (!m_model.ensureVisible(row, partialOk))
        return false;
    if (firstVisible() != before || m_vbar->value() != before)
        showModelScroll();
    return true;
}

// ---- sorting ----

int CReportCtrl::compareItems(int subItem, int row1, int row2)
{
    if (m_comparer)
        return m_comparer(subItem, row1, row2);
    // The cells' own texts, not copies: a sort compares n log n times.
    auto text = [&](int row) -> std::string_view {
        if (row < 0 || row >= itemCount() || subItem < 0 || subItem >= subItemCount())
            return {};
        return m_model.row(row).cells[static_cast<std::size_t>(subItem)].text;
    };
    if (m_model.isVirtual()) {
        const std::string a = m_textProvider ? m_textProvider(row1, subItem) : std::string();
        return compareCp932(a, m_textProvider ? m_textProvider(row2, subItem) : std::string());
    }
    return compareCp932(text(row1), text(row2));
}

bool CReportCtrl::sortItems(int subItem, bool ascending)
{
    const int headerIndex = headerIndexOf(subItem);
    if (headerIndex < 0)
        return false;
    const int before = firstVisible();
    m_model.sort([&](int a, int b) { return compareItems(subItem, a, b); }, ascending);
    m_header->setSortColumn(headerIndex, ascending);
    if (firstVisible() != before || m_vbar->value() != before)
        showModelScroll();
    update();
    return true;
}

// ---- saved layout ----

std::string CReportCtrl::columnLayout() const
{
    const std::vector<int> shown = shownSubItems();
    std::string text = "(" + std::to_string(subItemCount()) + "," + std::to_string(shown.size()) + ")";
    for (const ReportSubItem& s : m_subItems)
        text += " " + std::to_string(s.width);
    for (int id : shown)
        text += " " + std::to_string(id);
    return text;
}

bool CReportCtrl::writeProfile(std::string_view section, std::string_view key) const
{
    return platform::Profile::application().writeString(section, key, columnLayout());
}

// ---- painting ----

bool CReportCtrl::hasFocusForDrawing() const
{
    return hasFocus();
}

void CReportCtrl::paintEvent(QPaintEvent* event)
{
    const qreal dpr = devicePixelRatioF();
    if (m_buffer.size() != size() * dpr) {
        m_buffer = QPixmap(size() * dpr);
        m_buffer.setDevicePixelRatio(dpr);
    }
    const QRect paintArea = event->rect().intersected(m_rowArea);
    if (paintArea.isEmpty() || m_buffer.isNull())
        return;
    {
        QPainter p(&m_buffer);
        p.setClipRect(paintArea);
        p.fillRect(paintArea, backgroundColor());
        QPen gridPen(palette().color(QPalette::Button), 1, m_gridStyle);
        p.setFont(font());
        p.setBackgroundMode(Qt::TransparentMode);
        refreshHeaderOrder();

        if (itemCount() == 0) {
            p.setPen(textColor());
            const QRect band(m_rowArea.left(), m_rowArea.top() + 2, m_rowArea.width(), m_rowHeight);
            p.drawText(band, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                       platform::toQString(m_emptyText));
        } else {
            const int rowLeft = m_rowArea.left() - m_hpos;
            const int rowWidth = std::max(m_totalWidth, m_rowArea.width() + m_hpos);
            int top = m_rowArea.top();
            int p0 = firstVisible();
            for (; p0 < itemCount() && top <= m_rowArea.bottom(); ++p0) {
                const QRect rowRect(rowLeft, top, rowWidth, m_model.rowExtent(p0));
                if (rowRect.intersects(paintArea))
                    drawRow(p, p0, rowRect, paintArea);
                top += rowRect.height();
            }
            p.setPen(gridPen);
            if (m_style & (RCS_HGRID | RCS_VGRID)) {
                p.drawLine(rowLeft, m_rowArea.top(), rowLeft, m_rowArea.bottom());
                p.drawLine(rowLeft + m_totalWidth - 1, m_rowArea.top(), rowLeft + m_totalWidth - 1, m_rowArea.bottom());
            }
            if (m_style & RCS_HGRID)
                for (int y = top + m_rowHeight - 1; y <= m_rowArea.bottom(); y += m_rowHeight)
                    p.drawLine(rowLeft, y, rowLeft + m_totalWidth - 1, y);
            if (m_style & RCS_VGRID) {
                int x = rowLeft;
                for (int index : m_headerOrder) {
                    x += m_header->item(index)->width;
                    p.drawLine(x - 1, m_rowArea.top(), x - 1, m_rowArea.bottom());
                }
            }
        }
    }
    QPainter w(this);
    w.drawPixmap(paintArea, m_buffer, QRectF(paintArea.topLeft() * dpr, paintArea.size() * dpr));
}

void CReportCtrl::drawRow(QPainter& p, int position, QRect rowRect, const QRect& paintArea)
{
    const int rowIndex = rowAt(position);
    // A virtual row has no row object: its looks come through getItem.
    Row looks;
    if (m_model.isVirtual()) {
        ReportItem first;
        first.item = rowIndex;
        first.subItem = 0;
        getItem(first);
        looks.state = first.state;
        looks.data = first.data;
    }
    const Row& row = m_model.isVirtual() ? looks : m_model.row(rowIndex);
    const bool focused = hasFocusForDrawing();
    const bool selected = row.state & RCIS_SELECTED;
    const QPalette& pal = palette();
    QColor bg = backgroundColor();
    if (row.background >= 0 && row.background < colorCount())
        bg = m_colors[static_cast<std::size_t>(row.background)];
    else if ((m_style & RCS_ALTROWS) && (position & 1) && colorCount() > 0)
        bg = m_colors[0];
    if (selected && focused)
        bg = pal.color(QPalette::Highlight);
    else if (selected && (m_style & RCS_SHOWSELALWAYS))
        bg = pal.color(QPalette::Button);
    p.fillRect(rowRect, bg);
    p.setBackground(bg);
    p.setFont((row.state & RCIS_BOLD) ? m_boldFont : font());

    int x = rowRect.left();
    for (int index : m_headerOrder) {
        const HeaderItem* it = m_header->item(index);
        if (!it)
            continue;
        const int w = it->width;
        if (x > paintArea.right())
            break;
        if (x + w > paintArea.left()) {
            ReportItem cell;
            cell.item = rowIndex;
            cell.subItem = static_cast<int>(it->data);
            getItem(cell);
            if (cell.text.empty() && m_textProvider) {
                cell.text = m_textProvider(rowIndex, cell.subItem);
                if (!cell.text.empty())
                    cell.mask |= RCIF_TEXT;
            }
            const bool ownColor = cell.textColor >= 0 && cell.textColor < colorCount();
            QColor fg = ownColor ? m_colors[static_cast<std::size_t>(cell.textColor)] : textColor();
            if (selected && focused) {
                if (!((m_style & RCS_KEEPCOLORS) && ownColor))
                    fg = pal.color(QPalette::HighlightedText);
            } else if (selected && (m_style & RCS_SHOWSELALWAYS)) {
                if (!((m_style & RCS_KEEPCOLORS) && ownColor))
                    fg = pal.color(QPalette::Text);
            }
            // The row's own colour stays; its text is made readable on it.
            p.setPen(controls::legibleOn(fg, bg));
            drawCell(p, QRect(x + m_spacing, rowRect.top(), w - 2 * m_spacing, m_rowHeight), cell);
        }
        x += w;
    }
    if (row.preview > 0 && m_notifier) {
        ReportNotification n;
        n.code = RCN_DRAWPREVIEW;
        n.item = rowIndex;
        n.state = row.state;
        n.painter = &p;
        n.rect = QRect(rowRect.left(), rowRect.top() + m_rowHeight, rowRect.width(), row.preview);
        n.data = row.data;
        p.save();
        notify(n);
        p.restore();
    }
    if (m_style & RCS_HGRID) {
        p.setPen(QPen(pal.color(QPalette::Button), 1, m_gridStyle));
        p.drawLine(rowRect.left(), rowRect.bottom(), rowRect.left() + m_totalWidth - 1, rowRect.bottom());
    }
    if (focused && (row.state & RCIS_FOCUSED)) {
        QRect fr = rowRect.adjusted(0, 0, -1, -1);
        if (m_style & (RCS_HGRID | RCS_VGRID))
            fr.adjust(1, 0, -1, -1);
        p.setPen(QPen(pal.color(QPalette::Text), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(fr);
    }
}

void CReportCtrl::drawCell(QPainter& p, QRect rect, const ReportItem& item)
{
    const ReportSubItem* def = subItem(item.subItem);
    const int format = def ? def->format : 0;
    int left = rect.left();
    const int right = rect.left() + rect.width();
    auto vtop = [&](int h) { return rect.top() + (rect.height() - h) / 2; };
    if ((item.mask & RCIF_IMAGE) && !m_images.isNull()) {
        if (right - left <= 0)
            return;
        m_images.draw(p, item.image, left, vtop(m_images.imageHeight()), right - left);
        left += m_images.imageWidth() + m_spacing;
    } else if ((format & RVCF_SUBITEM_IMAGE) && !m_images.isNull()) {
        left += m_images.imageWidth() + m_spacing;
    }
    if (item.mask & RCIF_CHECK) {
        if (right - left > m_checkSize.width()) {
            const QRect box(left, vtop(m_checkSize.height()), m_checkSize.width(), m_checkSize.height());
            const QPen pen = p.pen();
            p.fillRect(box, p.background());
            p.drawRect(box.adjusted(0, 0, -1, -1));
            if (item.check != 0) {
                p.drawLine(box.left() + 2, box.center().y(), box.center().x(), box.bottom() - 2);
                p.drawLine(box.center().x(), box.bottom() - 2, box.right() - 2, box.top() + 2);
            }
            p.setPen(pen);
        }
        left += m_checkSize.width() + m_spacing;
    } else if (format & RVCF_SUBITEM_CHECK) {
        left += m_checkSize.width() + m_spacing;
    }
    if (!(item.mask & RCIF_TEXT) || right - left <= 0)
        return;
    const int align = format & RVCF_JUSTIFYMASK;
    const Qt::Alignment a = align == RVCF_RIGHT    ? Qt::AlignRight
                            : align == RVCF_CENTER ? Qt::AlignHCenter
                                                   : Qt::AlignLeft;
    const QFontMetrics fm(p.font());
    const QString text = fm.elidedText(platform::toQString(item.text), Qt::ElideRight, right - left);
    p.drawText(QRect(left, rect.top(), right - left, rect.height()), int(a | Qt::AlignVCenter | Qt::TextSingleLine),
               text);
}

} // namespace orvalink::controls
