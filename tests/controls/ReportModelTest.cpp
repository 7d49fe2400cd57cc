#include "controls/model/ReportModel.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace orvalink::controls {

namespace {

using Positions = std::set<int>;
using Key = ReportModel::Key;

constexpr int r = 10; // row height

// 50 rows whose heights repeat 1, 2, 3 row heights (preview 0, 1 or 2 row heights), in a view
// exactly 10 row heights tall.
class ReportModelTest : public ::testing::Test {
protected:
    void build(bool single, int rows = 50)
    {
        model = ReportModel();
        changed.clear();
        model.setRowHeight(r);
        model.setViewHeight(10 * r);
        model.setSingleSelection(single);
        model.stateChanging = [this](int row) { return veto && veto(row); };
        model.stateChanged = [this](int row) { changed.push_back(row); };
        for (int i = 0; i < rows; ++i) {
            const int row = model.insertRow(i, 1);
            model.row(row).preview = (i % 3) * r;
            model.row(row).data = 1000 + i;
        }
    }
    // The display positions whose rows carry `state`.
    Positions marked(int state) const
    {
        Positions s;
        for (int p = 0; p < model.rowCount(); ++p)
            if (model.rowState(model.rowAt(p)) & state)
                s.insert(p);
        return s;
    }
    Positions selected() const { return marked(RCIS_SELECTED); }
    Positions focusMarked() const { return marked(RCIS_FOCUSED); }

