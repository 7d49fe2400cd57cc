#pragma once

// The mail side's state that the whole program shares: the mail directory, the compose windows'
// threads, the send-and-receive window, and the settings every send worker reads. The application object owns
// one and hands it down by reference, as it does the chat side's group table; nothing reaches it
// through a global. Everything here is made and ended on the GUI thread.

#include <memory>

namespace orvalink::mail {

struct ComposeThreadTable;
class MailDirectory;
class SendRecvWindow;
class SendSettings;

class MailState {
public:
    MailState();
    // Closes the send-and-receive window still open.
    ~MailState();
    MailState(const MailState&) = delete;
    MailState& operator=(const MailState&) = delete;

    MailDirectory& directory() { return *m_directory; }
    const MailDirectory& directory() const { return *m_directory; }
    ComposeThreadTable& composeThreads() { return *m_composeThreads; }
    const ComposeThreadTable& composeThreads() const { return *m_composeThreads; }
    SendRecvWindow& sendRecvWindow() { return *m_sendRecvWindow; }
    const SendRecvWindow& sendRecvWindow() const { return *m_sendRecvWindow; }
    SendSettings& sendSettings() { return *m_sendSettings; }

private:
    std::unique_ptr<MailDirectory> m_directory;
    // The settings outlive the send workers, which the compose threads end first.
    std::unique_ptr<SendSettings> m_sendSettings;
    std::unique_ptr<ComposeThreadTable> m_composeThreads;
    std::unique_ptr<SendRecvWindow> m_sendRecvWindow;
};

} // namespace orvalink::mail
