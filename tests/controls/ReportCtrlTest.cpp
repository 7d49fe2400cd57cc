#include "controls/CFlatHeaderCtrl.h"
#include "controls/CReportCtrl.h"
#include "controls/ControlsTestSupport.h"
#include "controls/TextContrast.h"

#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <vector>

namespace orvalink::controls {

namespace {

using Positions = std::set<int>;

// A control of 50 rows whose heights repeat 1, 2, 3 row heights (preview 0, 1 or 2 row heights),
// in a row area exactly 10 row heights tall.
class ReportCtrlTest : public ::testing::Test {
protected:
    void build(int style, int rows = 50, bool twoColumns = false)
    {
        window = std::make_unique<QWidget>();
        window->resize(600, 700);
        other = new QLineEdit(window.get());
        other->setGeometry(500, 0, 80, 20);
        ctrl = new CReportCtrl(style, window.get(), 7);
        ctrl->setNotifier([this](ReportNotification& n) -> std::intptr_t {
            codes.push_back(n.code);
            if (n.code == RCN_STATECHANGED)
                changed.push_back(n.item);
            return answer ? answer(n) : 0;
        });
        ReportSubItem name;
        name.text = "Name";
        name.width = 300;
        ReportSubItem extra;
        extra.text = "Extra";
        extra.width = 60;
        ctrl->defineSubItem(0, name);
        ctrl->defineSubItem(1, extra);
        ctrl->activateSubItem(0, 0);
        if (twoColumns)
            ctrl->activateSubItem(1, 1);
        r = ctrl->rowHeight();
        for (int i = 0; i < rows; ++i) {
            ReportItem item;
            item.item = i;
            item.subItem = 0;
            item.mask = RCIF_TEXT | RCIF_PREVIEW | RCIF_DATA;
            item.text = "row " + std::to_string(i);
            item.preview = (i % 3) * r;
            item.data = 1000 + i;
            ctrl->insertItem(item);
        }
        ctrl->setGeometry(0, 0, 420, ctrl->rowArea().top() + 10 * r);
        showActive(window.get());
        ctrl->setFocus();
    }
    int extent(int position) const { return (ctrl->rowAt(position) % 3 + 1) * r; }
    int rowTop(int position) const
    {
        int y = ctrl->rowArea().top();
        for (int p = ctrl->firstVisible(); p < position; ++p)
            y += extent(p);
        return y;
    }
    QPoint cellPoint(int position) const { return QPoint(60, rowTop(position) + r / 2); }
    QPoint previewPoint(int position) const { return QPoint(60, rowTop(position) + r + 2); }
    Positions selected() const
    {
        Positions s;
        for (int p = 0; p < ctrl->itemCount(); ++p)
            if (ctrl->rowState(ctrl->rowAt(p)) & RCIS_SELECTED)
                s.insert(p);
        return s;
    }
    Positions focusMarked() const
    {
        Positions s;
        for (int p = 0; p < ctrl->itemCount(); ++p)
            if (ctrl->rowState(ctrl->rowAt(p)) & RCIS_FOCUSED)
                s.insert(p);
        return s;
    }
    void press(const QPoint& pt, Qt::KeyboardModifiers mods = {}) { QTest::mouseClick(ctrl, Qt::LeftButton, mods, pt); }

