#pragma once

// The main window. It starts hidden (the program lives in the notification area), hides instead
// of closing, and shuts the chat side down when it is destroyed: every group's leave notice goes
// out through its listener, sockets are drained and deleted, listener threads are ended and
// waited for, and the window rectangle is saved.

#include <QMainWindow>

#include <cstdint>
#include <memory>

#include "platform/MessageTarget.h"

class COrvalinkApp;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(COrvalinkApp* app);
    ~CMainFrame() override;

    // Window creation: records the frame in the group table, restores the saved rectangle.
    bool create();

    // Ends the program in order (the tray menu's exit, SIGTERM, SIGINT). Runs once.
    void destroyWindow();
    bool destroyed() const { return m_destroyed; }

    // Window messages sent to the main window (WM_CHAT_ROWS_CHANGED and the tray's callback).
    std::intptr_t windowProc(platform::WindowMessage& msg);
    platform::MessageTarget* messageTarget() const { return m_target.get(); }

signals:
    void windowDestroyed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void saveWindowRect();

    COrvalinkApp* m_app;
    std::unique_ptr<platform::MessageTarget> m_target;
    bool m_destroyed = false;
};
