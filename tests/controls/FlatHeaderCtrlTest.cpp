#include "controls/CFlatHeaderCtrl.h"
#include "controls/CFlatHeaderDropWnd.h"
#include "controls/ControlsTestSupport.h"
#include "platform/TextCodec.h"

#include <QListWidget>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <vector>

namespace orvalink::controls {

namespace {

class FlatHeaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->resize(600, 300);
        header = new CFlatHeaderCtrl(window.get(), HDS_BUTTONS | HDS_DRAGDROP);
        header->setNotifier([this](HeaderNotification& n) {
            codes.push_back(n.code);
            items.push_back(n.item);
            return refuse.count(n.code) ? 1 : 0;
        });
        for (int i = 0; i < 3; ++i) {
            HeaderItem it;
            it.width = 100;
            it.format = HDF_STRING;
            it.text = "Col" + std::to_string(i);
            it.data = i;
            header->insertItem(i, it);
        }
        header->setGeometry(0, 50, 500, header->layoutHeight());
        showActive(window.get());
    }
    QPoint itemCentre(int index) const { return header->itemRect(index).center(); }
    int count(int code) const { return static_cast<int>(std::count(codes.begin(), codes.end(), code)); }

    std::unique_ptr<QWidget> window;
    CFlatHeaderCtrl* header = nullptr;
    std::vector<int> codes;
    std::vector<int> items;
    std::set<int> refuse;
};

TEST_F(FlatHeaderTest, HotDividerPlacesTheMarkerOrRemovesIt)
{
    const int h = header->height();
    struct Case {
        int position;
        int expected;
        int markerCentreX; // header coordinates, -1 = no marker
    } cases[] = {
        {0, 0, -1},     // left edge - 1 of the first item
        {1, 1, 99},     // left edge - 1 of the second item
        {3, 3, 300},    // item count: right edge of the last item
        {4, -1, -1000}, // count + 1: there is no item there to drop before
        {5, -1, -1000}, // count + 2 removes it
        {-1, -1, -1000},
    };
    for (const Case& c : cases) {
        header->setHotDivider(1); // a marker exists before each request
        EXPECT_EQ(header->setHotDivider(c.position), c.expected) << c.position;
        EXPECT_EQ(header->hotDivider(), c.expected);
        QWidget* marker = header->dropMarker();
        if (c.markerCentreX == -1000) {
            EXPECT_EQ(marker, nullptr) << c.position;
            continue;
        }
        ASSERT_NE(marker, nullptr) << c.position;
        EXPECT_EQ(marker->size(), QSize(CFlatHeaderDropWnd::kWidth, h + 20));
        const QPoint globalDivider = header->mapToGlobal(QPoint(c.markerCentreX, 0));
        EXPECT_EQ(marker->x() + CFlatHeaderDropWnd::kWidth / 2, globalDivider.x()) << c.position;
        // Sticks out 10 pixels above and below the header.
        EXPECT_EQ(marker->y(), globalDivider.y() - 10);
    }
}

TEST_F(FlatHeaderTest, DropMarkerIsShapedAsTwoArrows)
{
    header->setHotDivider(0);
    QWidget* marker = header->dropMarker();
    ASSERT_NE(marker, nullptr);
    const QRegion shape = marker->mask();
    const int h = marker->height();
    EXPECT_TRUE(shape.contains(QPoint(6, 2)));     // shaft of the top arrow
    EXPECT_TRUE(shape.contains(QPoint(6, 6)));     // its head
    EXPECT_TRUE(shape.contains(QPoint(6, h - 3))); // shaft of the bottom arrow
    EXPECT_FALSE(shape.contains(QPoint(1, 1)));
    EXPECT_FALSE(shape.contains(QPoint(6, h / 2))); // nothing over the header itself
}