    std::unique_ptr<QWidget> window;
    QLineEdit* other = nullptr;
    CReportCtrl* ctrl = nullptr;
    int r = 0;
    std::vector<int> codes;
    std::vector<int> changed;
    std::function<std::intptr_t(ReportNotification&)> answer;
};

Positions range(int from, int to)
{
    Positions s;
    for (int i = from; i <= to; ++i)
        s.insert(i);
    return s;
}

struct Stroke {
    int key;
    Qt::KeyboardModifiers mods = Qt::NoModifier;
};

TEST_F(ReportCtrlTest, KeyboardTable)
{
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    const Qt::KeyboardModifiers ctrlKey = Qt::ControlModifier;
    const Stroke down{Qt::Key_Down};
    struct Case {
        const char* name;
        int style;
        std::vector<Stroke> prelude;
        Stroke key;
        int focus;
        Positions selection;
        int anchor;
        int first;
    } cases[] = {
        {"first Down focuses the first row", 0, {}, down, 0, {0}, 0, 0},
        {"Up", 0, {down, down, down}, {Qt::Key_Up}, 1, {1}, 1, 0},
        {"Shift+Down extends from the anchor", 0, {down, down, down}, {Qt::Key_Down, shift}, 3, {2, 3}, 2, 0},
        {"Shift+Up extends upward", 0, {down, down, down, down}, {Qt::Key_Up, shift}, 2, {2, 3}, 3, 0},
        {"Ctrl+Down moves only the focus", 0, {down, down, down}, {Qt::Key_Down, ctrlKey}, 3, {2}, 3, 0},
        {"Ctrl+Up moves only the focus", 0, {down, down, down}, {Qt::Key_Up, ctrlKey}, 1, {2}, 1, 0},
        {"Space adds the focused row",
         0,
         {down, down, down, {Qt::Key_Down, ctrlKey}},
         {Qt::Key_Space},
         3,
         {2, 3},
         3,
         0},
        {"Down past the view scrolls by whole rows", 0, {down, down, down, down, down}, down, 5, {5}, 5, 2},
        {"Down on the last row stays", 0, {{Qt::Key_End}}, down, 49, {49}, 49, 45},
        {"Page Down goes to the last fully visible row", 0, {down}, {Qt::Key_PageDown}, 4, {4}, 4, 0},
        {"Page Down from a middle row", 0, {down, down, down}, {Qt::Key_PageDown}, 4, {4}, 4, 0},
        {"Page Down on the last visible row pages", 0, {down, {Qt::Key_PageDown}}, {Qt::Key_PageDown}, 9, {9}, 9, 5},
        {"Shift+Page Down selects the range", 0, {down}, {Qt::Key_PageDown, shift}, 4, range(0, 4), 0, 0},
        {"Page Up goes to the first visible row", 0, {{Qt::Key_End}}, {Qt::Key_PageUp}, 45, {45}, 45, 45},
        {"Page Up on the first row pages backward",
         0,
         {{Qt::Key_End}, {Qt::Key_PageUp}},
         {Qt::Key_PageUp},
         41,
         {41},
         41,
         41},
        {"Up above the view scrolls",
         0,
         {{Qt::Key_End}, {Qt::Key_PageUp}, {Qt::Key_PageUp}},
         {Qt::Key_Up},
         40,
         {40},
         40,
         40},
        {"End", 0, {down}, {Qt::Key_End}, 49, {49}, 49, 45},
        {"Shift+End selects from the anchor, focus stays there",
         0,
         {down, down, down},
         {Qt::Key_End, shift},
         2,
         range(2, 49),
         2,
         45},
        {"Home", 0, {{Qt::Key_End}}, {Qt::Key_Home}, 0, {0}, 0, 0},
        {"Shift+Home selects up to the anchor", 0, {{Qt::Key_End}}, {Qt::Key_Home, shift}, 0, range(0, 49), 49, 0},
        {"single selection: Shift+Down selects one row",
         RCS_SINGLESEL,
         {down, down, down},
         {Qt::Key_Down, shift},
         3,
         {3},
         2,
         0},
        {"single selection: Space keeps one row",
         RCS_SINGLESEL,
         {down, down, down, {Qt::Key_Down, ctrlKey}},
         {Qt::Key_Space},
         3,
         {3},
         3,
         0},
    };
    for (const Case& c : cases) {
        build(c.style);
        for (const Stroke& s : c.prelude)
            QTest::keyClick(ctrl, static_cast<Qt::Key>(s.key), s.mods);
        QTest::keyClick(ctrl, static_cast<Qt::Key>(c.key.key), c.key.mods);
        EXPECT_EQ(ctrl->focusedPosition(), c.focus) << c.name;
        EXPECT_EQ(selected(), c.selection) << c.name;
        EXPECT_EQ(ctrl->anchorPosition(), c.anchor) << c.name;
        EXPECT_EQ(ctrl->firstVisible(), c.first) << c.name;
        // Exactly one row carries the focus mark, the focused one.
        EXPECT_EQ(focusMarked(), Positions{c.focus}) << c.name;
    }
}

struct Click {
    int position;
    Qt::KeyboardModifiers mods = Qt::NoModifier;
    bool onPreview = false;
};

TEST_F(ReportCtrlTest, MouseTable)
{
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    const Qt::KeyboardModifiers ctrlKey = Qt::ControlModifier;
    struct Case {
        const char* name;
        int style;
        std::vector<Click> clicks;
        int focus;
        Positions selection;
        int anchor;
        bool parentTakesClicks = false;
    } cases[] = {
        {"click selects one row", 0, {{2}}, 2, {2}, 2},
        {"a second click moves the selection", 0, {{1}, {3}}, 3, {3}, 3},
        {"Ctrl+click adds", 0, {{1}, {3, ctrlKey}}, 3, {1, 3}, 3},
        {"Ctrl+click flips a selected row off", 0, {{1}, {1, ctrlKey}}, 1, {}, 1},
        {"Shift+click selects the range, focus to the anchor", 0, {{1}, {3, shift}}, 1, {1, 2, 3}, 1},
        {"Shift+click shrinks the range", 0, {{1}, {4, shift}, {2, shift}}, 1, {1, 2}, 1},
        {"Ctrl+Shift+click adds a range", 0, {{0}, {4, ctrlKey}, {2, ctrlKey | shift}}, 2, {0, 2, 3, 4}, 2},
        {"a click on the preview area selects the row", 0, {{1, {}, true}}, 1, {1}, 1},
        {"single selection: Ctrl+click selects only the clicked row", RCS_SINGLESEL, {{1}, {3, ctrlKey}}, 3, {3}, 3},
        {"single selection: Ctrl+click on the selected row keeps it", RCS_SINGLESEL, {{1}, {1, ctrlKey}}, 1, {1}, 1},
        {"single selection: Shift+click selects the anchor row", RCS_SINGLESEL, {{1}, {3, shift}}, 1, {1}, 1},
        {"a parent that takes the click stops the selection", 0, {{2}}, -1, {}, -1, true},
    };
    for (const Case& c : cases) {
        build(c.style);
        answer = [&](ReportNotification& n) -> std::intptr_t { return n.code == RCN_CLICK && c.parentTakesClicks; };
        for (const Click& k : c.clicks)
            press(k.onPreview ? previewPoint(k.position) : cellPoint(k.position), k.mods);
        EXPECT_EQ(ctrl->focusedPosition(), c.focus) << c.name;
        EXPECT_EQ(selected(), c.selection) << c.name;
        EXPECT_EQ(ctrl->anchorPosition(), c.anchor) << c.name;
        EXPECT_EQ(focusMarked(), c.focus < 0 ? Positions{} : Positions{c.focus}) << c.name;
        EXPECT_TRUE(ctrl->hasFocus()) << c.name;
        answer = nullptr;
    }
}

TEST_F(ReportCtrlTest, ClickAndDoubleClickReportTheHitRow)
{
    build(0);
    std::vector<ReportNotification> seen;
    answer = [&](ReportNotification& n) -> std::intptr_t {
        if (n.code == RCN_CLICK || n.code == RCN_DBLCLICK)
            seen.push_back(n);
        return 0;
    };
    press(cellPoint(3), Qt::ShiftModifier);
    QTest::mouseDClick(ctrl, Qt::LeftButton, {}, previewPoint(4));
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front().code, RCN_CLICK);
    EXPECT_EQ(seen.front().hit.item, 3);
    EXPECT_EQ(seen.front().data, 1003);
    EXPECT_TRUE(seen.front().keyFlags & MK_SHIFT);
    EXPECT_EQ(seen.back().code, RCN_DBLCLICK);
    EXPECT_EQ(seen.back().hit.item, 4);
    EXPECT_EQ(seen.back().hit.flags, RCHT_ONPREVIEW);
    EXPECT_EQ(seen.back().data, 1004);
}

TEST_F(ReportCtrlTest, ParentVetoKeepsThatRowWhileOthersChange)
{
    build(0);
    press(cellPoint(2));
    ASSERT_EQ(selected(), Positions{2});
    answer = [](ReportNotification& n) -> std::intptr_t { return n.code == RCN_STATECHANGING && n.item == 2; };
    changed.clear();
    press(cellPoint(4));
    EXPECT_EQ(selected(), (Positions{2, 4}));
    EXPECT_EQ(changed, std::vector<int>{4}); // no RCN_STATECHANGED for the vetoed row
    press(cellPoint(0), Qt::ShiftModifier);  // anchor 4: range 0..4, row 2 is already selected
    EXPECT_EQ(selected(), range(0, 4));
    press(cellPoint(1));
    EXPECT_EQ(selected(), (Positions{1, 2}));
}

TEST_F(ReportCtrlTest, ScrollBarPagesByWholeRows)
{
    build(0);
    QScrollBar* bar = ctrl->verticalBar();
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->maximum(), 45); // rows 45..49 (2+1+3+2+1... = 9 row heights) fit, 44 more would not
    EXPECT_EQ(ctrl->bottomPosition(), 45);
    struct Step {
        QAbstractSlider::SliderAction action;
        int first;
    } steps[] = {
        {QAbstractSlider::SliderPageStepAdd, 5},  // rows 0..4 fit (1+2+3+1+2)
        {QAbstractSlider::SliderPageStepAdd, 10}, // rows 5..9 fit (3+1+2+3+1)
        {QAbstractSlider::SliderPageStepSub, 5},  // backward from 9: 1+3+2+1+3
        {QAbstractSlider::SliderSingleStepAdd, 6}, {QAbstractSlider::SliderToMaximum, 45},
        {QAbstractSlider::SliderPageStepAdd, 45},  {QAbstractSlider::SliderToMinimum, 0},
    };
    for (const Step& s : steps) {
        bar->triggerAction(s.action);
        EXPECT_EQ(ctrl->firstVisible(), s.first) << s.action;
    }
    // Whole rows only: the last row at the bottom is fully inside the row area.
    ctrl->scrollToPosition(1000);
    EXPECT_EQ(ctrl->firstVisible(), 45);
    EXPECT_EQ(ctrl->rowsThatFit(45, false, false), 5);
}