    ReportModel model;
    std::vector<int> changed;
    std::function<bool(int)> veto;
};

Positions range(int from, int to)
{
    Positions s;
    for (int i = from; i <= to; ++i)
        s.insert(i);
    return s;
}

struct Stroke {
    Key key;
    bool shift = false;
    bool ctrl = false;
};

TEST_F(ReportModelTest, KeyboardTable)
{
    const Stroke down{Key::Down};
    const Stroke end{Key::End};
    const Stroke pageUp{Key::PageUp};
    struct Case {
        const char* name;
        bool single;
        std::vector<Stroke> prelude;
        Stroke key;
        int focus;
        Positions selection;
        int anchor;
        int first;
    } cases[] = {
        {"first Down focuses the first row", false, {}, down, 0, {0}, 0, 0},
        {"Up", false, {down, down, down}, {Key::Up}, 1, {1}, 1, 0},
        {"Shift+Down extends from the anchor", false, {down, down, down}, {Key::Down, true}, 3, {2, 3}, 2, 0},
        {"Shift+Up extends upward", false, {down, down, down, down}, {Key::Up, true}, 2, {2, 3}, 3, 0},
        {"Ctrl+Down moves only the focus", false, {down, down, down}, {Key::Down, false, true}, 3, {2}, 3, 0},
        {"Ctrl+Up moves only the focus", false, {down, down, down}, {Key::Up, false, true}, 1, {2}, 1, 0},
        {"Space adds the focused row",
         false,
         {down, down, down, {Key::Down, false, true}},
         {Key::Space},
         3,
         {2, 3},
         3,
         0},
        {"Down past the view scrolls by whole rows", false, {down, down, down, down, down}, down, 5, {5}, 5, 2},
        {"Down on the last row stays", false, {end}, down, 49, {49}, 49, 45},
        {"Page Down goes to the last fully visible row", false, {down}, {Key::PageDown}, 4, {4}, 4, 0},
        {"Page Down from a middle row", false, {down, down, down}, {Key::PageDown}, 4, {4}, 4, 0},
        {"Page Down on the last visible row pages", false, {down, {Key::PageDown}}, {Key::PageDown}, 9, {9}, 9, 5},
        {"Shift+Page Down selects the range", false, {down}, {Key::PageDown, true}, 4, range(0, 4), 0, 0},
        {"Page Up goes to the first visible row", false, {end}, pageUp, 45, {45}, 45, 45},
        {"Page Up on the first row pages backward", false, {end, pageUp}, pageUp, 41, {41}, 41, 41},
        {"Up above the view scrolls", false, {end, pageUp, pageUp}, {Key::Up}, 40, {40}, 40, 40},
        {"End", false, {down}, end, 49, {49}, 49, 45},
        {"Shift+End selects from the anchor, focus stays there",
         false,
         {down, down, down},
         {Key::End, true},
         2,
         range(2, 49),
         2,
         45},
        {"Home", false, {end}, {Key::Home}, 0, {0}, 0, 0},
        {"Shift+Home selects up to the anchor", false, {end}, {Key::Home, true}, 0, range(0, 49), 49, 0},
        {"single selection: Shift+Down selects one row", true, {down, down, down}, {Key::Down, true}, 3, {3}, 2, 0},
        {"single selection: Space keeps one row",
         true,
         {down, down, down, {Key::Down, false, true}},
         {Key::Space},
         3,
         {3},
         3,
         0},
    };
    for (const Case& c : cases) {
        build(c.single);
        for (const Stroke& s : c.prelude)
            EXPECT_TRUE(model.key(s.key, s.shift, s.ctrl)) << c.name;
        EXPECT_TRUE(model.key(c.key.key, c.key.shift, c.key.ctrl)) << c.name;
        EXPECT_EQ(model.focusedPosition(), c.focus) << c.name;
        EXPECT_EQ(selected(), c.selection) << c.name;
        EXPECT_EQ(model.anchorPosition(), c.anchor) << c.name;
        EXPECT_EQ(model.firstVisible(), c.first) << c.name;
        // Exactly one row carries the focus mark, the focused one.
        EXPECT_EQ(focusMarked(), Positions{c.focus}) << c.name;
    }
}

struct Click {
    int position;
    bool shift = false;
    bool ctrl = false;
    bool onPreview = false;
};

TEST_F(ReportModelTest, MouseTable)
{
    struct Case {
        const char* name;
        bool single;
        std::vector<Click> clicks;
        int focus;
        Positions selection;
        int anchor;
    } cases[] = {
        {"click selects one row", false, {{2}}, 2, {2}, 2},
        {"a second click moves the selection", false, {{1}, {3}}, 3, {3}, 3},
        {"Ctrl+click adds", false, {{1}, {3, false, true}}, 3, {1, 3}, 3},
        {"Ctrl+click flips a selected row off", false, {{1}, {1, false, true}}, 1, {}, 1},
        {"Shift+click selects the range, focus to the anchor", false, {{1}, {3, true}}, 1, {1, 2, 3}, 1},
        {"Shift+click shrinks the range", false, {{1}, {4, true}, {2, true}}, 1, {1, 2}, 1},
        {"Ctrl+Shift+click adds a range", false, {{0}, {4, false, true}, {2, true, true}}, 2, {0, 2, 3, 4}, 2},
        {"a click on the preview area selects the row", false, {{1, false, false, true}}, 1, {1}, 1},
        {"single selection: Ctrl+click selects only the clicked row", true, {{1}, {3, false, true}}, 3, {3}, 3},
        {"single selection: Ctrl+click on the selected row keeps it", true, {{1}, {1, false, true}}, 1, {1}, 1},
        {"single selection: Shift+click selects the anchor row", true, {{1}, {3, true}}, 1, {1}, 1},
    };
    for (const Case& c : cases) {
        build(c.single);
        for (const Click& k : c.clicks) {
            // The click lands where the list would hit-test it: the cell band or the preview.
            int top = 0;
            for (int p = model.firstVisible(); p < k.position; ++p)
                top += model.rowExtent(p);
            bool onPreview = false;
            const int at = model.positionAt(top + (k.onPreview ? r + 2 : r / 2), &onPreview);
            ASSERT_EQ(at, k.position) << c.name;
            ASSERT_EQ(onPreview, k.onPreview) << c.name;
            model.click(at, k.shift, k.ctrl);
        }
        EXPECT_EQ(model.focusedPosition(), c.focus) << c.name;
        EXPECT_EQ(selected(), c.selection) << c.name;
        EXPECT_EQ(model.anchorPosition(), c.anchor) << c.name;
        EXPECT_EQ(focusMarked(), c.focus < 0 ? Positions{} : Positions{c.focus}) << c.name;
    }
}

TEST_F(ReportModelTest, ParentVetoKeepsThatRowWhileOthersChange)
{
    build(false);
    model.click(2, false, false);
    ASSERT_EQ(selected(), Positions{2});
    veto = [](int row) { return row == 2; };
    changed.clear();
    model.click(4, false, false);
    EXPECT_EQ(selected(), (Positions{2, 4}));
    EXPECT_EQ(changed, std::vector<int>{4}); // no change told for the vetoed row
    model.click(0, true, false);             // anchor 4: range 0..4, row 2 is already selected
    EXPECT_EQ(selected(), range(0, 4));
    model.click(1, false, false);
    EXPECT_EQ(selected(), (Positions{1, 2}));
}

TEST_F(ReportModelTest, PagingByWholeRows)
{
    build(false);
    EXPECT_EQ(model.bottomPosition(), 45); // rows 45..49 (2+1+3+2+1... = 9 row heights) fit, 44 more would not
    struct Case {
        int start;
        bool backward;
        bool partialOk;
        int fit;
    } cases[] = {
        {0, false, false, 5},                        // 1+2+3+1+2
        {5, false, false, 5},                        // 3+1+2+3+1
        {9, true, false, 5},                         // 1+3+2+1+3
        {45, false, false, 5}, {1, false, false, 4}, // 2+3+1+2, then 3 more would not fit
        {1, false, true, 5},                         // ... unless a part will do
        {49, false, false, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(model.rowsThatFit(c.start, c.backward, c.partialOk), c.fit) << c.start;
    model.scrollTo(1000);
    EXPECT_EQ(model.firstVisible(), 45);
    model.scrollTo(-3);
    EXPECT_EQ(model.firstVisible(), 0);
}

TEST_F(ReportModelTest, EnsureVisibleScrollsOnlyWhenNeeded)
{
    build(false);
    struct Case {
        int row;
        int first;
    } cases[] = {{3, 0}, {5, 2}, {20, 17}, {18, 17}, {10, 10}, {49, 45}, {0, 0}};
    for (const Case& c : cases) {
        EXPECT_TRUE(model.ensureVisible(c.row, false));
        EXPECT_EQ(model.firstVisible(), c.first) << c.row;
    }
    EXPECT_FALSE(model.ensureVisible(50, false));
}

TEST_F(ReportModelTest, RowsInsertedAndDeletedKeepTheDisplayOrderAndFocus)
{
    build(false, 5);
    model.sort([](int a, int b) { return a - b; }, false); // order 4 3 2 1 0
    model.click(1, false, false);                          // row 3
    ASSERT_EQ(model.rowAt(model.focusedPosition()), 3);
    model.insertRow(2, 1);
    EXPECT_EQ(model.displayOrder(), (std::vector<int>{5, 4, 2, 3, 1, 0}));
    EXPECT_EQ(model.rowAt(model.focusedPosition()), 4); // the old row 3, now row 4
    EXPECT_TRUE(model.deleteRow(0));
    EXPECT_EQ(model.displayOrder(), (std::vector<int>{4, 3, 1, 2, 0}));
    EXPECT_EQ(model.rowAt(model.focusedPosition()), 3);
    EXPECT_FALSE(model.deleteRow(5));
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.focusedPosition(), -1);
}

// Deleting the first rows in one pass ends as deleting row 0 that many times does: the same
// order, focus, anchor and first visible position, whatever the order and where they were.
TEST_F(ReportModelTest, DeletingTheFirstRowsAtOnceEqualsOneByOne)
{
    struct Case {
        const char* name;
        bool descending;
        int focusPosition;
        int anchorPosition;
        int first;
        int count;
    } cases[] = {
        {"natural order, focus below the removed rows", false, 30, 28, 20, 12},
        {"natural order, focus on a removed row", false, 3, 5, 2, 12},
        {"natural order, every row", false, 10, 10, 5, 50},
        {"natural order, none", false, 10, 12, 5, 0},
        {"sorted, removed rows at the bottom", true, 45, 40, 30, 7},
        {"sorted, focus on a removed row", true, 48, 49, 45, 3},
        {"no focus or anchor", false, -1, -1, 30, 20},
    };
    for (const Case& c : cases) {
        ReportModel models[2];
        for (ReportModel& m : models) {
            build(false);
            if (c.descending)
                model.sort([](int a, int b) { return a - b; }, false);
            if (c.focusPosition >= 0) {
                model.click(c.anchorPosition, false, false);
                model.click(c.focusPosition, false, true);
            }
            model.scrollTo(c.first);
            m = model;
        }
        ASSERT_TRUE(models[0].deleteFirstRows(c.count)) << c.name;
        for (int i = 0; i < c.count; ++i)
            ASSERT_TRUE(models[1].deleteRow(0)) << c.name;
        EXPECT_EQ(models[0].displayOrder(), models[1].displayOrder()) << c.name;
        EXPECT_EQ(models[0].focusedPosition(), models[1].focusedPosition()) << c.name;
        EXPECT_EQ(models[0].anchorPosition(), models[1].anchorPosition()) << c.name;
        EXPECT_EQ(models[0].firstVisible(), models[1].firstVisible()) << c.name;
        for (int row = 0; row < models[0].rowCount(); ++row)
            EXPECT_EQ(models[0].row(row).data, models[1].row(row).data) << c.name;
    }
    build(false, 3);
    EXPECT_FALSE(model.deleteFirstRows(4));
    EXPECT_FALSE(model.deleteFirstRows(-1));
    EXPECT_EQ(model.rowCount(), 3);
}

// Sorting again after rows arrived orders them as a stable sort of the whole list does: rows with
// equal keys keep the order they had, whichever way the list is sorted.
TEST_F(ReportModelTest, SortingAgainAfterArrivalsEqualsAStableSortOfTheWhole)
{
    struct Case {
        const char* name;
        std::vector<int> keys;    // key of each row at first
        std::vector<int> arrived; // keys of the rows that arrive after the first sort
        bool ascending;
    } cases[] = {
        {"new keys among the old", {5, 1, 4, 1, 3}, {2, 6, 0}, true},
        {"equal keys, descending", {2, 2, 1, 3, 1}, {2, 1, 3, 2}, false},
        {"all equal", {7, 7, 7}, {7, 7}, true},
        {"nothing arrives", {3, 1, 2}, {}, false},
        {"into an empty list", {}, {4, 4, 1}, true},
    };
    for (const Case& c : cases) {
        build(false, 0);
        std::vector<int> keys;
        auto add = [&](int key) {
            model.insertRow(model.rowCount(), 1);
            keys.push_back(key);
        };
        const auto compare = [&](int a, int b) {
            return keys[static_cast<std::size_t>(a)] - keys[static_cast<std::size_t>(b)];
        };
        for (int k : c.keys)
            add(k);
        model.sort(compare, c.ascending);
        std::vector<int> expected = model.displayOrder();
        for (int k : c.arrived) {
            add(k);
            expected.push_back(model.rowCount() - 1);
        }
        std::stable_sort(expected.begin(), expected.end(),
                         [&](int a, int b) { return c.ascending ? compare(a, b) < 0 : compare(a, b) > 0; });
        model.sort(compare, c.ascending);
        EXPECT_EQ(model.displayOrder(), expected) << c.name;
    }
}

TEST_F(ReportModelTest, ARowThatTakesTheFocusMarkMovesTheFocus)
{
    build(false, 5);
    model.click(1, false, false);
    model.moveFocusMark(3);
    EXPECT_EQ(model.focusedPosition(), 3);
    EXPECT_EQ(focusMarked(), Positions{3});
    EXPECT_EQ(selected(), Positions{1}); // the selection stays where it was
}

} // namespace

} // namespace orvalink::controls

