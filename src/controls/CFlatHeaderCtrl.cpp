#include "controls/CFlatHeaderCtrl.h"

#include "controls/CFlatHeaderDragWnd.h"
#include "controls/CFlatHeaderDropWnd.h"
#include "platform/TextCodec.h"
#include "res/ResourceImages.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <new>

namespace orvalink::controls {

using res::resourceCursor;

CFlatHeaderCtrl::CFlatHeaderCtrl(QWidget* parent, int style) : QWidget(parent), m_style(style)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

CFlatHeaderCtrl::~CFlatHeaderCtrl() = default;

void CFlatHeaderCtrl::modifyStyle(int remove, int add)
{
    m_style = (m_style & ~remove) | add;
    update();
}

int CFlatHeaderCtrl::insertItem(int index, const HeaderItem& item, int position)
{
    const int count = itemCount();
    index = std::clamp(index, 0, count);
    if (position < 0 || position > count)
        position = std::min(index, count);
    const auto oldOrder = m_order;
    try {
        m_items.insert(m_items.begin() + index, item);
        try {
            m_extras.insert(m_extras.begin() + index, HeaderItemExtra{});
        } catch (const std::bad_alloc&) {
            m_items.erase(m_items.begin() + index);
            throw;
        }
        for (int& o : m_order)
            if (o >= index)
                ++o;
        m_order.insert(m_order.begin() + position, index);
    } catch (const std::bad_alloc&) {
        if (static_cast<int>(m_extras.size()) > count)
            m_extras.erase(m_extras.begin() + index);
        if (static_cast<int>(m_items.size()) > count)
            m_items.erase(m_items.begin() + index);
        m_order = oldOrder;
        return -1;
    }
    if (m_sortColumn >= index)
        ++m_sortColumn;
    if (m_pressItem >= index)
        ++m_pressItem;
    update();
    return index;
}

bool CFlatHeaderCtrl::deleteItem(int index)
{
    if (index < 0 || index >= itemCount())
        return false;
    if (m_dragging && m_pressItem == index)
        endDrag(true);
    m_items.erase(m_items.begin() + index);
    m_extras.erase(m_extras.begin() + index);
    m_order.erase(std::remove(m_order.begin(), m_order.end(), index), m_order.end());
    for (int& o : m_order)
        if (o > index)
            --o;
    if (m_sortColumn == index)
        m_sortColumn = -1;
    else if (m_sortColumn > index)
        --m_sortColumn;
    if (m_pressItem == index)
        m_pressItem = -1;
    else if (m_pressItem > index)
        --m_pressItem;
    if (m_trackItem == index)
        m_trackItem = -1;
    else if (m_trackItem > index)
        --m_trackItem;
    update();
    return true;
}

const HeaderItem* CFlatHeaderCtrl::item(int index) const
{
    if (index < 0 || index >= itemCount())
        return nullptr;
    return &m_items[static_cast<std::size_t>(index)];
}

bool CFlatHeaderCtrl::setItem(int index, const HeaderItem& item, int changed)
{
    if (index < 0 || index >= itemCount())
        return false;
    HeaderItem& target = m_items[static_cast<std::size_t>(index)];
    if (changed & HDI_WIDTH)
        target.width = std::max(0, item.width);
    if (changed & HDI_TEXT)
        target.text = item.text;
    if (changed & HDI_FORMAT) {
        target.format = item.format;
        target.image = item.image;
        target.bitmap = item.bitmap;
    }
    update();
    HeaderNotification n;
    n.code = HDN_ITEMCHANGED;
    n.item = index;
    n.changed = changed;
    notify(n);
    return true;
}

bool CFlatHeaderCtrl::setItemWidth(int index, int width)
{
    HeaderItem w;
    w.width = width;
    return setItem(index, w, HDI_WIDTH);
}

bool CFlatHeaderCtrl::setItemData(int index, std::intptr_t value)
{
    if (index < 0 || index >= itemCount())
        return false;
    m_items[static_cast<std::size_t>(index)].data = value;
    return true;
}

bool CFlatHeaderCtrl::setOrderArray(const std::vector<int>& order)
{
    if (static_cast<int>(order.size()) != itemCount())
        return false;
    std::vector<int> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < itemCount(); ++i)
        if (sorted[static_cast<std::size_t>(i)] != i)
            return false;
    m_order = order;
    update();
    return true;
}