TEST_F(ReportCtrlTest, EnsureVisibleScrollsOnlyWhenNeeded)
{
    build(0);
    struct Case {
        int row;
        int first;
    } cases[] = {{3, 0}, {5, 2}, {20, 17}, {18, 17}, {10, 10}, {49, 45}, {0, 0}};
    for (const Case& c : cases) {
        EXPECT_TRUE(ctrl->ensureVisible(c.row, false));
        EXPECT_EQ(ctrl->firstVisible(), c.first) << c.row;
    }
    EXPECT_FALSE(ctrl->ensureVisible(50, false));
}

TEST_F(ReportCtrlTest, SortingReversesOnSecondClickAndANewColumnStartsAscending)
{
    build(0, 0, true);
    const char* names[] = {"carol", "alice", "dave", "bob"};
    const char* extras[] = {"2", "4", "1", "3"};
    for (int i = 0; i < 4; ++i) {
        ctrl->insertItem(i, names[i]);
        ReportItem item;
        item.item = i;
        item.subItem = 1;
        item.mask = RCIF_TEXT;
        item.text = extras[i];
        ctrl->setItem(item);
    }
    CFlatHeaderCtrl* header = ctrl->headerCtrl();
    auto clickHeading = [&](int subItem) {
        QTest::mouseClick(header, Qt::LeftButton, {}, header->itemRect(ctrl->headerIndexOf(subItem)).center());
    };
    auto order = [&] { return ctrl->displayOrder(); };
    press(cellPoint(0)); // focus on row 0 ("carol")
    clickHeading(0);
    EXPECT_EQ(order(), (std::vector<int>{1, 3, 0, 2}));
    bool ascending = false;
    EXPECT_EQ(header->sortColumn(&ascending), ctrl->headerIndexOf(0));
    EXPECT_TRUE(ascending);
    EXPECT_EQ(ctrl->focusedPosition(), 2); // the focused row moved with the sort
    clickHeading(0);
    EXPECT_EQ(order(), (std::vector<int>{2, 0, 3, 1}));
    header->sortColumn(&ascending);
    EXPECT_FALSE(ascending);
    clickHeading(1);
    EXPECT_EQ(order(), (std::vector<int>{2, 0, 3, 1})); // by "Extra": 1, 2, 3, 4
    EXPECT_EQ(header->sortColumn(&ascending), ctrl->headerIndexOf(1));
    EXPECT_TRUE(ascending);
    EXPECT_EQ(focusMarked(), Positions{ctrl->focusedPosition()});

    // A parent that answers the column click, or RCS_NOSORT, leaves the order alone.
    answer = [](ReportNotification& n) -> std::intptr_t { return n.code == RCN_COLUMNCLICK; };
    clickHeading(0);
    EXPECT_EQ(order(), (std::vector<int>{2, 0, 3, 1}));
    answer = nullptr;
    ctrl->modifyStyle(0, RCS_NOSORT);
    clickHeading(0);
    EXPECT_EQ(order(), (std::vector<int>{2, 0, 3, 1}));

    // A hidden column does not sort.
    ctrl->deactivateSubItem(1);
    EXPECT_FALSE(ctrl->sortItems(1, true));
}

