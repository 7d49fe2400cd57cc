#pragma once

// The receive thread's main window in the message sense: it lives on CRThread and owns what a
// download needs there: the connection (MailConnection, with TLS when the account asks for it),
// the POP3 engine, the message filer and the
// record of filed ids. It only moves bytes between the socket and the engine and passes what the
// engine reports to the receive window, which shows it on the GUI thread. It never waits for the
// GUI thread, so the window may end the thread at any moment.

#include "mail/engine/MailAccount.h"
#include "mail/engine/Pop3Engine.h"
#include "mail/tls/TlsSession.h"
#include "platform/MessageTarget.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QTimer;

namespace orvalink::mail {

using platform::WM_USER;

class MailConnection;

class ReceivedMailFiler;
class UidlRecord;

// Sent by the window: start a download with the request handed over just before (result: a
// StartResult).
inline constexpr unsigned WM_RECV_START = WM_USER + 220;
// Posted by the window's abort button.
inline constexpr unsigned WM_RECV_ABORT = WM_USER + 221;

class ReceiveWorker : public platform::MessageTarget {
    Q_OBJECT
public:
    struct Request {
        std::string server;
        int port = 110;
        orvalink::mail::Pop3Login login;
        std::string mailDir; // the mail directory as the file system names it
        // Silence from the server after which the download is given up.
        std::chrono::milliseconds silence{std::chrono::seconds(orvalink::mail::Pop3Engine::kTimeoutSeconds)};
        TransportSecurity security = TransportSecurity::None;
        // The certificate the user chose to trust for this account (SHA-256 hex), or empty.
        std::string pinnedFingerprint;
    };
    enum StartResult : std::intptr_t { Started = 0, SocketFailed = 1, AlreadyRunning = 2 };

    // What the window shows, in order. `running` is false once the download is over (the
    // connection is gone); `closeWindow` asks the window to close (the download ended as it should,
    // or the user aborted it, or abort was pressed with no download).
    struct Report {
        // Which download of this worker it belongs to: the count of starts that got past
        // AlreadyRunning, so the window can tell a late report of an earlier download.
        unsigned download = 0;
        std::vector<orvalink::mail::Pop3Event> events;
        bool running = true;
        bool closeWindow = false;
        // The download ended because the server's certificate cannot be trusted: the window may
        // ask the user whether to trust it for the account and start again.
        std::optional<CertificateInfo> certificate;
    };
    // Called on the worker's thread; the handler passes the report on to the GUI thread.
    using ReportHandler = std::function<void(Report)>;

    ReceiveWorker();
    ~ReceiveWorker() override;

    // Both from the window's thread: the handler before the first start, the request right before
    // each WM_RECV_START.
    void setReportHandler(ReportHandler handler);
    void setRequest(Request request);

    std::intptr_t windowProc(platform::WindowMessage& msg) override;

private:
    StartResult start();
    void abort();
    void received(std::string_view bytes);
    void closed();
    void connectFailed(int wsaError);
    void tlsFailed(std::string text, std::optional<CertificateInfo> certificate);
    void apply(orvalink::mail::Pop3Step step);
    void endConnection(std::vector<orvalink::mail::Pop3Event> events);
    void dropDownload();
    void report(std::vector<orvalink::mail::Pop3Event> events, bool running, bool closeWindow = false,
                std::optional<CertificateInfo> certificate = {});
    void silenceElapsed();
    void passReports();

    // Reports of a running download go to the window together, at most once per kReportInterval:
    // the window has nothing to show more often, and waking its thread for every read of the
    // socket took a good share of the time a message takes to file. The last one goes at once.
    static constexpr std::chrono::milliseconds kReportInterval{50};

    std::mutex m_requestMutex;
    Request m_request;
    ReportHandler m_report;

    // Destroyed in reverse order: the engine before the filer it writes to, the filer before the
    // record it adds to.
    std::unique_ptr<orvalink::mail::UidlRecord> m_record;
    std::unique_ptr<orvalink::mail::ReceivedMailFiler> m_filer;
    std::unique_ptr<orvalink::mail::Pop3Engine> m_engine;
    std::unique_ptr<MailConnection> m_connection;
    unsigned m_download = 0;
    std::vector<Report> m_waitingReports;
    QTimer* m_reportTimer = nullptr;
    std::chrono::steady_clock::time_point m_lastReports{};
    bool m_sendNowFailed = false; // a command the engine sent during its step did not go out
};

} // namespace orvalink::mail
