#pragma once

// Items, extras and notifications of the flat header (CFlatHeaderCtrl).

#include <QPixmap>
#include <QRect>
#include <cstdint>
#include <string>

class QPainter;

namespace orvalink::controls {

// Header styles.
inline constexpr int HDS_BUTTONS = 0x2;
inline constexpr int HDS_DRAGDROP = 0x40;
inline constexpr int HDS_FULLDRAG = 0x80;

// Item format bits.
inline constexpr int HDF_LEFT = 0;
inline constexpr int HDF_RIGHT = 1;
inline constexpr int HDF_CENTER = 2;
inline constexpr int HDF_JUSTIFYMASK = 3;
inline constexpr int HDF_IMAGE = 0x800;
inline constexpr int HDF_BITMAP_ON_RIGHT = 0x1000;
inline constexpr int HDF_BITMAP = 0x2000;
inline constexpr int HDF_STRING = 0x4000;
inline constexpr int HDF_OWNERDRAW = 0x8000;

// Item extra flags.
inline constexpr int HDFX_FITCONTENT = 0x1;
inline constexpr int HDFX_COUNTSORTARROW = 0x2;
inline constexpr int HDFX_FIXEDWIDTH = 0x4;

// Properties, set by number.
inline constexpr int FH_PROPERTY_SPACING = 1;
inline constexpr int FH_PROPERTY_ARROW = 2;
inline constexpr int FH_PROPERTY_EXTRAHEIGHT = 3;
inline constexpr int FH_PROPERTY_DRAGCURSOR = 4;
inline constexpr int FH_PROPERTY_DROPTARGET = 5;

// Notifications to the owner.
inline constexpr int HDN_ITEMCHANGED = -301;
inline constexpr int HDN_ITEMCLICK = -302;
inline constexpr int HDN_DIVIDERDBLCLICK = -305;
inline constexpr int HDN_BEGINDRAG = -310;
inline constexpr int HDN_ENDDRAG = -311;
inline constexpr int HDN_DRAWITEM = -399; // an owner-drawn item is to be painted

// Which fields of an item a change concerns.
inline constexpr int HDI_WIDTH = 0x1;
inline constexpr int HDI_TEXT = 0x2;
inline constexpr int HDI_FORMAT = 0x4;

struct HeaderItem {
    int width = 0;
    int format = HDF_LEFT;
    std::intptr_t data = 0; // owner's value (the report control keeps the subitem id here)
    int image = -1;
    std::string text;
    QPixmap bitmap;
};

struct HeaderItemExtra {
    int flags = 0;
    int minWidth = 0;
    int maxWidth = -1;
};

struct HeaderNotification {
    int code = 0;
    int item = -1;
    int changed = 0;             // HDI_* for HDN_ITEMCHANGED
    QPainter* painter = nullptr; // HDN_DRAWITEM
    QRect rect;                  // HDN_DRAWITEM
};

} // namespace orvalink::controls