TEST_F(ReportCtrlTest, DefaultCompareTakesDoubleByteCharactersWhole)
{
    build(0, 0);
    ctrl->insertItem(0, "\x82\xa0"); // hiragana a (double-byte, lead 0x82)
    ctrl->insertItem(1, "\xb1");     // half-width katakana a (single byte 0xB1)
    ctrl->insertItem(2, "A");
    EXPECT_TRUE(ctrl->sortItems(0, true));
    EXPECT_EQ(ctrl->displayOrder(), (std::vector<int>{2, 1, 0}));
}

TEST_F(ReportCtrlTest, OnlyShownColumnStaysWhenDraggedOffTheHeader)
{
    auto dragOff = [&](int subItem, QPoint dropAt) {
        CFlatHeaderCtrl* header = ctrl->headerCtrl();
        const QPoint start = header->itemRect(ctrl->headerIndexOf(subItem)).center();
        QTest::mousePress(header, Qt::LeftButton, {}, start);
        QTest::mouseMove(header, start + QPoint(15, 0));
        QTest::mouseMove(header, dropAt);
        QTest::mouseRelease(header, Qt::LeftButton, {}, dropAt);
    };
    build(RCS_REMOVECOLUMNS, 5, false);
    dragOff(0, QPoint(50, 200));
    EXPECT_EQ(ctrl->shownSubItems(), std::vector<int>{0});

    build(RCS_REMOVECOLUMNS, 5, true);
    auto* chooser = new QListWidget(window.get());
    chooser->setGeometry(430, 100, 150, 200);
    chooser->show();
    ctrl->setSubItemList(chooser);
    EXPECT_EQ(chooser->count(), 0);
    dragOff(1, QPoint(50, 200));
    EXPECT_EQ(ctrl->shownSubItems(), std::vector<int>{0});
    ASSERT_EQ(chooser->count(), 1);
    EXPECT_EQ(chooser->item(0)->text(), QStringLiteral("Extra"));
    EXPECT_EQ(ctrl->totalWidth(), 300);

    // Without RCS_REMOVECOLUMNS a drag off the header keeps the column.
    build(0, 5, true);
    dragOff(1, QPoint(50, 200));
    EXPECT_EQ(ctrl->shownSubItems(), (std::vector<int>{0, 1}));
}

