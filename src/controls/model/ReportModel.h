#pragma once

// What the report list knows apart from pixels on a screen: its rows, the display order that
// sorting rearranges without moving the rows, which rows are selected, the focus and the anchor of
// a range, and which display positions are in view. The list widget paints it and hands it plain
// inputs (a key with its modifiers, a click on a position); the model applies the keyboard and mouse
// rules and asks the parent, through two callbacks, before a row's selection changes.
//
// Heights are in pixels: every row is rowHeight() tall plus its own preview height, and the view is
// viewHeight() tall. Scrolling is by whole rows: firstVisible() is the first display position shown.
// Positions index the display order; rows index the row list.

#include "controls/model/ReportBasics.h"

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

namespace orvalink::controls {

class ReportModel {
public:
    struct Row {
        std::vector<ReportCell> cells;
        int background = -1;
        int state = 0;
        int preview = 0;
        std::intptr_t data = 0;
    };

    enum class Key { Space, Up, Down, PageUp, PageDown, Home, End };

    // Asked before a row's selection changes; true keeps the row as it is. The parent may change
    // the rows while it is asked.
    std::function<bool(int row)> stateChanging;
    // Told after a row's selection changed.
    std::function<void(int row)> stateChanged;

    // With single selection a range or a toggle selects only the row the focus goes to.
    void setSingleSelection(bool single) { m_single = single; }
    bool singleSelection() const { return m_single; }
    void setRowHeight(int height) { m_rowHeight = height; }
    int rowHeight() const { return m_rowHeight; }
    void setViewHeight(int height) { m_viewHeight = height; }
    int viewHeight() const { return m_viewHeight; }

    // ---- rows ----
    int rowCount() const { return m_virtual ? m_virtualCount : static_cast<int>(m_rows.size()); }
    // Row r's cells and looks; not for virtual rows, which have none.
    Row& row(int r) { return m_rows[static_cast<std::size_t>(r)]; }
    const Row& row(int r) const { return m_rows[static_cast<std::size_t>(r)]; }
    // Replaces every row by `count` virtual rows: the model keeps only their display order and the
    // states of the rows selected or focused, never a row object; their cells are asked for by
    // whoever paints them. Row r of a virtual list is simply the r-th row of its owner. clear() ends
    // the virtual mode. False when memory ran out (the list is then empty).
    bool setVirtualRows(int count);
    bool isVirtual() const { return m_virtual; }
    // Inserts an empty row of cellCount cells at row index at (past the end: appended), shown at
    // display position at; the focus and anchor follow their rows. Returns its index, or -1 when
    // memory ran out (nothing changed then).
    int insertRow(int at, std::size_t cellCount);
    bool deleteRow(int row);
    // Deletes rows 0 to count - 1 in one pass, with the result of deleting row 0 count times.
    bool deleteFirstRows(int count);
    void clear();
    // A cell inserted at (erased from) column index in every row. Returns false when memory ran out
    // (nothing changed then).
    bool insertCells(int index);
    void eraseCells(int index);

    // ---- display order ----
    int rowAt(int position) const;
    int positionOf(int row) const;
    const std::vector<int>& displayOrder() const { return m_order; }
    // True while every row is shown at its own position (no sort has rearranged them).
    bool isNaturalOrder() const;
    // Stable: rows that compare equal keep their order. compare(row1, row2) < 0 puts row1 first
    // (ascending). The focus and anchor follow their rows; the focused row (or, without one, the
    // row at the bottom of the view) stays in view.
    void sort(const std::function<int(int row1, int row2)>& compare, bool ascending);

    // ---- view ----
    int firstVisible() const { return m_first; }
    int rowExtent(int position) const;
    // Rows that fit from position start forward (backward when backward is set).
    int rowsThatFit(int start, bool backward, bool partialOk) const;
    // The last scroll position: the first position from which the last row still fits.
    int bottomPosition() const;
    int lastFullyVisible() const;
    bool positionInView(int position) const;
    // Scrolls to position, kept between 0 and bottomPosition().
    void scrollTo(int position);
    // Keeps the first visible position inside 0 .. bottomPosition().
    void clampFirst();
    bool ensureVisible(int row, bool partialOk);
    // The display position at y pixels below the top of the view, or -1 below the last row;
    // onPreview tells whether y is in the row's preview area.
    int positionAt(int y, bool* onPreview = nullptr) const;

    // ---- focus and selection ----
    int focusedPosition() const { return m_focus; }
    int anchorPosition() const { return m_anchor; }
    int rowState(int row) const;
    int selectedCount() const;
    // Moves the focus mark (one row at most carries RCIS_FOCUSED) to position.
    void moveFocusMark(int position);
    // Focus to position focus; with selectRows, selects focus..other (toggled with toggle) and,
    // unless keepOthers, unselects the rest.
    void select(int focus, int other, bool selectRows, bool keepOthers, bool toggle);

    // ---- input ----
    // Returns false for a key the model does not handle.
    bool key(Key key, bool shift, bool ctrl);
    // A click on display position position.
    void click(int position, bool shift, bool ctrl);

private:
    bool changeSelected(int position, bool selected);
    void pageDown(bool shift);
    void pageUp(bool shift);

    int& stateOf(int row);

    std::vector<Row> m_rows;
    std::vector<int> m_order;
    bool m_virtual = false;
    int m_virtualCount = 0;
    // A virtual row's state when it is not 0.
    std::unordered_map<int, int> m_virtualStates;
    bool m_single = false;
    int m_rowHeight = 10;
    int m_viewHeight = 0;
    int m_first = 0;
    int m_focus = -1;
    int m_anchor = -1;
};

} // namespace orvalink::controls
