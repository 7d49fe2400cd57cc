#include "app/CMainFrame.h"

#include <QCloseEvent>

#include "app/COrvalinkApp.h"
#include "chat/ChatGroupTable.h"
#include "chat/CNetMsgThread.h"
#include "platform/Profile.h"

namespace {

constexpr const char* kMainWindow = "MainWindow Entry";

// The frame's face towards window messages: other parts of the program address the main window
// through this target, which hands every message to the frame on the main thread.
class FrameTarget : public platform::MessageTarget {
public:
    explicit FrameTarget(CMainFrame* frame) : m_frame(frame) {}
    std::intptr_t windowProc(platform::WindowMessage& msg) override { return m_frame->windowProc(msg); }

private:
    CMainFrame* m_frame;
};

} // namespace

CMainFrame::CMainFrame(COrvalinkApp* app) : m_app(app), m_target(std::make_unique<FrameTarget>(this)) {}

std::intptr_t CMainFrame::windowProc(platform::WindowMessage& msg)
{
    (void)msg;
    return 0;
}

CMainFrame::~CMainFrame() { destroyWindow(); }

bool CMainFrame::create()
{
    chatGroupTable().mainFrame = m_target.get();
    auto& profile = platform::Profile::application();
    const int left = profile.getInt(kMainWindow, "Left", 1);
    const int top = profile.getInt(kMainWindow, "top", 1);
    const int right = profile.getInt(kMainWindow, "Right", 300);
    const int bottom = profile.getInt(kMainWindow, "Bottom", 300);
    setGeometry(left, top, std::max(1, right - left), std::max(1, bottom - top));
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // The close box only hides the window: the program keeps running in the notification area.
    if (!m_destroyed) {
        event->ignore();
        hide();
        return;
    }
    event->accept();
}

void CMainFrame::saveWindowRect()
{
    auto& profile = platform::Profile::application();
    const QRect r = geometry();
    profile.writeInt(kMainWindow, "Left", r.left());
    profile.writeInt(kMainWindow, "top", r.top());
    profile.writeInt(kMainWindow, "Right", r.left() + r.width());
    profile.writeInt(kMainWindow, "Bottom", r.top() + r.height());
    profile.writeInt(kMainWindow, "ColmSort", m_app ? m_app->sortColumn : 0);
    profile.writeInt(kMainWindow, "ColmSortsw", m_app ? m_app->sortAscending : 0);
}

void CMainFrame::destroyWindow()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    ChatGroupTable& table = chatGroupTable();
    for (int g = 0; g < table.groupCount; ++g)
        stopGroupListener(g, true);
    saveWindowRect();
    if (table.mainFrame == m_target.get())
        table.mainFrame = nullptr;
    hide();
    emit windowDestroyed();
}
