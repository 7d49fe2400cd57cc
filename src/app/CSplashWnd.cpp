#include "app/CSplashWnd_p.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace orvalink::app {

using res::resourceBitmap;

CSplashWnd::CSplashWnd(QWidget* owner)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_bitmap(resourceBitmap(res::kBitmapSplash))
{
    setFixedSize(kWidth, kHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(kWidth / 2, kHeight / 2));
}

void CSplashWnd::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_bitmap);
}

} // namespace orvalink::app
