#pragma once

// The receive window (dialog 130, "メール受信中"): status line 1043, message line 1044, "進行状況"
// above the progress bar 1015, "エラー情報" above the error list 1003, and "中止(&C)" (1023). It
// shows what the download on its thread reports and nothing else; its start operation reads the
// accounts and hands account 1 to the thread. A download that ends without closing the window
// failed: the status line then says so, the title loses its "中", and button 1023 reads "閉じる"
// and closes the window; a new start in the same window shows it running again. Closing the window in any way destroys
// it, and with it its thread: the next receive command starts a new one.

#include "mail/ReceiveWorker.h"

#include <QDialog>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

class QLabel;

class QListWidget;

class QProgressBar;

class QPushButton;

namespace orvalink::mail {

class CRThread;
class MailDirectory;

class ReceiveDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kStatusLineId = 1043;
    static constexpr int kMessageLineId = 1044;
    static constexpr int kProgressId = 1015;
    static constexpr int kErrorListId = 1003;
    static constexpr int kAbortId = 1023;

    // Takes over a started thread; the window ends it when it is destroyed.
    // Downloads file into `directory`, which outlives the window.
    ReceiveDialog(std::unique_ptr<CRThread> thread, const MailDirectory& directory, QWidget* parent = nullptr);
    ~ReceiveDialog() override;

    // The start operation: account 1 of the settings store, its "POP PortNo" when it names a port
    // (else 110), the mail directory. Message boxes for no accounts and for a socket that cannot
    // be made. While a download runs it does nothing.
    void startDownload();
    // Button 1023: abort while a download runs, close once it has failed.
    void abort();

    // What the window shows, as code page 932 texts.
    const std::string& statusText() const { return m_status; }
    const std::string& messageText() const { return m_message; }
    const std::vector<std::string>& errors() const { return m_errors; }
    int progressValue() const { return m_progressValue; }
    int progressMaximum() const { return m_progressMaximum; }
    // True from a start until the download's end has been shown.
    bool downloading() const { return m_downloading; }
    // True once a download has ended without closing the window (until the next start).
    bool failed() const { return m_failed; }

    CRThread* receiveThread() const { return m_thread.get(); }
    QPushButton* abortButton() const { return m_abort; }

    // How long the server may be silent before the download is given up (60 s).
    void setSilenceTimeout(std::chrono::milliseconds timeout) { m_silence = timeout; }

signals:
    // After the window has shown a report (tests wait on it).
    void reportShown();
    // A download is over (however it ended); emitted before a window that closes at its end goes.
    void downloadEnded();

private:
    struct ReportQueue;

    void showReport(const ReceiveWorker::Report& report);
    void showRunning();
    void showFailed();
    // The status and message lines and the bar take the texts and figures above once for the
    // reports that arrived together (laying them out and drawing them for every report took more
    // time than filing a message).
    void refresh();

    std::unique_ptr<CRThread> m_thread;
    const MailDirectory& m_directory;
    QLabel* m_statusLine = nullptr;
    QLabel* m_messageLine = nullptr;
    QProgressBar* m_progress = nullptr;
    QListWidget* m_errorList = nullptr;
    QPushButton* m_abort = nullptr;
    std::string m_status;
    std::string m_message;
    std::vector<std::string> m_errors;
    int m_progressValue = 0;
    int m_progressMaximum = 0;
    bool m_downloading = false;
    bool m_failed = false;
    unsigned m_download = 0; // the worker's count of starts, mirrored
    std::chrono::milliseconds m_silence{std::chrono::seconds(orvalink::mail::Pop3Engine::kTimeoutSeconds)};
};

} // namespace orvalink::mail
