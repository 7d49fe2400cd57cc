#pragma once

// The column header of the report control, drawn by itself: a flat face with etched separators,
// per item an image, a bitmap, the text and a sort arrow laid out by the item's alignment; width
// rules per item (fit to content, fixed width, minimum and maximum); a hot divider with a drop
// marker that shows where a dragged column would land; and its own heading drag.
//
// The header is placed by its owner; items are laid out from x = 0 in display order. Clicks,
// divider drags and heading drags are handled here and reported through the notifier.

#include "controls/FlatHeaderTypes.h"
#include "controls/ImageList.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace orvalink::controls {

class CFlatHeaderDragWnd;
class CFlatHeaderDropWnd;

class CFlatHeaderCtrl : public QWidget {
    Q_OBJECT
public:
    using Notifier = std::function<std::intptr_t(HeaderNotification&)>;

    explicit CFlatHeaderCtrl(QWidget* parent = nullptr, int style = HDS_BUTTONS);
    ~CFlatHeaderCtrl() override;

    void setNotifier(Notifier notifier) { m_notifier = std::move(notifier); }
    int style() const { return m_style; }
    void modifyStyle(int remove, int add);

    // Items. An index is the item's position in the item list; the order array maps display
    // positions to indexes.
    int itemCount() const { return static_cast<int>(m_items.size()); }
    // Inserts before index (clamped to the item count) at display position position (-1: at the
    // same position as its index). Returns the new index, or -1 when memory ran out.
    int insertItem(int index, const HeaderItem& item, int position = -1);
    bool deleteItem(int index);
    const HeaderItem* item(int index) const;
    // Sets the fields named by changed (HDI_*) and reports HDN_ITEMCHANGED.
    bool setItem(int index, const HeaderItem& item, int changed);
    bool setItemWidth(int index, int width);
    bool setItemData(int index, std::intptr_t value);
    std::vector<int> orderArray() const { return m_order; }
    bool setOrderArray(const std::vector<int>& order);
    int orderToIndex(int position) const;
    int indexToOrder(int index) const;
    QRect itemRect(int index) const;
    int totalWidth() const;
    // The item under a point in header coordinates and whether the point is on its right divider.
    int hitTest(QPoint point, bool* onDivider = nullptr) const;

    void setImageList(const ImageList& images);
    const ImageList& imageList() const { return m_images; }

    // Properties 1-5; false for an unknown number.
    bool setProperty(int number, std::intptr_t value);
    std::intptr_t property(int number) const;
    int spacing() const { return m_spacing; }
    QSize arrowSize() const { return m_arrowSize; }

    bool setItemExtra(int index, const HeaderItemExtra& extra);
    HeaderItemExtra itemExtra(int index) const;

    void setSortColumn(int index, bool ascending);
    int sortColumn(bool* ascending = nullptr) const;

    // Result of the last heading drag position: 1 over the drop target, -1 elsewhere off the
    // header, 0 over the header.
    int dragState() const { return m_dragState; }

    // Hot divider by a point in global coordinates, or by display position. Shows the drop marker
    // on a divider from 0 to the item count; anything else removes it. Returns the divider.
    int setHotDividerAt(QPoint globalPoint);
    int setHotDivider(int position);
    int hotDivider() const { return m_hotDivider; }
    QWidget* dropMarker() const;
    QWidget* dragWindow() const;

    // The header's height for a given width (the platform layout plus the extra height).
    int layoutHeight() const;
    QSize sizeHint() const override;

    // Draws one item that is not owner-drawn, into rect (already shrunk by the spacing).
    virtual void drawFlatItem(QPainter& painter, QRect rect, int index, bool sortColumn, bool ascending) const;
    // The parts of a heading laid out by its alignment; also used for headings being dragged.
    void drawHeading(QPainter& painter, QRect rect, const HeaderItem& item, bool sortArrow, bool ascending) const;
    // The width the item's content needs (the fit-to-content width).
    int contentWidth(const HeaderItem& item, bool countArrow) const;

    // The cursor shown off the header during a drag: cursor resource id (property 4), or the
    // "not allowed" cursor for 0.
    static QCursor dragCursor(int id);
    // The system border width; property 3 adds twice this to the height.
    static constexpr int kBorderWidth = 1;
    // How far left and right of an item's right edge a press grabs its divider.
    static constexpr int kDividerGrip = 4;

signals:
    // The header's layout height changed (property 3, font); the owner lays out again.
    void heightChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    std::intptr_t notify(HeaderNotification& n);
    void drawArrow(QPainter& painter, QRect rect, bool ascending) const;
    void beginDrag(QPoint globalPoint);
    void moveDrag(QPoint globalPoint);
    void endDrag(bool cancelled);
    bool isFixedWidth(int index) const;
    int clampWidth(int index, int width) const;

    int m_style;
    Notifier m_notifier;
    std::vector<HeaderItem> m_items;
    std::vector<HeaderItemExtra> m_extras;
    std::vector<int> m_order;
    ImageList m_images;

    int m_spacing = 6;
    QSize m_arrowSize{8, 8};
    int m_extraHeight = 0;
    int m_dragCursorId = 0;
    QPointer<QWidget> m_dropTarget;

    int m_sortColumn = -1;
    bool m_sortAscending = true;
    int m_hotDivider = -1;
    int m_dragState = 0;
    std::unique_ptr<CFlatHeaderDropWnd> m_dropMarker;
    std::unique_ptr<CFlatHeaderDragWnd> m_dragWnd;

    // Mouse state between a press and its release.
    bool m_pressed = false;
    QPoint m_pressPoint;
    Qt::KeyboardModifiers m_pressModifiers;
    int m_pressItem = -1;
    int m_trackItem = -1; // item whose divider is being dragged
    int m_trackStartWidth = 0;
    bool m_dragging = false;
    QRect m_dropTargetRect; // global rectangle of the drop target during a drag, or empty
};

} // namespace orvalink::controls