int CFlatHeaderCtrl::orderToIndex(int position) const
{
    if (position < 0 || position >= itemCount())
        return -1;
    return m_order[static_cast<std::size_t>(position)];
}

int CFlatHeaderCtrl::indexToOrder(int index) const
{
    const auto it = std::find(m_order.begin(), m_order.end(), index);
    return it == m_order.end() ? -1 : static_cast<int>(it - m_order.begin());
}

QRect CFlatHeaderCtrl::itemRect(int index) const
{
    int left = 0;
    for (int o : m_order) {
        const int w = m_items[static_cast<std::size_t>(o)].width;
        if (o == index)
            return QRect(left, 0, w, height());
        left += w;
    }
    return {};
}

int CFlatHeaderCtrl::totalWidth() const
{
    int total = 0;
    for (const HeaderItem& i : m_items)
        total += i.width;
    return total;
}

int CFlatHeaderCtrl::hitTest(QPoint point, bool* onDivider) const
{
    if (onDivider)
        *onDivider = false;
    if (point.y() < 0 || point.y() >= height())
        return -1;
    // A divider is grabbed from a few pixels either side of an item's right edge; the later item
    // wins, so that a zero-width item can still be widened again.
    int left = 0;
    int dividerItem = -1;
    int onItem = -1;
    for (int o : m_order) {
        const int right = left + m_items[static_cast<std::size_t>(o)].width;
        if (point.x() >= right - kDividerGrip && point.x() < right + kDividerGrip)
            dividerItem = o;
        if (point.x() >= left && point.x() < right)
            onItem = o;
        left = right;
    }
    if (dividerItem >= 0) {
        if (onDivider)
            *onDivider = true;
        return dividerItem;
    }
    return onItem;
}

void CFlatHeaderCtrl::setImageList(const ImageList& images)
{
    m_images = images;
    update();
}

bool CFlatHeaderCtrl::setProperty(int number, std::intptr_t value)
{
    switch (number) {
    case FH_PROPERTY_SPACING:
        m_spacing = static_cast<int>(value);
        break;
    case FH_PROPERTY_ARROW:
        m_arrowSize = QSize(static_cast<int>(value & 0xFFFF), static_cast<int>((value >> 16) & 0xFFFF));
        break;
    case FH_PROPERTY_EXTRAHEIGHT:
        m_extraHeight = static_cast<int>(value);
        updateGeometry();
        emit heightChanged();
        break;
    case FH_PROPERTY_DRAGCURSOR:
        m_dragCursorId = static_cast<int>(value);
        break;
    case FH_PROPERTY_DROPTARGET:
        m_dropTarget = reinterpret_cast<QWidget*>(value);
        break;
    default:
        return false;
    }
    update();
    return true;
}

std::intptr_t CFlatHeaderCtrl::property(int number) const
{
    switch (number) {
    case FH_PROPERTY_SPACING:
        return m_spacing;
    case FH_PROPERTY_ARROW:
        return m_arrowSize.width() | (m_arrowSize.height() << 16);
    case FH_PROPERTY_EXTRAHEIGHT:
        return m_extraHeight;
    case FH_PROPERTY_DRAGCURSOR:
        return m_dragCursorId;
    case FH_PROPERTY_DROPTARGET:
        return reinterpret_cast<std::intptr_t>(m_dropTarget.data());
    default:
        return 0;
    }
}

int CFlatHeaderCtrl::contentWidth(const HeaderItem& item, bool countArrow) const
{
    int width = m_spacing;
    if ((item.format & HDF_IMAGE) && !m_images.isNull())
        width += m_images.imageWidth() + m_spacing;
    if ((item.format & HDF_BITMAP) && !item.bitmap.isNull())
        width += item.bitmap.width() + m_spacing;
    if (countArrow)
        width += m_arrowSize.width() + m_spacing;
    if (item.format & HDF_STRING)
        width += fontMetrics().horizontalAdvance(platform::toQString(item.text)) + m_spacing;
    return width;
}

