#include "controls/model/ReportModel.h"

#include <algorithm>
#include <new>

namespace orvalink::controls {

// ---- rows ----

int ReportModel::insertRow(int at, std::size_t cellCount)
{
    if (m_virtual)
        return -1;
    const int n = rowCount();
    const int row = (at < 0 || at > n) ? n : at;
    try {
        Row r;
        r.cells.resize(cellCount);
        m_rows.insert(m_rows.begin() + row, std::move(r));
        try {
            if (row < n) {
                for (int& o : m_order)
                    if (o >= row)
                        ++o;
            }
            m_order.insert(m_order.begin() + row, row);
        } catch (const std::bad_alloc&) {
            if (row < n)
                for (int& o : m_order)
                    if (o > row)
                        --o;
            m_rows.erase(m_rows.begin() + row);
            return -1;
        }
    } catch (const std::bad_alloc&) {
        return -1;
    }
    // Positions from the new one on moved down by one; the focus and anchor follow their rows.
    if (m_focus >= row)
        ++m_focus;
    if (m_anchor >= row)
        ++m_anchor;
    return row;
}

bool ReportModel::deleteRow(int row)
{
    if (m_virtual || row < 0 || row >= rowCount())
        return false;
    const int pos = positionOf(row);
    m_rows.erase(m_rows.begin() + row);
    m_order.erase(m_order.begin() + pos);
    for (int& o : m_order)
        if (o > row)
            --o;
    const int n = rowCount();
    if (m_focus == pos)
        m_focus = -1;
    else if (m_focus > pos)
        --m_focus;
    if (m_anchor > pos || m_anchor >= n)
        --m_anchor;
    // Rows above the view moving out keep the same rows in view.
    if (pos < m_first)
        --m_first;
    return true;
}

bool ReportModel::deleteFirstRows(int count)
{
    if (m_virtual || count < 0 || count > rowCount())
        return false;
    if (count == 0)
        return true;
    // One pass over the display order: a position that stays moves up by the rows removed above
    // it; the focus on a removed row is lost, the anchor and the first visible position keep
    // pointing at the position the next remaining row takes.
    const int oldFocus = m_focus;
    const int oldAnchor = m_anchor;
    const int oldFirst = m_first;
    int newFocus = -1;
    int newAnchor = oldAnchor;
    int newFirst = oldFirst;
    int kept = 0;
    for (int p = 0; p < static_cast<int>(m_order.size()); ++p) {
        const int r = m_order[static_cast<std::size_t>(p)];
        if (p == oldAnchor)
            newAnchor = kept;
        if (p == oldFirst)
            newFirst = kept;
        if (r < count)
            continue;
        if (p == oldFocus)
            newFocus = kept;
        m_order[static_cast<std::size_t>(kept++)] = r - count;
    }
    m_order.resize(static_cast<std::size_t>(kept));
    m_rows.erase(m_rows.begin(), m_rows.begin() + count);
    const int n = rowCount();
    m_focus = newFocus;
    m_anchor = oldAnchor < 0 ? oldAnchor : std::min(newAnchor, n - 1);
    m_first = newFirst;
    return true;
}

void ReportModel::clear()
{
    m_rows.clear();
    m_order.clear();
    m_virtual = false;
    m_virtualCount = 0;
    m_virtualStates.clear();
    m_first = 0;
    m_focus = -1;
    m_anchor = -1;
}

bool ReportModel::setVirtualRows(int count)
{
    clear();
    try {
        m_order.resize(static_cast<std::size_t>(std::max(0, count)));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::size_t i = 0; i < m_order.size(); ++i)
        m_order[i] = static_cast<int>(i);
    m_virtual = true;
    m_virtualCount = static_cast<int>(m_order.size());
    return true;
}

int& ReportModel::stateOf(int row)
{
    return m_virtual ? m_virtualStates[row] : m_rows[static_cast<std::size_t>(row)].state;
}

bool ReportModel::insertCells(int index)
{
    std::size_t done = 0;
    try {
        for (Row& r : m_rows) {
            r.cells.insert(r.cells.begin() + index, ReportCell{});
            ++done;
        }
    } catch (const std::bad_alloc&) {
        for (std::size_t i = 0; i < done; ++i)
            m_rows[i].cells.erase(m_rows[i].cells.begin() + index);
        return false;
    }
    return true;
}

void ReportModel::eraseCells(int index)
{
    for (Row& r : m_rows)
        r.cells.erase(r.cells.begin() + index);
}

// ---- display order ----

int ReportModel::rowAt(int position) const
{
    return position >= 0 && position < rowCount() ? m_order[static_cast<std::size_t>(position)] : -1;
}

int ReportModel::positionOf(int row) const
{
    const auto it = std::find(m_order.begin(), m_order.end(), row);
    return it == m_order.end() ? -1 : static_cast<int>(it - m_order.begin());
}

bool ReportModel::isNaturalOrder() const
{
    for (std::size_t i = 0; i < m_order.size(); ++i)
        if (m_order[i] != static_cast<int>(i))
            return false;
    return true;
}

void ReportModel::sort(const std::function<int(int, int)>& compare, bool ascending)
{
    const int focusedRow = rowAt(m_focus);
    const int anchorRow = rowAt(m_anchor);
    // Without a focused row, the row at the bottom of the view stays in view: in a list kept
    // scrolled to its newest row, a descending sort shows that row at the top.
    const int keptRow = focusedRow >= 0 ? focusedRow : rowAt(std::min(lastFullyVisible(), rowCount() - 1));
    // Stable, so rows that compare equal keep their order (a list re-sorted as rows arrive does not
    // shuffle them). The list is sorted again whenever rows arrive, and new rows come at the end of
    // the order: the part before them is in order already, so only they are sorted and then merged
    // in, which gives the order a stable sort of the whole list gives.
    const auto less = [&](int a, int b) {
        const int c = compare(a, b);
        return ascending ? c < 0 : c > 0;
    };
    const auto sortedEnd = std::is_sorted_until(m_order.begin(), m_order.end(), less);
    std::stable_sort(sortedEnd, m_order.end(), less);
    std::inplace_merge(m_order.begin(), sortedEnd, m_order.end(), less);
    m_anchor = positionOf(anchorRow);
    if (focusedRow >= 0)
        m_focus = positionOf(focusedRow);
    if (keptRow >= 0)
        ensureVisible(keptRow, false);
}

// ---- view ----

int ReportModel::rowExtent(int position) const
{
    if (m_virtual)
        return m_rowHeight;
    return m_rowHeight + m_rows[static_cast<std::size_t>(m_order[static_cast<std::size_t>(position)])].preview;
}

int ReportModel::rowsThatFit(int start, bool backward, bool partialOk) const
{
    const int n = rowCount();
    int room = m_viewHeight;
    int count = 0;
    for (int p = start; p >= 0 && p < n; p += backward ? -1 : 1) {
        const int h = rowExtent(p);
        if (h > room) {
            if (partialOk && room > 0)
                ++count;
            break;
        }
        room -= h;
        ++count;
    }
    return count;
}

int ReportModel::bottomPosition() const
{
    const int n = rowCount();
    if (n == 0)
        return 0;
    return std::max(0, n - std::max(1, rowsThatFit(n - 1, true, false)));
}

int ReportModel::lastFullyVisible() const
{
    return m_first + std::max(1, rowsThatFit(m_first, false, false)) - 1;
}

bool ReportModel::positionInView(int position) const
{
    return position >= m_first && position < m_first + std::max(1, rowsThatFit(m_first, false, true));
}

void ReportModel::scrollTo(int position)
{
    m_first = std::clamp(position, 0, bottomPosition());
}

void ReportModel::clampFirst()
{
    m_first = std::clamp(m_first, 0, bottomPosition());
}

bool ReportModel::ensureVisible(int row, bool partialOk)
{
    const int p = positionOf(row);
    if (p < 0)
        return false;
    if (p < m_first) {
        scrollTo(p);
    } else {
        const int fit = rowsThatFit(m_first, false, partialOk);
        if (p >= m_first + std::max(1, fit))
            scrollTo(p - std::max(1, rowsThatFit(p, true, partialOk)) + 1);
    }
    return true;
}

int ReportModel::positionAt(int y, bool* onPreview) const
{
    int top = 0;
    for (int p = m_first; p < rowCount() && top < m_viewHeight; ++p) {
        const int h = rowExtent(p);
        if (y < top + h) {
            if (onPreview)
                *onPreview = y >= top + m_rowHeight;
            return p;
        }
        top += h;
    }
    return -1;
}

// ---- focus and selection ----

int ReportModel::rowState(int row) const
{
    if (row < 0 || row >= rowCount())
        return 0;
    if (!m_virtual)
        return m_rows[static_cast<std::size_t>(row)].state;
    const auto it = m_virtualStates.find(row);
    return it == m_virtualStates.end() ? 0 : it->second;
}

int ReportModel::selectedCount() const
{
    int n = 0;
    if (m_virtual) {
        for (const auto& [row, state] : m_virtualStates)
            n += (state & RCIS_SELECTED) ? 1 : 0;
        return n;
    }
    for (const Row& r : m_rows)
        n += (r.state & RCIS_SELECTED) ? 1 : 0;
    return n;
}

void ReportModel::moveFocusMark(int position)
{
    if (m_focus >= 0 && m_focus < rowCount()) {
        const int row = m_order[static_cast<std::size_t>(m_focus)];
        if ((stateOf(row) &= ~RCIS_FOCUSED) == 0 && m_virtual)
            m_virtualStates.erase(row);
    }
    m_focus = position;
    if (position >= 0 && position < rowCount())
        stateOf(m_order[static_cast<std::size_t>(position)]) |= RCIS_FOCUSED;
}

bool ReportModel::changeSelected(int position, bool selected)
{
    if (position < 0 || position >= rowCount())
        return false;
    const int r = m_order[static_cast<std::size_t>(position)];
    const bool now = (rowState(r) & RCIS_SELECTED) != 0;
    if (now == selected)
        return false;
    if (stateChanging && stateChanging(r))
        return false;
    // The parent may have changed the rows while it was asked.
    if (r >= rowCount())
        return false;
    int& changed = stateOf(r);
    changed = selected ? (changed | RCIS_SELECTED) : (changed & ~RCIS_SELECTED);
    if (changed == 0 && m_virtual)
        m_virtualStates.erase(r);
    if (stateChanged)
        stateChanged(r);
    return true;
}

void ReportModel::select(int focus, int other, bool selectRows, bool keepOthers, bool toggle)
{
    const int n = rowCount();
    if (focus < 0 || focus >= n)
        return;
    if (m_single) {
        other = focus;
        toggle = false;
        keepOthers = false;
    }
    other = std::clamp(other, 0, n - 1);
    moveFocusMark(focus);
    if (!selectRows)
        return;
    const int lo = std::min(focus, other);
    const int hi = std::max(focus, other);
    for (int p = lo; p <= hi && p < rowCount(); ++p) {
        const bool isSelected = (rowState(m_order[static_cast<std::size_t>(p)]) & RCIS_SELECTED) != 0;
        changeSelected(p, toggle ? !isSelected : true);
    }
    if (!keepOthers)
        for (int p = 0; p < rowCount(); ++p)
            if (p < lo || p > hi)
                changeSelected(p, false);
}

// ---- input ----

bool ReportModel::key(Key key, bool shift, bool ctrl)
{
    const int n = rowCount();
    const int anchor = (m_anchor >= 0 && m_anchor < n) ? m_anchor : std::max(0, m_focus);
    switch (key) {
    case Key::Space:
        if (m_focus >= 0 && m_focus < n)
            select(m_focus, m_focus, true, true, false);
        return true;
    case Key::Up:
    case Key::Down: {
        if (n == 0)
            return true;
        const int step = key == Key::Up ? -1 : 1;
        const int f = m_focus < 0 ? 0 : std::clamp(m_focus + step, 0, n - 1);
        if (shift) {
            select(f, anchor, true, false, false);
            m_anchor = anchor;
        } else if (ctrl) {
            select(f, f, false, false, false);
            m_anchor = f;
        } else {
            select(f, f, true, false, false);
            m_anchor = f;
        }
        ensureVisible(rowAt(f), false);
        return true;
    }
    case Key::PageDown:
        pageDown(shift);
        return true;
    case Key::PageUp:
        pageUp(shift);
        return true;
    case Key::Home:
        if (n == 0 || m_focus == 0)
            return true;
        scrollTo(0);
        if (!shift)
            m_anchor = 0;
        select(0, m_anchor, true, false, false);
        return true;
    case Key::End:
        if (n == 0)
            return true;
        scrollTo(bottomPosition());
        m_anchor = shift ? anchor : n - 1;
        select(m_anchor, n - 1, true, false, false);
        return true;
    }
    return false;
}

void ReportModel::pageDown(bool shift)
{
    const int n = rowCount();
    if (n == 0)
        return;
    if (m_focus == lastFullyVisible())
        scrollTo(m_first + std::max(1, rowsThatFit(m_first, false, false)));
    const int f = std::min(n - 1, lastFullyVisible());
    const int anchor = (m_anchor >= 0 && m_anchor < n) ? m_anchor : f;
    if (shift) {
        select(f, anchor, true, false, false);
    } else {
        select(f, f, true, false, false);
        m_anchor = f;
    }
}

void ReportModel::pageUp(bool shift)
{
    const int n = rowCount();
    if (n == 0)
        return;
    if (m_focus == m_first)
        scrollTo(m_first - std::max(1, rowsThatFit(m_first - 1, true, false)));
    const int f = m_first;
    const int anchor = (m_anchor >= 0 && m_anchor < n) ? m_anchor : f;
    if (shift) {
        select(f, anchor, true, false, false);
    } else {
        select(f, f, true, false, false);
        m_anchor = f;
    }
}

void ReportModel::click(int position, bool shift, bool ctrl)
{
    if (position < 0 || position >= rowCount())
        return;
    const int d = position;
    const int anchor = (m_anchor >= 0 && m_anchor < rowCount()) ? m_anchor : d;
    if (ctrl && shift) {
        select(d, anchor, true, true, false);
        m_anchor = d;
    } else if (ctrl) {
        select(d, d, true, true, true);
        m_anchor = d;
    } else if (shift) {
        select(anchor, d, true, false, false);
        m_anchor = anchor;
    } else {
        select(d, d, true, false, false);
        m_anchor = d;
    }
}

} // namespace orvalink::controls
