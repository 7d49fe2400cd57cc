#pragma once

// The hot divider's marker: a top-most pop-up shaped as two red arrows, one above the header
// pointing down and one below pointing up, 12 pixels wide and the header's height + 20 high.

#include <QWidget>

namespace orvalink::controls {

class CFlatHeaderDropWnd : public QWidget {
    Q_OBJECT
public:
    explicit CFlatHeaderDropWnd(int headerHeight);
    // Places the arrows' tips on the divider at x, the header spanning headerTop..+headerHeight
    // (global coordinates).
    void moveToDivider(int x, int headerTop, int headerHeight);
    static constexpr int kWidth = 12;
    static constexpr int kOverhang = 10;
    static QColor markerColor();

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace orvalink::controls