bool CFlatHeaderCtrl::setItemExtra(int index, const HeaderItemExtra& extra)
{
    if (index < 0 || index >= itemCount())
        return false;
    m_extras[static_cast<std::size_t>(index)] = extra;
    const HeaderItem& it = m_items[static_cast<std::size_t>(index)];
    int width = it.width;
    if (extra.flags & HDFX_FITCONTENT)
        width = contentWidth(it, (extra.flags & HDFX_COUNTSORTARROW) != 0);
    width = clampWidth(index, width);
    if (width != it.width)
        setItemWidth(index, width);
    return true;
}

HeaderItemExtra CFlatHeaderCtrl::itemExtra(int index) const
{
    if (index < 0 || index >= itemCount())
        return {};
    return m_extras[static_cast<std::size_t>(index)];
}

bool CFlatHeaderCtrl::isFixedWidth(int index) const
{
    return index >= 0 && index < itemCount() && (m_extras[static_cast<std::size_t>(index)].flags & HDFX_FIXEDWIDTH);
}

int CFlatHeaderCtrl::clampWidth(int index, int width) const
{
    const HeaderItemExtra& e = m_extras[static_cast<std::size_t>(index)];
    if (!(e.flags & HDFX_FIXEDWIDTH) && e.maxWidth >= e.minWidth)
        width = std::min(std::max(width, e.minWidth), e.maxWidth);
    return std::max(0, width);
}

void CFlatHeaderCtrl::setSortColumn(int index, bool ascending)
{
    m_sortColumn = index;
    m_sortAscending = ascending;
    update();
}

int CFlatHeaderCtrl::sortColumn(bool* ascending) const
{
    if (ascending)
        *ascending = m_sortAscending;
    return m_sortColumn;
}

int CFlatHeaderCtrl::setHotDividerAt(QPoint globalPoint)
{
    const QPoint local = mapFromGlobal(globalPoint);
    int divider = -1;
    if (local.y() >= 0 && local.y() < height()) {
        int left = 0;
        for (int pos = 0; pos < itemCount(); ++pos) {
            const int w = m_items[static_cast<std::size_t>(m_order[static_cast<std::size_t>(pos)])].width;
            if (local.x() >= left && local.x() < left + w) {
                divider = pos + (local.x() > left + w / 2 ? 1 : 0);
                break;
            }
            left += w;
        }
    }
    return setHotDivider(divider);
}

int CFlatHeaderCtrl::setHotDivider(int position)
{
    // A divider exists from the left of the first item (0) to the right of the last (item count);
    // anything else removes the marker.
    if (position < 0 || position > itemCount()) {
        m_dropMarker.reset();
        m_hotDivider = -1;
        return -1;
    }
    int x = 0;
    if (position < itemCount())
        x = itemRect(orderToIndex(position)).left() - 1;
    else
        x = totalWidth();
    if (!m_dropMarker)
        m_dropMarker = std::make_unique<CFlatHeaderDropWnd>(height());
    const QPoint global = mapToGlobal(QPoint(x, 0));
    m_dropMarker->moveToDivider(global.x(), global.y(), height());
    m_dropMarker->show();
    m_hotDivider = position;
    return position;
}

QWidget* CFlatHeaderCtrl::dropMarker() const
{
    return m_dropMarker.get();
}
QWidget* CFlatHeaderCtrl::dragWindow() const
{
    return m_dragWnd.get();
}

int CFlatHeaderCtrl::layoutHeight() const
{
    return fontMetrics().height() + 6 + (m_extraHeight ? 2 * kBorderWidth : 0);
}

QSize CFlatHeaderCtrl::sizeHint() const
{
    return QSize(totalWidth(), layoutHeight());
}

QCursor CFlatHeaderCtrl::dragCursor(int id)
{
    return id == 0 ? QCursor(Qt::ForbiddenCursor) : resourceCursor(id);
}

std::intptr_t CFlatHeaderCtrl::notify(HeaderNotification& n)
{
    return m_notifier ? m_notifier(n) : 0;
}

