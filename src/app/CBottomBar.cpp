#include "app/CBottomBar_p.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <cstdio>

namespace orvalink::app {

using res::resourceBitmap;

CBottomBar::CBottomBar(QWidget* parent)
    : QWidget(parent), m_back(resourceBitmap(res::kBitmapBottomBarBack)),
      m_left(resourceBitmap(res::kBitmapBottomBarLeft)), m_right(resourceBitmap(res::kBitmapBottomBarRight)),
      m_grip(resourceBitmap(res::kBitmapBottomBarGrip))
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize CBottomBar::sizeHint() const
{
    const int h = std::max({m_back.height(), m_left.height(), m_right.height(), m_grip.height(), 20});
    return {200, h};
}

void CBottomBar::setMailCounts(int mailCount, int selectedMailCount)
{
    m_mailCount = mailCount;
    m_selectedMailCount = selectedMailCount;
    update();
}

void CBottomBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!m_back.isNull())
        p.drawTiledPixmap(rect(), m_back);
    p.drawPixmap(0, 0, m_left);
    p.drawPixmap(width() - m_right.width(), 0, m_right);
    p.drawPixmap(width() - m_right.width() - m_grip.width(), 0, m_grip);
    if (m_mailCount == 0)
        return;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d", m_mailCount);
    const QFontMetrics fm(font());
    p.drawText(width() - 132, 4 + fm.ascent(), platform::toQString(platform::utf8ToCp932("メール数 ") + buf));
    std::snprintf(buf, sizeof buf, "%d", m_selectedMailCount);
    p.drawText(0, 4 + fm.ascent(), platform::toQString(platform::utf8ToCp932("選択メール数 ") + buf));
}

void CBottomBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    QWidget* frame = window();
    // Where the window system can move the window itself, let it; otherwise follow the mouse.
    if (frame->windowHandle() && frame->windowHandle()->startSystemMove())
        return;
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - frame->frameGeometry().topLeft();
}

void CBottomBar::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        window()->move(event->globalPosition().toPoint() - m_dragOffset);
}

void CBottomBar::mouseReleaseEvent(QMouseEvent*)
{
    m_dragging = false;
}

} // namespace orvalink::app