TEST_F(ReportCtrlTest, ColumnChooserDragShowsTheColumnAtTheDivider)
{
    build(0, 3, false);
    auto* chooser = new QListWidget(window.get());
    chooser->setGeometry(430, 100, 150, 200);
    chooser->show();
    ctrl->setSubItemList(chooser);
    ASSERT_EQ(chooser->count(), 1);
    QWidget* vp = chooser->viewport();
    const QPoint entry = chooser->visualItemRect(chooser->item(0)).center();
    QTest::mousePress(vp, Qt::LeftButton, {}, entry);
    QTest::mouseMove(vp, entry + QPoint(-20, 0));
    // Onto the left half of "Name": divider 0.
    const QPoint onHeader = vp->mapFromGlobal(ctrl->headerCtrl()->mapToGlobal(QPoint(20, 5)));
    QTest::mouseMove(vp, onHeader);
    EXPECT_EQ(ctrl->headerCtrl()->hotDivider(), 0);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, onHeader);
    EXPECT_EQ(ctrl->shownSubItems(), (std::vector<int>{1, 0}));
    EXPECT_EQ(chooser->count(), 0);
    EXPECT_EQ(ctrl->headerCtrl()->dropMarker(), nullptr);
}

TEST_F(ReportCtrlTest, HitTestTable)
{
    build(0, 2);
    ReportItem item;
    item.item = 0;
    item.subItem = 0;
    item.mask = RCIF_CHECK;
    item.check = 1;
    ctrl->setItem(item);
    const int top = ctrl->rowArea().top();
    const int sp = ctrl->spacing();
    struct Case {
        QPoint point;
        int flags;
        int row;
    } cases[] = {
        {{50, top - 2}, RCHT_ABOVE, -1},
        {{50, 10000}, RCHT_BELOW, -1},
        {{-3, top + 2}, RCHT_TOLEFT, -1},
        {{5000, top - 2}, RCHT_TORIGHT | RCHT_ABOVE, -1},
        {{sp + 2, top + r / 2}, RCHT_ONCHECK, 0},
        {{sp + ctrl->checkSize().width() + sp + 5, top + r / 2}, RCHT_ONTEXT, 0},
        {{50, top + r + r / 2}, RCHT_ONTEXT, 1},    // row 1, cell band
        {{50, top + 2 * r + 1}, RCHT_ONPREVIEW, 1}, // row 1's preview
        {{50, top + 3 * r + 2}, RCHT_NOWHERE, -1},  // below the last row
    };
    for (const Case& c : cases) {
        ReportHitTest hit;
        hit.point = c.point;
        EXPECT_EQ(ctrl->hitTest(hit), c.row) << c.point.x() << "," << c.point.y();
        EXPECT_EQ(hit.flags, c.flags) << c.point.x() << "," << c.point.y();
    }
}

