#include "controls/CFlatHeaderDragWnd.h"

#include "controls/CFlatHeaderCtrl.h"

#include <QPainter>
#include <qdrawutil.h>

namespace orvalink::controls {

CFlatHeaderDragWnd::CFlatHeaderDragWnd(const QRect& rect, const CFlatHeaderCtrl* header, const HeaderItem& item)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      m_header(header), m_item(item)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFont(header->font());
    setPalette(header->palette());
    setGeometry(rect);
}

void CFlatHeaderDragWnd::centreOn(QPoint globalPoint)
{
    move(globalPoint - QPoint(width() / 2, height() / 2));
}

void CFlatHeaderDragWnd::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Button));
    qDrawShadePanel(&p, rect(), palette(), false, 1);
    p.setFont(font());
    p.setPen(palette().color(QPalette::ButtonText));
    const int sp = m_header->spacing();
    m_header->drawHeading(p, rect().adjusted(sp, 0, -sp, 0), m_item, false, true);
}

} // namespace orvalink::controls
