#include "platform/WindowPlacement.h"

#include "platform/Profile.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace orvalink::platform {

namespace {

QMargins frameMargins(const QWidget& w)
{
    if (const QWindow* handle = w.windowHandle())
        return handle->frameMargins();
    const QRect f = w.frameGeometry();
    const QRect c = w.geometry();
    return {c.left() - f.left(), c.top() - f.top(), f.right() - c.right(), f.bottom() - c.bottom()};
}

void apply(QWidget& w, const QRect& frame, const QMargins& m)
{
    w.resize(std::max(1, frame.width() - m.left() - m.right()), std::max(1, frame.height() - m.top() - m.bottom()));
    w.move(frame.topLeft()); // a top-level window's position is its frame's
}

// Until the window manager has framed the window its borders are unknown: the client area is sized
// again once they are.
class FramePlacer : public QObject {
public:
    FramePlacer(QWidget& window, const QRect& frame) : QObject(&window), m_window(&window), m_frame(frame)
    {
        setObjectName("FramePlacer");
        window.installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_window ||
            (event->type() != QEvent::Move && event->type() != QEvent::Resize && event->type() != QEvent::Show))
            return false;
        const QMargins m = frameMargins(*m_window);
        if (m.isNull())
            return false;
        m_window->removeEventFilter(this);
        apply(*m_window, m_frame, m);
        deleteLater();
        return false;
    }

private:
    QPointer<QWidget> m_window;
    QRect m_frame;
};

} // namespace

QRect storedFrameRect(const char* section)
{
    const auto& p = Profile::application();
    const int left = p.getInt(section, "Left", 1);
    const int top = p.getInt(section, "top", 1);
    const int right = p.getInt(section, "Right", 300);
    const int bottom = p.getInt(section, "Bottom", 300);
    return QRect(left, top, std::max(right - left, 1), std::max(bottom - top, 1));
}

void storeFrameRect(const QWidget& window, const char* section)
{
    auto& p = Profile::application();
    const QRect r = window.frameGeometry();
    p.writeInt(section, "Left", r.left());
    p.writeInt(section, "top", r.top());
    p.writeInt(section, "Right", r.left() + r.width());
    p.writeInt(section, "Bottom", r.top() + r.height());
}

QRect onAvailableArea(const QRect& frame, const QList<QRect>& availableAreas)
{
    if (availableAreas.isEmpty())
        return frame;
    const QRect* best = &availableAreas.front();
    long long bestOverlap = -1;
    for (const QRect& area : availableAreas) {
        if (area.contains(frame))
            return frame;
        const QRect common = area.intersected(frame);
        const long long overlap = common.isEmpty() ? 0 : static_cast<long long>(common.width()) * common.height();
        if (overlap > bestOverlap) {
            bestOverlap = overlap;
            best = &area;
        }
    }
    const QRect& area = *best;
    QRect r(frame.topLeft(), QSize(std::min(frame.width(), area.width()), std::min(frame.height(), area.height())));
    r.moveLeft(std::clamp(r.left(), area.left(), area.left() + area.width() - r.width()));
    r.moveTop(std::clamp(r.top(), area.top(), area.top() + area.height() - r.height()));
    return r;
}

QRect onAvailableScreen(const QRect& frame)
{
    QList<QRect> areas;
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        areas.push_back(primary->availableGeometry());
    for (const QScreen* s : QGuiApplication::screens())
        if (s != QGuiApplication::primaryScreen())
            areas.push_back(s->availableGeometry());
    return onAvailableArea(frame, areas);
}

void placeFrame(QWidget& window, const QRect& frame)
{
    for (QObject* earlier : window.findChildren<QObject*>("FramePlacer", Qt::FindDirectChildrenOnly)) {
        window.removeEventFilter(earlier);
        delete earlier;
    }
    const QRect r = onAvailableScreen(frame);
    const QMargins m = frameMargins(window);
    apply(window, r, m);
    if (m.isNull())
        new FramePlacer(window, r);
}

} // namespace orvalink::platform