TEST_F(ReportCtrlTest, CellsKeepSeparatorsAndAreCutOnACharacterBoundary)
{
    build(0, 1, true);
    ReportItem item;
    item.item = 0;
    item.subItem = 1;
    item.mask = RCIF_TEXT;
    item.text = "Bob|Home (1,2,3) | x";
    ctrl->setItem(item);
    EXPECT_EQ(ctrl->getItemText(0, 1), "Bob|Home (1,2,3) | x");
    EXPECT_EQ(ctrl->getItemText(0, 0), "row 0"); // the neighbour cell is untouched

    item.text = std::string(254, 'a') + "\x82\xa0" + "tail";
    ctrl->setItem(item);
    EXPECT_EQ(ctrl->getItemText(0, 1), std::string(254, 'a'));
    item.text = std::string(300, 'b');
    ctrl->setItem(item);
    EXPECT_EQ(ctrl->getItemText(0, 1).size(), 255u);

    // A definition inserted in front shifts the cells and the shown ids.
    ReportSubItem front;
    front.text = "Front";
    EXPECT_EQ(ctrl->defineSubItem(0, front), 0);
    EXPECT_EQ(ctrl->getItemText(0, 1), "row 0");
    EXPECT_EQ(ctrl->getItemText(0, 0), "");
    EXPECT_EQ(ctrl->shownSubItems(), (std::vector<int>{1, 2}));
    EXPECT_TRUE(ctrl->undefineSubItem(0));
    EXPECT_EQ(ctrl->getItemText(0, 0), "row 0");
    EXPECT_EQ(ctrl->shownSubItems(), (std::vector<int>{0, 1}));
}

TEST_F(ReportCtrlTest, GetItemSetsMaskBitsForWhatTheCellHas)
{
    build(0, 1);
    ReportItem item;
    item.item = 0;
    item.subItem = 1;
    ASSERT_TRUE(ctrl->getItem(item));
    EXPECT_EQ(item.mask, RCIF_STATE | RCIF_DATA);
    item.subItem = 0;
    ASSERT_TRUE(ctrl->getItem(item));
    EXPECT_EQ(item.mask, RCIF_TEXT | RCIF_STATE | RCIF_DATA); // row 0 has no preview
    EXPECT_EQ(item.data, 1000);
    ReportItem set;
    set.item = 0;
    set.subItem = 0;
    set.mask = RCIF_IMAGE | RCIF_TEXTCOLOR | RCIF_BKCOLOR | RCIF_PREVIEW;
    set.image = 2;
    set.textColor = 1;
    set.background = 0;
    set.preview = 9;
    ctrl->setItem(set);
    ASSERT_TRUE(ctrl->getItem(item));
    EXPECT_EQ(item.mask,
              RCIF_TEXT | RCIF_IMAGE | RCIF_TEXTCOLOR | RCIF_BKCOLOR | RCIF_PREVIEW | RCIF_STATE | RCIF_DATA);
    EXPECT_EQ(item.text, "row 0"); // fields outside the mask keep their values
    item.subItem = 5;
    EXPECT_FALSE(ctrl->getItem(item));
}

TEST_F(ReportCtrlTest, RowsInsertedAndDeletedKeepTheDisplayOrderAndFocus)
{
    build(0, 5);
    ctrl->sortItems(0, false); // order 4 3 2 1 0
    press(cellPoint(1));       // row 3
    ASSERT_EQ(ctrl->rowAt(ctrl->focusedPosition()), 3);
    ctrl->insertItem(2, "new");
    EXPECT_EQ(ctrl->displayOrder(), (std::vector<int>{5, 4, 2, 3, 1, 0}));
    EXPECT_EQ(ctrl->rowAt(ctrl->focusedPosition()), 4); // the old row 3, now row 4
    EXPECT_TRUE(ctrl->deleteItem(0));
    EXPECT_EQ(ctrl->displayOrder(), (std::vector<int>{4, 3, 1, 2, 0}));
    EXPECT_EQ(ctrl->rowAt(ctrl->focusedPosition()), 3);
    EXPECT_FALSE(ctrl->deleteItem(5));
    EXPECT_TRUE(ctrl->deleteAllItems());
    EXPECT_EQ(ctrl->itemCount(), 0);
    EXPECT_EQ(ctrl->focusedPosition(), -1);
}

TEST_F(ReportCtrlTest, ColourTableHoldsThirtyTwo)
{
    build(0, 0);
    for (int i = 0; i < CReportCtrl::kMaxColors; ++i)
        EXPECT_EQ(ctrl->insertColor(i, QColor(i, i, i)), i);
    EXPECT_EQ(ctrl->insertColor(0, Qt::red), -1);
    EXPECT_TRUE(ctrl->deleteColor(31));
    EXPECT_EQ(ctrl->insertColor(31, Qt::red), 31);
    EXPECT_FALSE(ctrl->deleteColor(32));
}