namespace orvalink::controls {

// Virtual rows keep no row object, yet keys, clicks and sorting treat them exactly as real rows of
// the same height: the same inputs leave the same selection, focus, order and scroll position.
TEST(ReportModelVirtual, BehavesAsRealRowsAndKeepsOnlyTheMarkedStates)
{
    ReportModel real;
    ReportModel virt;
    for (ReportModel* m : {&real, &virt}) {
        m->setRowHeight(10);
        m->setViewHeight(100);
    }
    for (int i = 0; i < 40; ++i)
        real.insertRow(i, 1);
    ASSERT_TRUE(virt.setVirtualRows(40));
    EXPECT_EQ(virt.insertRow(0, 1), -1);
    EXPECT_FALSE(virt.deleteRow(0));
    const auto descending = [](int a, int b) { return b - a; };
    const auto byParity = [](int a, int b) { return (a % 2) - (b % 2); };
    const std::function<void(ReportModel&)> steps[] = {
        [](ReportModel& m) { m.click(3, false, false); },
        [](ReportModel& m) { m.key(ReportModel::Key::PageDown, true, false); },
        [&](ReportModel& m) { m.sort(descending, true); },
        [](ReportModel& m) { m.click(20, false, true); },
        [&](ReportModel& m) { m.sort(byParity, false); },
        [](ReportModel& m) { m.key(ReportModel::Key::End, true, false); },
        [](ReportModel& m) { m.key(ReportModel::Key::Up, false, true); },
        [](ReportModel& m) { m.key(ReportModel::Key::Space, false, true); },
    };
    for (std::size_t s = 0; s < std::size(steps); ++s) {
        SCOPED_TRACE(s);
        steps[s](real);
        steps[s](virt);
        EXPECT_EQ(virt.displayOrder(), real.displayOrder());
        EXPECT_EQ(virt.focusedPosition(), real.focusedPosition());
        EXPECT_EQ(virt.firstVisible(), real.firstVisible());
        EXPECT_EQ(virt.selectedCount(), real.selectedCount());
        for (int r = 0; r < 40; ++r)
            EXPECT_EQ(virt.rowState(r), real.rowState(r)) << "row " << r;
    }
    EXPECT_TRUE(virt.isVirtual());
    virt.clear();
    EXPECT_FALSE(virt.isVirtual());
    EXPECT_EQ(virt.rowCount(), 0);
}

} // namespace orvalink::controls