void CFlatHeaderCtrl::paintEvent(QPaintEvent* event)
{
    QPixmap buffer(size() * devicePixelRatioF());
    buffer.setDevicePixelRatio(devicePixelRatioF());
    const QPalette& pal = palette();
    const QColor face = pal.color(QPalette::Button);
    const QColor highlight = pal.color(QPalette::Light);
    const QColor shadow = pal.color(QPalette::Dark);
    buffer.fill(face);
    {
        QPainter p(&buffer);
        p.setFont(font());
        p.setPen(pal.color(QPalette::ButtonText));
        const QRect area = event->rect();
        int left = 0;
        const int count = itemCount();
        for (int pos = 0; pos < count; ++pos) {
            const int index = m_order[static_cast<std::size_t>(pos)];
            const HeaderItem& it = m_items[static_cast<std::size_t>(index)];
            const QRect r(left, 0, it.width, height());
            if (r.intersects(area)) {
                if (it.format & HDF_OWNERDRAW) {
                    HeaderNotification n;
                    n.code = HDN_DRAWITEM;
                    n.item = index;
                    n.painter = &p;
                    n.rect = r;
                    notify(n);
                } else {
                    p.save();
                    drawFlatItem(p, r.adjusted(m_spacing, 0, -m_spacing, 0), index, index == m_sortColumn,
                                 m_sortAscending);
                    p.restore();
                }
            }
            left += it.width;
            if (pos + 1 < count) {
                // The etched separator between neighbours.
                p.setPen(shadow);
                p.drawLine(left - 1, 2, left - 1, height() - 3);
                p.setPen(highlight);
                p.drawLine(left, 2, left, height() - 3);
            }
        }
        // The raised frame around all items.
        const int right = left - 1;
        const int bottom = height() - 1;
        p.setPen(highlight);
        p.drawLine(0, 0, right, 0);
        p.drawLine(0, 0, 0, bottom);
        p.setPen(shadow);
        p.drawLine(0, bottom, right, bottom);
        p.drawLine(right, 0, right, bottom);
    }
    QPainter w(this);
    w.drawPixmap(0, 0, buffer);
}

void CFlatHeaderCtrl::drawFlatItem(QPainter& painter, QRect rect, int index, bool sortColumn, bool ascending) const
{
    const HeaderItem* it = item(index);
    if (it)
        drawHeading(painter, rect, *it, sortColumn, ascending);
}

