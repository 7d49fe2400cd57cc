#pragma once

// The heading that follows the cursor while a column is dragged: a top-most, non-activating
// pop-up drawn as a raised face-coloured box with the heading inside, as the header draws it.

#include "controls/FlatHeaderTypes.h"

#include <QWidget>

namespace orvalink::controls {

class CFlatHeaderCtrl;

class CFlatHeaderDragWnd : public QWidget {
    Q_OBJECT
public:
    // rect: the heading's rectangle in global coordinates.
    CFlatHeaderDragWnd(const QRect& rect, const CFlatHeaderCtrl* header, const HeaderItem& item);
    void centreOn(QPoint globalPoint);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const CFlatHeaderCtrl* m_header;
    HeaderItem m_item;
};

} // namespace orvalink::controls
