#pragma once

// Where a message list pane takes its rows from. The pane asks for what it shows when it shows
// it: the count and each new row's header, height and flags when the rows change, the body only
// while a row's preview is painted. The source may be a chat group, later a mail folder; the
// pane knows nothing of either.
//
// Rows are numbered 0 (oldest) to rowCount() - 1 (newest). A source may drop its oldest rows and
// add new ones between two refreshes of the pane: a row is found again by its serial number.

#include <cstdint>
#include <string_view>

namespace orvalink::controls {

struct ReportSourceRow {
    std::string_view header;  // the cell's text (the pane keeps the first 255 bytes)
    int height = 0;           // preview height in pixels
    bool personal = false;    // drawn in the personal row's colours
    bool unread = false;      // unread: with a preview; read: one line with the "read" image
    std::uint64_t serial = 0; // rising number of the row among all rows (0 = not numbered)
    std::string_view from;    // whom a reply goes to
};

class ReportRowSource {
public:
    virtual ~ReportRowSource() = default;

    virtual int rowCount() const = 0;
    // Row i; the texts stay valid until the source changes. i must be below rowCount().
    virtual ReportSourceRow row(int i) const = 0;
    virtual std::string_view body(int i) const = 0;
    // The index of the row numbered serial, or -1 when it is gone. hint is where it was last
    // (an unnumbered row is taken to be still there).
    virtual int find(std::uint64_t serial, int hint) const = 0;
    // The user opened row i: it is read from now on.
    virtual void markRead(int i) = 0;
};

} // namespace orvalink::controls