void CFlatHeaderCtrl::drawHeading(QPainter& painter, QRect rect, const HeaderItem& item, bool sortArrow,
                                  bool ascending) const
{
    const QFontMetrics fm(font());
    const int sp = m_spacing;
    const bool hasImage = (item.format & HDF_IMAGE) && !m_images.isNull() && item.image >= 0;
    const bool hasBitmap = (item.format & HDF_BITMAP) && !item.bitmap.isNull();
    const bool bitmapRight = (item.format & HDF_BITMAP_ON_RIGHT) != 0;
    const QString text = (item.format & HDF_STRING) ? platform::toQString(item.text) : QString();
    const int align = item.format & HDF_JUSTIFYMASK;
    const int iw = m_images.imageWidth();
    const int ih = m_images.imageHeight();
    const int aw = m_arrowSize.width();
    const int ah = m_arrowSize.height();
    int left = rect.left();
    int right = rect.left() + rect.width(); // exclusive
    auto top = [&](int h) { return rect.top() + (rect.height() - h) / 2; };

    // The image at the left; an item whose image does not fit shows nothing further.
    auto drawImage = [&]() -> bool {
        if (!hasImage)
            return true;
        const int avail = right - left;
        if (avail > 0)
            m_images.draw(painter, item.image, left, top(ih), avail);
        if (avail < iw)
            return false;
        left += iw + sp;
        return true;
    };
    auto drawBitmapAt = [&](int x) { painter.drawPixmap(x, top(item.bitmap.height()), item.bitmap); };
    auto bitmapAtRight = [&]() {
        if (hasBitmap && right - left >= item.bitmap.width()) {
            drawBitmapAt(right - item.bitmap.width());
            right -= item.bitmap.width() + sp;
        }
    };
    auto arrowAt = [&](int x) { drawArrow(painter, QRect(x, top(ah), aw, ah), ascending); };
    auto drawText = [&](int l, int r, Qt::Alignment a) -> int {
        if (text.isEmpty() || r <= l)
            return 0;
        const QString shown = fm.elidedText(text, Qt::ElideRight, r - l);
        painter.drawText(QRect(l, rect.top(), r - l, rect.height()), int(a | Qt::AlignVCenter | Qt::TextSingleLine),
                         shown);
        return fm.horizontalAdvance(shown);
    };

    if (align == HDF_RIGHT) {
        if (hasBitmap && !bitmapRight && right - left >= item.bitmap.width()) {
            drawBitmapAt(left);
            left += item.bitmap.width() + sp;
        }
        if (!drawImage())
            return;
        if (bitmapRight)
            bitmapAtRight();
        if (sortArrow && right - left >= aw) {
            arrowAt(right - aw);
            right -= aw + sp;
        }
        drawText(left, right, Qt::AlignRight);
    } else if (align == HDF_CENTER) {
        if (!drawImage())
            return;
        bitmapAtRight();
        if (sortArrow && right - left >= aw) {
            arrowAt(right - aw);
            right -= aw + sp;
        }
        drawText(left, right, Qt::AlignHCenter);
    } else {
        if (!drawImage())
            return;
        bitmapAtRight();
        const int textRoom = sortArrow ? right - left - aw - sp : right - left;
        const int drawn = drawText(left, left + textRoom, Qt::AlignLeft);
        const int arrowX = drawn > 0 ? left + drawn + sp : left;
        if (sortArrow && arrowX + aw <= right)
            arrowAt(arrowX);
    }
}

void CFlatHeaderCtrl::drawArrow(QPainter& painter, QRect r, bool ascending) const
{
    const QColor highlight = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    const int l = r.left();
    const int t = r.top();
    const int rr = r.left() + r.width() - 1;
    const int b = r.top() + r.height() - 1;
    const int cx = l + r.width() / 2;
    if (ascending) {
        painter.setPen(shadow);
        painter.drawLine(cx, t, l, b);
        painter.setPen(highlight);
        painter.drawLine(cx, t, rr, b);
        painter.drawLine(l, b, rr, b);
    } else {
        painter.setPen(shadow);
        painter.drawLine(l, t, rr, t);
        painter.drawLine(l, t, cx, b);
        painter.setPen(highlight);
        painter.drawLine(rr, t, cx, b);
    }
}

void CFlatHeaderCtrl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    m_pressPoint = event->position().toPoint();
    m_pressModifiers = event->modifiers();
    m_pressItem = -1;
    m_trackItem = -1;
    bool onDivider = false;
    const int hit = hitTest(m_pressPoint, &onDivider);
    if (hit < 0)
        return;
    if (onDivider) {
        // A fixed-width item's divider does nothing; any other starts resizing.
        if (!isFixedWidth(hit)) {
            m_trackItem = hit;
            m_trackStartWidth = m_items[static_cast<std::size_t>(hit)].width;
        }
        return;
    }
    m_pressItem = hit;
}

void CFlatHeaderCtrl::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const QPoint global = event->globalPosition().toPoint();
    if (!(event->buttons() & Qt::LeftButton) || !m_pressed) {
        bool onDivider = false;
        const int hit = hitTest(pos, &onDivider);
        setCursor(onDivider && !isFixedWidth(hit) ? Qt::SplitHCursor : Qt::ArrowCursor);
        return;
    }
    if (m_trackItem >= 0) {
        setItemWidth(m_trackItem, clampWidth(m_trackItem, m_trackStartWidth + pos.x() - m_pressPoint.x()));
        return;
    }
    if (m_dragging) {
        moveDrag(global);
        return;
    }
    if (m_pressItem >= 0 && (m_style & HDS_DRAGDROP) &&
        (pos - m_pressPoint).manhattanLength() >= QApplication::startDragDistance() && hitTest(pos) >= 0)
        beginDrag(global);
}

