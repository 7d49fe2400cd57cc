#include "mail/engine/SmtpConversation.h"

namespace orvalink::mail {

namespace {

constexpr std::string_view kQuit = "QUIT\r\n";

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool hasCode(std::string_view line, std::string_view code)
{
    return line.substr(0, 3) == code;
}

// 2xx: the positive completion replies (250, 251 "will forward", 252 "cannot verify" alike).
bool isPositive(std::string_view line)
{
    return line.size() >= 3 && line[0] == '2' && isDigit(line[1]) && isDigit(line[2]);
}

bool hasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// The server's line as the user sees it under the error text: control characters become blanks.
std::string shownLine(std::string_view line)
{
    std::string shown(line);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return shown;
}

void add(SmtpStep& into, SmtpStep step)
{
    into.send += step.send;
    into.release = into.release || step.release;
    into.message += step.message;
    into.finished = into.finished || step.finished;
}

} // namespace

std::string SmtpConversation::refusal(const SmtpRequest& request)
{
    if (!request.account)
        return std::string(kErrorNoAccount);
    const MailAccount& account = *request.account;
    if (hasLineBreak(account.emailAddress) || hasLineBreak(request.to))
        return std::string(kErrorLineBreakInAddress);
    if (!isMailbox(account.emailAddress))
        return badFromAddressText();
    if (!isMailbox(request.to))
        return badToAddressText();
    if (!accountPort(account.smtpPort, kDefaultSmtpPort))
        return badSmtpPortText(account.smtpPort);
    return {};
}

SmtpStart SmtpConversation::start(const SmtpRequest& request)
{
    SmtpStart result;
    if (running())
        return result;
    result.message = refusal(request);
    if (!result.message.empty())
        return result;
    const MailAccount& account = *request.account;
    m_helloName = plainHostName(request.localHostName);
    m_sender = account.emailAddress;
    m_recipient = request.to;
    MailFields fields;
    fields.from = account.emailAddress;
    fields.to = request.to;
    fields.subject = request.subject;
    fields.body = request.body;
    fields.date = formatMailDate(request.time);
    fields.messageId = request.messageId;
    m_mailText = mail::mailText(fields);
    m_line.clear();
    m_lastLine.clear();
    m_state = SmtpState::WaitGreeting;
    result.connect = true;
    result.host = account.smtpServer;
    result.port = *accountPort(account.smtpPort, kDefaultSmtpPort);
    return result;
}

SmtpStep SmtpConversation::feed(std::string_view bytes)
{
    SmtpStep step;
    for (std::size_t i = 0; i < bytes.size() && running(); ++i) {
        const char c = bytes[i];
        if (c != '\n') {
            m_line += c;
            if (m_line.size() < kMaxReplyLine)
                continue;
        } else if (!m_line.empty() && m_line.back() == '\r') {
            m_line.pop_back();
        }
        // A whole line: "ddd-" goes on to the next line of the same reply, anything else ends it.
        const bool continued =
            m_line.size() >= 4 && isDigit(m_line[0]) && isDigit(m_line[1]) && isDigit(m_line[2]) && m_line[3] == '-';
        m_lastLine.swap(m_line);
        m_line.clear();
        if (!continued)
            add(step, handleReply());
    }
    return step;
}

SmtpStep SmtpConversation::handleReply()
{
    const std::string_view line = m_lastLine;
    SmtpStep step;
    switch (m_state) {
    case SmtpState::WaitGreeting:
        if (!hasCode(line, "220"))
            return fail(kErrorNotSmtpServer);
        step.send = "HELO " + m_helloName + "\r\n";
        m_state = SmtpState::WaitHelo;
        break;
    case SmtpState::WaitHelo:
        if (!hasCode(line, "250"))
            return fail(kErrorNotSmtpServer);
        step.send = "MAIL FROM:<" + m_sender + ">\r\n";
        m_state = SmtpState::WaitMailFrom;
        break;
    case SmtpState::WaitMailFrom:
        if (!isPositive(line))
            return fail(kErrorSenderRejected);
        step.send = "RCPT TO:<" + m_recipient + ">\r\n";
        m_state = SmtpState::WaitRcptTo;
        break;
    case SmtpState::WaitRcptTo:
        if (!isPositive(line))
            return fail(kErrorRecipientRejected);
        step.send = "DATA\r\n";
        m_state = SmtpState::WaitData;
        break;
    case SmtpState::WaitData:
        if (!hasCode(line, "354"))
            return fail(kErrorDataRejected);
        step.send = m_mailText;
        m_state = SmtpState::WaitMessage;
        break;
    case SmtpState::WaitMessage:
        if (!isPositive(line))
            return fail(kErrorBodyRejected);
        step.send = kQuit;
        step.release = true;
        step.finished = true;
        end();
        break;
    case SmtpState::None:
        break;
    }
    return step;
}

SmtpStep SmtpConversation::fail(std::string_view errorText)
{
    SmtpStep step;
    step.send = kQuit;
    step.release = true;
    step.message = errorText;
    if (!m_lastLine.empty())
        step.message += shownLine(m_lastLine) + "\r\n";
    end();
    return step;
}

SmtpStep SmtpConversation::connectFailed(std::string_view reason)
{
    SmtpStep step;
    if (!running())
        return step;
    step.release = true;
    step.message = kErrorConnectFailed;
    if (!reason.empty())
        step.message += shownLine(reason) + "\r\n";
    end();
    return step;
}

SmtpStep SmtpConversation::timedOut()
{
    SmtpStep step;
    if (!running())
        return step;
    step.send = kQuit;
    step.release = true;
    step.message = kErrorTimeout;
    end();
    return step;
}

SmtpStep SmtpConversation::connectionClosed()
{
    SmtpStep step;
    if (!running())
        return step;
    step.release = true;
    step.message = kErrorConnectionLost;
    end();
    return step;
}

SmtpStep SmtpConversation::abort()
{
    SmtpStep step;
    if (!running())
        return step;
    step.send = kQuit;
    step.release = true;
    end();
    return step;
}

void SmtpConversation::end()
{
    m_state = SmtpState::None;
    m_line.clear();
}

} // namespace orvalink::mail
