#pragma once

// Helpers shared by the control tests: a shown, active top-level window, and reading pixels.

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <cstdlib>

namespace orvalink::controls {

inline void showActive(QWidget* w)
{
    w->show();
    QApplication::setActiveWindow(w->window());
    (void)QTest::qWaitForWindowExposed(w->window());
}

inline QImage grabImage(QWidget* w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline bool near(QColor a, QColor b, int tolerance = 8)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// Pixels of colour c inside rect.
inline int countColour(const QImage& img, QRect rect, QColor c, int tolerance = 8)
{
    int n = 0;
    rect = rect.intersected(img.rect());
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (near(img.pixelColor(x, y), c, tolerance))
                ++n;
    return n;
}

// Bounding box of the pixels in rect that differ from background.
inline QRect inkBox(const QImage& img, QRect rect, QColor background)
{
    QRect box;
    rect = rect.intersected(img.rect());
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (!near(img.pixelColor(x, y), background, 24))
                box |= QRect(x, y, 1, 1);
    return box;
}

// A pointer move with no button held, delivered straight to the widget.
inline void hover(QWidget* w, QPoint pos)
{
    QMouseEvent e(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace orvalink::controls