void CFlatHeaderCtrl::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressed)
        return;
    m_pressed = false;
    if (m_trackItem >= 0) {
        m_trackItem = -1;
        return;
    }
    if (m_dragging) {
        moveDrag(event->globalPosition().toPoint());
        endDrag(false);
        return;
    }
    const int item = m_pressItem;
    m_pressItem = -1;
    if (item >= 0 && hitTest(event->position().toPoint()) == item) {
        HeaderNotification n;
        n.code = HDN_ITEMCLICK;
        n.item = item;
        notify(n);
    }
}

void CFlatHeaderCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    bool onDivider = false;
    const int hit = hitTest(event->position().toPoint(), &onDivider);
    // The second press of a double click neither sorts again nor starts a drag.
    m_pressed = false;
    m_pressItem = -1;
    if (hit < 0 || !onDivider || isFixedWidth(hit))
        return;
    HeaderNotification n;
    n.code = HDN_DIVIDERDBLCLICK;
    n.item = hit;
    notify(n);
}

void CFlatHeaderCtrl::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && m_dragging) {
        endDrag(true);
        return;
    }
    QWidget::keyPressEvent(event);
}

void CFlatHeaderCtrl::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
        emit heightChanged();
    }
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        update();
    QWidget::changeEvent(event);
}

void CFlatHeaderCtrl::beginDrag(QPoint globalPoint)
{
    HeaderNotification n;
    n.code = HDN_BEGINDRAG;
    n.item = m_pressItem;
    if (notify(n) != 0) {
        m_pressItem = -1;
        return;
    }
    const QRect r = itemRect(m_pressItem);
    m_dragWnd = std::make_unique<CFlatHeaderDragWnd>(QRect(mapToGlobal(r.topLeft()), r.size()), this,
                                                     m_items[static_cast<std::size_t>(m_pressItem)]);
    m_dragWnd->show();
    m_dropTargetRect = QRect();
    if (m_dropTarget && m_dropTarget->isVisible() &&
        (!m_dropTarget->parentWidget() || m_dropTarget->parentWidget()->isVisible()))
        m_dropTargetRect = QRect(m_dropTarget->mapToGlobal(QPoint(0, 0)), m_dropTarget->size());
    m_dragging = true;
    grabMouse();
    moveDrag(globalPoint);
}

void CFlatHeaderCtrl::moveDrag(QPoint globalPoint)
{
    if (m_dragWnd)
        m_dragWnd->centreOn(globalPoint);
    const QPoint local = mapFromGlobal(globalPoint);
    if (rect().contains(local)) {
        m_dragState = 0;
        setCursor(Qt::ArrowCursor);
        const int own = indexToOrder(m_pressItem);
        setHotDividerAt(globalPoint);
        // Dropping next to its own place would not move the heading: no marker there.
        if (m_hotDivider == own || m_hotDivider == own + 1)
            setHotDivider(-1);
    } else if (m_dropTargetRect.contains(globalPoint)) {
        m_dragState = 1;
        setCursor(Qt::ArrowCursor);
        setHotDivider(-1);
    } else {
        m_dragState = -1;
        setCursor(dragCursor(m_dragCursorId));
        setHotDivider(-1);
    }
}

void CFlatHeaderCtrl::endDrag(bool cancelled)
{
    const int item = m_pressItem;
    const int divider = m_hotDivider;
    m_dragging = false;
    m_pressed = false;
    m_pressItem = -1;
    releaseMouse();
    if (!cancelled) {
        HeaderNotification n;
        n.code = HDN_ENDDRAG;
        n.item = item;
        // The owner may delete the item while handling this (a column dragged off the header).
        const bool refused = notify(n) != 0;
        if (!refused && divider >= 0 && item >= 0 && item < itemCount()) {
            const int own = indexToOrder(item);
            const int target = divider > own ? divider - 1 : divider;
            m_order.erase(m_order.begin() + own);
            m_order.insert(m_order.begin() + std::min(target, static_cast<int>(m_order.size())), item);
        }
    }
    m_dragWnd.reset();
    setHotDivider(-1);
    setCursor(Qt::ArrowCursor);
    update();
}

} // namespace orvalink::controls
