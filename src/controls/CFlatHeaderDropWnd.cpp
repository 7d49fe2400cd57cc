#include "controls/CFlatHeaderDropWnd.h"

#include <QPainter>
#include <QPolygon>
#include <QRegion>

namespace orvalink::controls {

CFlatHeaderDropWnd::CFlatHeaderDropWnd(int headerHeight)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    const int h = headerHeight + 2 * kOverhang;
    setFixedSize(kWidth, h);
    // The top arrow points down, the bottom one is its mirror image pointing up.
    const QPolygon down(
        {QPoint(8, 0), QPoint(8, 4), QPoint(11, 4), QPoint(6, 9), QPoint(1, 4), QPoint(4, 4), QPoint(4, 0)});
    QPolygon up;
    for (const QPoint& pt : down)
        up << QPoint(pt.x(), h - pt.y());
    setMask(QRegion(down) + QRegion(up));
}

QColor CFlatHeaderDropWnd::markerColor()
{
    return QColor(255, 0, 0);
}

void CFlatHeaderDropWnd::moveToDivider(int x, int headerTop, int headerHeight)
{
    if (height() != headerHeight + 2 * kOverhang) {
        const int h = headerHeight + 2 * kOverhang;
        setFixedSize(kWidth, h);
    }
    move(x - kWidth / 2, headerTop - kOverhang);
}

void CFlatHeaderDropWnd::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), markerColor());
}

} // namespace orvalink::controls
