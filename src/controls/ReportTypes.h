#pragma once

// Styles, descriptors and notifications of the report list control (CReportCtrl).

#include "controls/model/ReportBasics.h"

#include <QRect>
#include <cstdint>

class QPainter;

namespace orvalink::controls {

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
