#include "controls/TextContrast.h"

#include <algorithm>
#include <cmath>

namespace orvalink::controls {

namespace {

double linear(int channel)
{
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

QColor blend(const QColor& from, const QColor& to, int step, int steps)
{
    auto mix = [&](int a, int b) { return (a * (steps - step) + b * step + steps / 2) / steps; };
    return QColor(mix(from.red(), to.red()), mix(from.green(), to.green()), mix(from.blue(), to.blue()));
}

} // namespace

double relativeLuminance(const QColor& c)
{
    const QColor rgb = c.toRgb();
    return 0.2126 * linear(rgb.red()) + 0.7152 * linear(rgb.green()) + 0.0722 * linear(rgb.blue());
}

double contrastRatio(const QColor& a, const QColor& b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor legibleOn(const QColor& text, const QColor& background, double minimum)
{
    const QColor opaque = text.toRgb();
    if (contrastRatio(opaque, background) >= minimum)
        return opaque;
    constexpr int kSteps = 64;
    for (int step = 1; step <= kSteps; ++step) {
        const QColor lighter = blend(opaque, Qt::white, step, kSteps);
        const QColor darker = blend(opaque, Qt::black, step, kSteps);
        const double l = contrastRatio(lighter, background);
        const double d = contrastRatio(darker, background);
        if (l >= minimum || d >= minimum)
            return l >= d ? lighter : darker;
    }
    return contrastRatio(Qt::white, background) >= contrastRatio(Qt::black, background) ? QColor(Qt::white)
                                                                                        : QColor(Qt::black);
}

} // namespace orvalink::controls
