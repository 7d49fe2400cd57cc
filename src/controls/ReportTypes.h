#pragma once

// Styles, descriptors and notifications of the report list control (CReportCtrl).

#include <QRect>
#include <cstdint>
#include <string>
#include <vector>

class QPainter;

namespace orvalink::controls {

// Control styles (low bits of the control's style).
inline constexpr int RCS_SINGLESEL = 0x1;
inline constexpr int RCS_SHOWSELALWAYS = 0x2;
inline constexpr int RCS_KEEPCOLORS = 0x4;
inline constexpr int RCS_ALTROWS = 0x8;
inline constexpr int RCS_HGRID = 0x10;
inline constexpr int RCS_VGRID = 0x20;
inline constexpr int RCS_NOHEADER = 0x40;
inline constexpr int RCS_NOSORT = 0x80;
inline constexpr int RCS_REMOVECOLUMNS = 0x100;

// Row states.
inline constexpr int RCIS_FOCUSED = 0x1;
inline constexpr int RCIS_SELECTED = 0x2;
inline constexpr int RCIS_BOLD = 0x4;

// ReportItem mask bits.
inline constexpr int RCIF_TEXT = 0x1;
inline constexpr int RCIF_TEXTCOLOR = 0x2;
inline constexpr int RCIF_IMAGE = 0x4;
inline constexpr int RCIF_CHECK = 0x8;
inline constexpr int RCIF_BKCOLOR = 0x10;
inline constexpr int RCIF_PREVIEW = 0x20;
inline constexpr int RCIF_STATE = 0x40;
inline constexpr int RCIF_DATA = 0x80;

// ReportSubItem format bits beyond the alignment (0 left, 1 right, 2 centred).
inline constexpr int RVCF_LEFT = 0;
inline constexpr int RVCF_RIGHT = 1;
inline constexpr int RVCF_CENTER = 2;
inline constexpr int RVCF_JUSTIFYMASK = 3;
inline constexpr int RVCF_IMAGE = 0x800;
inline constexpr int RVCF_TEXT = 0x4000;
inline constexpr int RVCF_SUBITEM_IMAGE = 0x1000000;
inline constexpr int RVCF_SUBITEM_CHECK = 0x2000000;
inline constexpr int RVCF_EXTRAFLAGS = 0xFF0000; // handed to the header as the item's extra flags

// Hit-test flags.
inline constexpr int RCHT_NOWHERE = 0x1;
inline constexpr int RCHT_ONIMAGE = 0x2;
inline constexpr int RCHT_ONCHECK = 0x4;
inline constexpr int RCHT_ONTEXT = 0x8;
inline constexpr int RCHT_ONPREVIEW = 0x10;
inline constexpr int RCHT_ABOVE = 0x100;
inline constexpr int RCHT_BELOW = 0x200;
inline constexpr int RCHT_TORIGHT = 0x400;
inline constexpr int RCHT_TOLEFT = 0x800;

// Notifications to the parent.
inline constexpr int RCN_DRAWPREVIEW = -2048;
inline constexpr int RCN_CLICK = -2049;
inline constexpr int RCN_DBLCLICK = -2050;
inline constexpr int RCN_STATECHANGING = -2051;
inline constexpr int RCN_STATECHANGED = -2052;
inline constexpr int RCN_COLUMNCLICK = -2053;

// Properties, set by number.
inline constexpr int RC_PROPERTY_SPACING = 1;
inline constexpr int RC_PROPERTY_CHECKSIZE = 2;
inline constexpr int RC_PROPERTY_EMPTYTEXT = 3;
inline constexpr int RC_PROPERTY_GRIDPEN = 4;

// Mouse key flags in notifications.
inline constexpr int MK_LBUTTON = 0x1;
inline constexpr int MK_SHIFT = 0x4;
inline constexpr int MK_CONTROL = 0x8;

// Longest cell text kept, in bytes.
inline constexpr std::size_t kMaxCellText = 255;

struct ReportSubItem {
    int format = RVCF_LEFT | RVCF_TEXT;
    int width = -1;  // negative: the default column width
    int extra1 = 0;  // minimum width handed to the header
    int extra2 = -1; // maximum width handed to the header; 0 or less: none
    int image = -1;
    std::string text;
};

// One cell of a row. Cells are kept as records, so any byte of a text (also "|") is kept.
struct ReportCell {
    int image = -1;
    int check = -1;     // -1 none, 0 unticked, other ticked
    int textColor = -1; // colour table index, -1 the normal colour
    std::string text;
};

struct ReportItem {
    int mask = 0;
    int item = -1;
    int subItem = -1;
    std::string text;
    std::size_t textMax = 0; // when reading: the longest text wanted, 0 = up to the cell limit
    int textColor = -1;
    int image = -1;
    int check = -1;
    int background = -1;
    int preview = 0;
    int state = 0;
    std::intptr_t data = 0;
};

struct ReportHitTest {
    QPoint point;
    int flags = 0;
    int item = -1;
    int subItem = -1;
};

struct ReportNotification {
    int code = 0;
    int item = -1; // row index
    int state = 0; // RCN_DRAWPREVIEW
    QPainter* painter = nullptr;
    QRect rect; // RCN_DRAWPREVIEW: the preview rectangle
    std::intptr_t data = 0;
    int keyFlags = 0;  // RCN_CLICK, RCN_DBLCLICK
    ReportHitTest hit; // RCN_CLICK, RCN_DBLCLICK
    int subItem = -1;  // RCN_COLUMNCLICK
};

} // namespace orvalink::controls