TEST_F(FlatHeaderTest, HotDividerByPointUsesTheItemHalves)
{
    struct Case {
        int x;
        int divider;
    } cases[] = {{10, 0}, {60, 1}, {140, 1}, {160, 2}, {290, 3}, {450, -1}};
    for (const Case& c : cases)
        EXPECT_EQ(header->setHotDividerAt(header->mapToGlobal(QPoint(c.x, 5))), c.divider) << c.x;
}

TEST_F(FlatHeaderTest, ExtrasFitToContentAndApplyLimitsUnlessFixed)
{
    HeaderItem message;
    message.format = HDF_STRING;
    message.text = "Message";
    message.width = 300;
    header->insertItem(0, message);
    const int textWidth = header->fontMetrics().horizontalAdvance(QStringLiteral("Message"));
    const int sp = header->spacing();
    const int arrow = header->arrowSize().width();
    struct Case {
        const char* name;
        HeaderItemExtra extra;
        int startWidth;
        int expected;
    } cases[] = {
        {"fit", {HDFX_FITCONTENT, 0, -1}, 300, sp + textWidth + sp},
        {"fit with arrow", {HDFX_FITCONTENT | HDFX_COUNTSORTARROW, 0, -1}, 300, sp + arrow + sp + textWidth + sp},
        {"raised to minimum", {0, 150, 200}, 100, 150},
        {"lowered to maximum", {0, 150, 200}, 260, 200},
        {"no limits when maximum < minimum", {0, 150, 100}, 40, 40},
        {"fixed keeps its width", {HDFX_FIXEDWIDTH, 150, 200}, 100, 100},
        {"fixed keeps a wide width", {HDFX_FIXEDWIDTH, 10, 20}, 300, 300},
    };
    for (const Case& c : cases) {
        header->setItemWidth(0, c.startWidth);
        ASSERT_TRUE(header->setItemExtra(0, c.extra)) << c.name;
        EXPECT_EQ(header->item(0)->width, c.expected) << c.name;
        EXPECT_EQ(header->itemExtra(0).flags, c.extra.flags) << c.name;
    }
    EXPECT_FALSE(header->setItemExtra(header->itemCount(), {}));
}

TEST_F(FlatHeaderTest, ExtraHeightAddsTwiceTheBorder)
{
    const int plain = header->layoutHeight();
    header->setProperty(FH_PROPERTY_EXTRAHEIGHT, 1);
    EXPECT_EQ(header->layoutHeight(), plain + 2 * CFlatHeaderCtrl::kBorderWidth);
    header->setProperty(FH_PROPERTY_EXTRAHEIGHT, 0);
    EXPECT_EQ(header->layoutHeight(), plain);
    EXPECT_FALSE(header->setProperty(6, 1));
    header->setProperty(FH_PROPERTY_ARROW, 10 | (12 << 16));
    EXPECT_EQ(header->arrowSize(), QSize(10, 12));
}

TEST_F(FlatHeaderTest, ExtrasFollowInsertAndDelete)
{
    header->setItemExtra(1, {HDFX_FIXEDWIDTH, 0, -1});
    HeaderItem it;
    it.width = 50;
    header->insertItem(0, it);
    EXPECT_EQ(header->itemExtra(2).flags, HDFX_FIXEDWIDTH);
    EXPECT_EQ(header->itemExtra(0).maxWidth, -1);
    header->deleteItem(0);
    EXPECT_EQ(header->itemExtra(1).flags, HDFX_FIXEDWIDTH);
    EXPECT_EQ(header->orderArray(), (std::vector<int>{0, 1, 2}));
}

