#pragma once

// The bar along the bottom of the main window. It paints its four bitmaps and, while the
// application holds a mail count other than 0, "メール数 %d" near its right end and
// "選択メール数 %d" at its left; pressing the left button in it drags the main window.

#include <QPixmap>
#include <QPoint>
#include <QWidget>

namespace orvalink::app {

class CBottomBar : public QWidget {
    Q_OBJECT
    // What the bar paints, for readers that cannot see its pixels.
    Q_PROPERTY(int mailCount READ mailCount)
    Q_PROPERTY(int selectedMailCount READ selectedMailCount)
public:
    explicit CBottomBar(QWidget* parent = nullptr);

    void setMailCounts(int mailCount, int selectedMailCount);
    int mailCount() const { return m_mailCount; }
    int selectedMailCount() const { return m_selectedMailCount; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap m_back, m_left, m_right, m_grip;
    int m_mailCount = 0;
    int m_selectedMailCount = 0;
    bool m_dragging = false;
    QPoint m_dragOffset;
};

} // namespace orvalink::app
