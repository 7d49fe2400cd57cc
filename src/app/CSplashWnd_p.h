#pragma once

// The splash window shown for the first moments of a start: 259 x 191 pixels, centred, showing
// bitmap 139 at its top-left corner.

#include <QPixmap>
#include <QWidget>

namespace orvalink::app {

class CSplashWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 259;
    static constexpr int kHeight = 191;

    explicit CSplashWnd(QWidget* owner);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_bitmap;
};

} // namespace orvalink::app
