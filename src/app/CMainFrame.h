#pragma once

// The main window. It starts hidden (the program lives in the notification area), hides instead
// of closing, and shuts the chat side down when it is destroyed: every group's leave notice goes
// out through its listener, sockets are drained and deleted, listener threads are ended and
// waited for, and the window rectangle is saved.

#include <QMainWindow>

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

signals:
    void windowDestroyed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void saveWindowRect();

    COrvalinkApp* m_app;
    bool m_destroyed = false;
};
