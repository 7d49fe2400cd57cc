#pragma once

// The main window's receive command: starts the receive thread when there is none and waits
// until it is ready, makes, places and shows its window, then calls the window's start
// operation. While the window exists its thread is reused; once the window is gone (closed, or
// closed by the end of a download) the next command starts a new thread.

#include "mail/engine/Pop3Engine.h"

#include <QObject>
#include <QPointer>
#include <chrono>

namespace orvalink::mail {

class MailDirectory;
class ReceiveDialog;

class ReceiveCommand : public QObject {
    Q_OBJECT
public:
    // Downloads file into `directory`, which outlives the command.
    explicit ReceiveCommand(MailDirectory& directory, QObject* parent = nullptr);
    // Closes the window (ending its thread) when it is still open.
    ~ReceiveCommand() override;

    // What command 32771 does; the window, or null when its thread could not be started or
    // account 1's stored POP3 port names no port (refused with a message; nothing connects). The
    // default mail directory is made first when it is the one in use.
    ReceiveDialog* run();
    // The window while it exists.
    ReceiveDialog* dialog() const;
    // Closes the window now, ending its thread (program exit).
    void closeWindow();

    // Downloads that have ended since the program started, however they ended.
    int endedDownloads() const { return m_endedDownloads; }

    // How long a server may stay silent; tests shorten it.
    void setSilenceTimeout(std::chrono::milliseconds timeout) { m_silence = timeout; }

signals:
    // A download has ended, however it ended (whichever command started it): what it filed is in
    // 受信したメール.
    void downloadEnded();

private:
    MailDirectory& m_directory;
    QPointer<ReceiveDialog> m_dialog;
    int m_endedDownloads = 0;
    std::chrono::milliseconds m_silence{std::chrono::seconds(orvalink::mail::Pop3Engine::kTimeoutSeconds)};
};

} // namespace orvalink::mail
