#include "controls/ReportResources.h"

#include <QPainter>
#include <QPolygon>

QPixmap reportImageStrip()
{
    // Drawn here until the resource library provides bitmap 231: eight 16 x 16 images on
    // magenta, the background that the image list makes transparent.
    constexpr int count = 8;
    QPixmap strip(kReportImageWidth * count, 16);
    strip.fill(QColor(255, 0, 255));
    QPainter p(&strip);
    for (int i = 0; i < count; ++i) {
        const int x = i * kReportImageWidth;
        if (i == kReadMessageImage) {
            // An opened envelope.
            p.setPen(QColor(0, 0, 128));
            p.setBrush(QColor(255, 255, 224));
            p.drawRect(x + 1, 6, 13, 8);
            p.drawPolyline(QPolygon({QPoint(x + 1, 6), QPoint(x + 8, 1), QPoint(x + 14, 6)}));
            p.drawPolyline(QPolygon({QPoint(x + 1, 6), QPoint(x + 8, 11), QPoint(x + 14, 6)}));
        } else {
            // A closed envelope in a colour of its own.
            p.setPen(Qt::black);
            p.setBrush(QColor::fromHsv((i * 45) % 360, 160, 230));
            p.drawRect(x + 1, 3, 13, 10);
            p.drawPolyline(QPolygon({QPoint(x + 1, 3), QPoint(x + 8, 9), QPoint(x + 14, 3)}));
        }
    }
    return strip;
}
