#pragma once

// Text that can be read on the colour behind it. The contrast ratio of two colours is
// (L1 + 0.05) / (L2 + 0.05) of their relative luminances, the lighter first (1 to 21); body text
// needs at least 4.5. A row may keep a colour that marks it (a personal message's purple) while
// its text is moved towards white or black, as little as that takes.

#include <QColor>

namespace orvalink::controls {

inline constexpr double kMinimumRatio = 4.5;

// Relative luminance of an sRGB colour, 0 (black) to 1 (white).
double relativeLuminance(const QColor& c);
double contrastRatio(const QColor& a, const QColor& b);

// text itself when it reaches minimum on background; otherwise text blended with white or black,
// whichever reaches minimum with less of a change (black or white always reaches 4.5).
QColor legibleOn(const QColor& text, const QColor& background, double minimum = kMinimumRatio);

} // namespace orvalink::controls
