#include "controls/ImageList.h"

#include <QBitmap>
#include <QColor>
#include <QPainter>
#include <algorithm>

namespace orvalink::controls {

ImageList::ImageList(const QPixmap& strip, int imageWidth, std::optional<QColor> transparent)
    : m_strip(strip), m_width(imageWidth), m_height(strip.height())
{
    if (imageWidth <= 0 || strip.isNull()) {
        m_strip = QPixmap();
        m_width = m_height = 0;
        return;
    }
    if (transparent)
        m_strip.setMask(m_strip.createMaskFromColor(*transparent, Qt::MaskInColor));
    m_count = strip.width() / imageWidth;
}

bool ImageList::draw(QPainter& painter, int index, int x, int y, int maxWidth) const
{
    if (index < 0 || index >= m_count)
        return false;
    const int w = std::min(m_width, maxWidth);
    if (w <= 0)
        return true;
    painter.drawPixmap(x, y, m_strip, index * m_width, 0, w, m_height);
    return true;
}

QPixmap ImageList::image(int index) const
{
    if (index < 0 || index >= m_count)
        return {};
    return m_strip.copy(index * m_width, 0, m_width, m_height);
}

} // namespace orvalink::controls