TEST_F(ReportCtrlTest, HorizontalGridAddsAPixelToTheRowHeight)
{
    build(0, 0);
    const int plain = ctrl->rowHeight();
    ctrl->modifyStyle(0, RCS_HGRID);
    EXPECT_EQ(ctrl->rowHeight(), plain + 1);
    ctrl->modifyStyle(RCS_HGRID, 0);
    EXPECT_EQ(ctrl->rowHeight(), plain);
    EXPECT_EQ(ctrl->checkSize(), QSize(plain - 2, plain - 2));
    ctrl->modifyStyle(0, RCS_NOHEADER);
    EXPECT_FALSE(ctrl->headerCtrl()->isVisible());
    EXPECT_EQ(ctrl->rowArea().top(), 0);
}

TEST_F(ReportCtrlTest, SavedColumnLayoutText)
{
    build(0, 0, true);
    EXPECT_EQ(ctrl->columnLayout(), "(2,2) 300 60 0 1");
    ctrl->deactivateSubItem(0);
    ctrl->activateSubItem(0, 1);
    EXPECT_EQ(ctrl->columnLayout(), "(2,2) 300 60 1 0");
    ctrl->headerCtrl()->setItemWidth(ctrl->headerIndexOf(1), 75);
    EXPECT_EQ(ctrl->columnLayout(), "(2,2) 300 75 1 0");
    EXPECT_EQ(ctrl->totalWidth(), 375);
}

// ---- painting ----

class ReportPaintTest : public ReportCtrlTest {
protected:
    void buildPainted(int style, int rows)
    {
        build(style, rows);
        QPalette pal = ctrl->palette();
        pal.setColor(QPalette::Base, QColor(255, 255, 255));
        pal.setColor(QPalette::Text, QColor(0, 0, 0));
        pal.setColor(QPalette::Highlight, QColor(0, 0, 128));
        pal.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
        pal.setColor(QPalette::Button, QColor(192, 192, 192));
        ctrl->setPalette(pal);
    }
    QColor rowBackground(int position)
    {
        const QImage img = grabImage(ctrl);
        return img.pixelColor(360, rowTop(position) + r / 2); // right of the column's text
    }
};

TEST_F(ReportPaintTest, EmptyTextIsCentredNearTheTop)
{
    buildPainted(0, 0);
    const QImage img = grabImage(ctrl);
    const QRect area = ctrl->rowArea();
    const QRect ink = controls::inkBox(img, area, QColor(255, 255, 255));
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_NEAR(ink.center().x(), area.center().x(), 3);
    EXPECT_GE(ink.top(), area.top() + 2);
    EXPECT_LE(ink.bottom(), area.top() + 2 + r);
    const int textWidth =
        ctrl->fontMetrics().horizontalAdvance(QStringLiteral("There are no items to show in this view."));
    EXPECT_NEAR(ink.width(), textWidth, 4);
}

TEST_F(ReportPaintTest, SelectionColoursWithAndWithoutFocus)
{
    struct Case {
        const char* name;
        int style;
        bool focused;
        QColor background;
    } cases[] = {
        {"focused", 0, true, QColor(0, 0, 128)},
        {"unfocused", 0, false, QColor(255, 255, 255)},
        {"unfocused, shown always", RCS_SHOWSELALWAYS, false, QColor(192, 192, 192)},
        {"focused, shown always", RCS_SHOWSELALWAYS, true, QColor(0, 0, 128)},
    };
    for (const Case& c : cases) {
        buildPainted(c.style, 5);
        press(cellPoint(1));
        if (!c.focused)
            other->setFocus();
        ASSERT_EQ(ctrl->hasFocus(), c.focused) << c.name;
        EXPECT_EQ(rowBackground(1), c.background) << c.name;
        EXPECT_EQ(rowBackground(2), QColor(255, 255, 255)) << c.name;
        // With the focus the selected row's text is in the highlight text colour, else in the
        // window text colour.
        const QImage img = grabImage(ctrl);
        const QRect textBand(2, rowTop(1) + 2, 118, r - 4); // inside the focus rectangle
        EXPECT_EQ(controls::countColour(img, textBand, QColor(0, 0, 0), 40) > 0, !c.focused) << c.name;
        if (c.focused) {
            EXPECT_GT(controls::countColour(img, textBand, QColor(255, 255, 255), 40), 0) << c.name;
        }
    }
}

