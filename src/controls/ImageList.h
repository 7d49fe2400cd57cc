#pragma once

// A list of equal-sized images cut from one horizontal strip, with an optional colour that is
// drawn transparent (the program's strips use magenta).

#include <QPixmap>
#include <optional>

class QColor;

class QPainter;

namespace orvalink::controls {

class ImageList {
public:
    ImageList() = default;
    // strip holds the images side by side, each imageWidth wide and as high as the strip.
    ImageList(const QPixmap& strip, int imageWidth, std::optional<QColor> transparent);

    bool isNull() const { return m_count == 0; }
    int count() const { return m_count; }
    int imageWidth() const { return m_width; }
    int imageHeight() const { return m_height; }

    // Draws image index with its top left at (x, y), no wider than maxWidth. False for an index
    // outside the list.
    bool draw(QPainter& painter, int index, int x, int y, int maxWidth) const;
    QPixmap image(int index) const;

private:
    QPixmap m_strip;
    int m_width = 0;
    int m_height = 0;
    int m_count = 0;
};

} // namespace orvalink::controls