TEST_F(FlatHeaderTest, ClickReportsTheItemAndDividerDragResizes)
{
    QTest::mouseClick(header, Qt::LeftButton, {}, itemCentre(1));
    ASSERT_EQ(count(HDN_ITEMCLICK), 1);
    EXPECT_EQ(items[std::find(codes.begin(), codes.end(), HDN_ITEMCLICK) - codes.begin()], 1);

    // Divider of item 0 at x = 100: drag it 30 pixels right.
    QTest::mousePress(header, Qt::LeftButton, {}, QPoint(100, 5));
    QTest::mouseMove(header, QPoint(130, 5));
    QTest::mouseRelease(header, Qt::LeftButton, {}, QPoint(130, 5));
    EXPECT_EQ(header->item(0)->width, 130);
    EXPECT_EQ(count(HDN_ITEMCLICK), 1); // resizing is not a click

    // A fixed-width item's divider does not move.
    header->setItemExtra(0, {HDFX_FIXEDWIDTH, 0, -1});
    QTest::mousePress(header, Qt::LeftButton, {}, QPoint(130, 5));
    QTest::mouseMove(header, QPoint(170, 5));
    QTest::mouseRelease(header, Qt::LeftButton, {}, QPoint(170, 5));
    EXPECT_EQ(header->item(0)->width, 130);
    controls::hover(header, QPoint(130, 5));
    EXPECT_EQ(header->cursor().shape(), Qt::ArrowCursor);
    controls::hover(header, QPoint(230, 5));
    EXPECT_EQ(header->cursor().shape(), Qt::SplitHCursor);
}

TEST_F(FlatHeaderTest, DividerDoubleClickIsIgnoredForAFixedWidthItem)
{
    header->setItemExtra(1, {HDFX_FIXEDWIDTH, 0, -1});
    QTest::mouseDClick(header, Qt::LeftButton, {}, QPoint(200, 5)); // divider of item 1
    EXPECT_EQ(count(HDN_DIVIDERDBLCLICK), 0);
    QTest::mouseDClick(header, Qt::LeftButton, {}, QPoint(100, 5)); // divider of item 0
    ASSERT_EQ(count(HDN_DIVIDERDBLCLICK), 1);
    EXPECT_EQ(items.back(), 0);
    EXPECT_EQ(count(HDN_ITEMCLICK), 0);
}

