#pragma once

// The program's pictures. Every bitmap, icon and cursor is drawn by the program itself the first
// time it is asked for, so the build needs no image files. Bitmaps keep the exact colours they
// were drawn with: a bitmap that has a transparent colour is painted on a background of exactly
// that colour, and maskedPixmap() turns it into a pixmap that shows through there.

#include <QColor>
#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>

class QPainter;

namespace orvalink::res {

// The bitmap with this id, exactly as drawn (opaque, 32-bit RGB); a null image for an unknown id.
QImage resourceImage(int id);
// The same as a pixmap; a null pixmap for an unknown id. Needs the GUI application.
QPixmap resourceBitmap(int id);
// The colour that stands for "transparent" in the bitmap with this id: RGB(255,0,0) for the
// tree images, RGB(255,0,255) for the right pane's strip, RGB(192,192,192) for the mail toolbar's
// strip; an invalid colour for opaque bitmaps and unknown ids.
QColor resourceTransparentColor(int id);
// The icon with this id, in the sizes 16, 32 and 48; a null icon for an unknown id.
QIcon resourceIcon(int id);
// The icon with this id drawn at size x size pixels on a transparent background (the desktop's
// icon theme wants sizes up to 256); a null image for an unknown id. Needs the GUI application.
QImage resourceIconImage(int id, int size);
// Draws the icon with this id into the size x size square at the painter's origin, with the same
// code as resourceIconImage, on any paint device (an SVG generator gives a scalable icon); false
// for an unknown id.
bool drawResourceIcon(int id, QPainter& painter, int size);
// The button pictures of the toolbar with this id, in button order; empty for an unknown id.
QList<QIcon> resourceToolbarIcons(int id);
// The cursor with this id; the arrow cursor for an unknown id.
QCursor resourceCursor(int id);

// image with every pixel of the transparent colour made fully transparent (exact RGB match).
// An invalid transparent colour leaves the pixels as they are.
QImage maskedImage(const QImage& image, const QColor& transparent);
QPixmap maskedPixmap(const QPixmap& pixmap, const QColor& transparent);
// Cuts a horizontal strip into images of imageWidth pixels (the strip's height), each masked
// with the transparent colour, from the left. A part narrower than imageWidth at the right end
// is dropped; a non-positive width gives no images.
QList<QPixmap> imageStrip(const QPixmap& strip, int imageWidth, const QColor& transparent);

} // namespace orvalink::res