TEST_F(ReportPaintTest, RowBackgroundAndTextColourFromTheColourTable)
{
    buildPainted(RCS_ALTROWS, 5);
    ctrl->insertColor(0, QColor(192, 216, 192));
    ctrl->insertColor(1, QColor(125, 84, 126));
    ctrl->insertColor(2, QColor(0, 64, 128));
    ReportItem item;
    item.item = 2;
    item.subItem = 0;
    item.mask = RCIF_BKCOLOR | RCIF_TEXTCOLOR;
    item.background = 1;
    item.textColor = 2;
    ctrl->setItem(item);
    EXPECT_EQ(rowBackground(0), QColor(255, 255, 255));
    EXPECT_EQ(rowBackground(1), QColor(192, 216, 192)); // odd position, RCS_ALTROWS
    EXPECT_EQ(rowBackground(2), QColor(125, 84, 126));
    const QImage img = grabImage(ctrl);
    // Colour 2 cannot be read on colour 1: the text is drawn in the nearest colour that can.
    const QColor onPurple = controls::legibleOn(QColor(0, 64, 128), QColor(125, 84, 126));
    EXPECT_GE(controls::contrastRatio(onPurple, QColor(125, 84, 126)), 4.5);
    EXPECT_GT(controls::countColour(img, QRect(0, rowTop(2), 120, r), onPurple, 24), 0);
    EXPECT_EQ(controls::countColour(img, QRect(0, rowTop(0), 120, r), QColor(0, 64, 128), 24), 0);
    // On white it can, and stays as it is.
    item.item = 0;
    item.mask = RCIF_TEXTCOLOR;
    ctrl->setItem(item);
    EXPECT_GT(controls::countColour(grabImage(ctrl), QRect(0, rowTop(0), 120, r), QColor(0, 64, 128), 24), 0);
}

} // namespace

namespace {

TEST_F(ReportCtrlTest, LeftAndRightScrollByAnEighthOfTheRowArea)
{
    build(0, 5, true); // columns 300 + 60 wide
    ctrl->resize(200, ctrl->height());
    const int width = ctrl->rowArea().width();
    const int step = width / 8;
    const int last = ctrl->totalWidth() - width;
    ASSERT_GT(last, step);
    ASSERT_TRUE(ctrl->horizontalBar()->isVisible());
    struct Case {
        Qt::Key key;
        int repeat;
        int position;
    } cases[] = {
        {Qt::Key_Right, 1, step},   {Qt::Key_Right, 1, 2 * step}, {Qt::Key_Left, 1, step},
        {Qt::Key_Right, 100, last}, {Qt::Key_Left, 100, 0},
    };
    for (const Case& c : cases) {
        for (int i = 0; i < c.repeat; ++i)
            QTest::keyClick(ctrl, c.key);
        EXPECT_EQ(ctrl->horizontalPosition(), c.position);
        EXPECT_EQ(ctrl->headerCtrl()->x(), -c.position); // the header moves with the rows
        EXPECT_EQ(ctrl->horizontalBar()->value(), c.position);
    }
    // A hit test follows the scrolled columns: "Extra" starts at 300 - position.
    for (int i = 0; i < 100; ++i)
        QTest::keyClick(ctrl, Qt::Key_Right);
    ReportHitTest hit;
    hit.point = QPoint(300 - ctrl->horizontalPosition() + 10, ctrl->rowArea().top() + r / 2);
    EXPECT_EQ(ctrl->hitTest(hit), 0);
    EXPECT_EQ(hit.subItem, 1);
}

} // namespace

namespace {

TEST(TextContrast, RatiosAndTheNearestReadableColour)
{
    EXPECT_NEAR(controls::contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(controls::contrastRatio(Qt::white, Qt::white), 1.0, 1e-9);
    // The personal row's old colours: under 2 to 1.
    EXPECT_LT(controls::contrastRatio(QColor(0, 64, 128), QColor(125, 84, 126)), 2.0);
    const struct {
        QColor text, background;
        bool kept;
    } cases[] = {
        {QColor(0, 64, 128), QColor(125, 84, 126), false},
        {QColor(0, 64, 128), Qt::white, true},
        {Qt::white, QColor(48, 140, 198), false},
        {QColor(0, 0, 128), QColor(125, 84, 126), false},
        {Qt::black, Qt::white, true},
        {QColor(128, 128, 128), QColor(118, 118, 118), false},
        {QColor(255, 255, 0), Qt::white, false},
        {QColor(0, 0, 0, 0), Qt::black, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.name().toStdString() + " on " + c.background.name().toStdString());
        const QColor shown = controls::legibleOn(c.text, c.background);
        EXPECT_GE(controls::contrastRatio(shown, c.background), controls::kMinimumRatio);
        EXPECT_EQ(shown == c.text, c.kept);
        EXPECT_EQ(shown.alpha(), 255);
    }
}

} // namespace

} // namespace orvalink::controls