TEST_F(FlatHeaderTest, DraggingAHeadingMovesItInTheOrder)
{
    QTest::mousePress(header, Qt::LeftButton, {}, itemCentre(0));
    QTest::mouseMove(header, itemCentre(0) + QPoint(20, 0));
    ASSERT_EQ(count(HDN_BEGINDRAG), 1);
    ASSERT_NE(header->dragWindow(), nullptr);
    QTest::mouseMove(header, QPoint(280, 5)); // right half of the last item: divider 3
    // The dragged heading follows the cursor with its centre, at the heading's size.
    const QRect drag = header->dragWindow()->geometry();
    EXPECT_EQ(drag.size(), header->itemRect(0).size());
    EXPECT_LE((drag.center() - header->mapToGlobal(QPoint(280, 5))).manhattanLength(), 2);
    EXPECT_EQ(header->dragState(), 0);
    EXPECT_EQ(header->hotDivider(), 3);
    QTest::mouseRelease(header, Qt::LeftButton, {}, QPoint(280, 5));
    EXPECT_EQ(count(HDN_ENDDRAG), 1);
    EXPECT_EQ(header->orderArray(), (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(header->dragWindow(), nullptr);
    EXPECT_EQ(header->dropMarker(), nullptr);
    EXPECT_EQ(count(HDN_ITEMCLICK), 0);
}

TEST_F(FlatHeaderTest, DragStateOverDropTargetElsewhereAndRefusals)
{
    auto* target = new QListWidget(window.get());
    target->setGeometry(0, 150, 200, 100);
    target->show();
    header->setProperty(FH_PROPERTY_DROPTARGET, reinterpret_cast<std::intptr_t>(static_cast<QWidget*>(target)));
    header->setProperty(FH_PROPERTY_DRAGCURSOR, 106);
    QTest::mousePress(header, Qt::LeftButton, {}, itemCentre(1));
    QTest::mouseMove(header, itemCentre(1) + QPoint(20, 0)); // a drag starts over an item
    const QPoint overTarget = header->mapFromGlobal(target->mapToGlobal(QPoint(50, 50)));
    QTest::mouseMove(header, overTarget);
    EXPECT_EQ(header->dragState(), 1);
    EXPECT_EQ(header->cursor().shape(), Qt::ArrowCursor);
    QTest::mouseMove(header, QPoint(400, 120)); // beside the target, off the header
    EXPECT_EQ(header->dragState(), -1);
    EXPECT_EQ(header->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(header->hotDivider(), -1);
    // Next to its own place the heading shows no marker.
    QTest::mouseMove(header, QPoint(120, 5));
    EXPECT_EQ(header->dragState(), 0);
    EXPECT_EQ(header->hotDivider(), -1);
    // The owner refuses the end of the drag: the order stays.
    refuse.insert(HDN_ENDDRAG);
    QTest::mouseMove(header, QPoint(20, 5));
    EXPECT_EQ(header->hotDivider(), 0);
    QTest::mouseRelease(header, Qt::LeftButton, {}, QPoint(20, 5));
    EXPECT_EQ(header->orderArray(), (std::vector<int>{0, 1, 2}));

    // Without the drag-and-drop style a press and move only end in a click.
    header->modifyStyle(HDS_DRAGDROP, 0);
    codes.clear();
    QTest::mousePress(header, Qt::LeftButton, {}, itemCentre(0));
    QTest::mouseMove(header, itemCentre(0) + QPoint(15, 0));
    QTest::mouseRelease(header, Qt::LeftButton, {}, itemCentre(0) + QPoint(15, 0));
    EXPECT_EQ(count(HDN_BEGINDRAG), 0);
    EXPECT_EQ(count(HDN_ITEMCLICK), 1);
}

TEST_F(FlatHeaderTest, EtchedSeparatorsBetweenItemsAndARaisedFrame)
{
    QPalette pal = header->palette();
    pal.setColor(QPalette::Button, QColor(200, 200, 200));
    pal.setColor(QPalette::Light, QColor(255, 255, 255));
    pal.setColor(QPalette::Dark, QColor(100, 100, 100));
    header->setPalette(pal);
    const QImage img = controls::grabImage(header);
    const int mid = header->height() / 2;
    const int bottom = header->height() - 1;
    struct Case {
        QPoint at;
        QColor colour;
    } cases[] = {
        {{99, mid}, QColor(100, 100, 100)},  // shadow at the first item's right edge - 1
        {{100, mid}, QColor(255, 255, 255)}, // highlight at its right edge
        {{199, mid}, QColor(100, 100, 100)},
        {{200, mid}, QColor(255, 255, 255)},
        {{299, mid}, QColor(100, 100, 100)}, // right side of the frame
        {{300, mid}, QColor(200, 200, 200)}, // nothing after the last item
        {{0, mid}, QColor(255, 255, 255)},   // left side of the frame
        {{50, 0}, QColor(255, 255, 255)},    // top
        {{50, bottom}, QColor(100, 100, 100)},
        {{99, 1}, QColor(200, 200, 200)}, // separators stop 2 pixels from the edges
    };
    for (const Case& c : cases)
        EXPECT_EQ(img.pixelColor(c.at), c.colour) << c.at.x() << "," << c.at.y();
}

TEST_F(FlatHeaderTest, SortArrowIsDrawnOnTheSortColumn)
{
    const QRect r = header->itemRect(1);
    const QImage before = controls::grabImage(header);
    header->setSortColumn(1, true);
    bool ascending = false;
    EXPECT_EQ(header->sortColumn(&ascending), 1);
    EXPECT_TRUE(ascending);
    const QImage up = controls::grabImage(header);
    header->setSortColumn(1, false);
    const QImage down = controls::grabImage(header);
    // The arrow changes only the sort column's pixels, and the two directions differ.
    EXPECT_EQ(up.copy(header->itemRect(0)), before.copy(header->itemRect(0)));
    EXPECT_NE(up.copy(r), before.copy(r));
    EXPECT_NE(up.copy(r), down.copy(r));
}

} // namespace

} // namespace orvalink::controls
