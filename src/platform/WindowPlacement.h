#pragma once

// Window rectangles: the settings store keeps a window's rectangle as "Left", "top", "Right",
// "Bottom" (defaults 1, 1, 300, 300) in screen coordinates. The rectangle is the window's frame,
// title bar and borders included, so a window put back where it was stays where the user can grab
// it; one that lies on no available screen (a screen since removed, a hand-edited store) is moved
// onto one.

#include <QList>
#include <QRect>

class QWidget;

namespace orvalink::platform {

QRect storedFrameRect(const char* section);
void storeFrameRect(const QWidget& window, const char* section);

// The rectangle where it lies wholly inside one of the available areas; otherwise moved, and cut
// to size where it is larger, into the area it overlaps most (the first area when it overlaps
// none).
QRect onAvailableArea(const QRect& frame, const QList<QRect>& availableAreas);
// The same against the available areas of the screens there are.
QRect onAvailableScreen(const QRect& frame);

// Gives a top-level window the frame rectangle, moved onto an available screen: its position is
// the frame's, its client area the frame less the window manager's borders once the window system
// tells them (when the window is first shown). A later call replaces an earlier one.
void placeFrame(QWidget& window, const QRect& frame);

} // namespace orvalink::platform
