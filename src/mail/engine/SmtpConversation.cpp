#include "mail/engine/SmtpConversation.h"

#include "mail/engine/SmtpTexts.h"

#include <vector>

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
    into.startTls = into.startTls || step.startTls;
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The words of an EHLO line after its code, upper-cased ("250-AUTH PLAIN LOGIN" gives AUTH, PLAIN,
// LOGIN; the old "AUTH=LOGIN" form splits the same way).
std::vector<std::string> ehloWords(std::string_view line)
{
    std::vector<std::string> words;
    std::string word;
    for (std::size_t i = 4; i <= line.size(); ++i) {
        const char c = i < line.size() ? line[i] : ' ';
        if (c == ' ' || c == '=' || c == '\t') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word += upper(c);
        }
    }
    return words;
}

bool extended(const MailAccount& account)
{
    return transportSecurity(account.smtpSecurity) != TransportSecurity::None || account.smtpAuth == "1";
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
    if (!accountPort(account.smtpPort, defaultSmtpPort(transportSecurity(account.smtpSecurity))))
        return badSmtpPortText(account.smtpPort);
    if (account.smtpAuth == "1" && transportSecurity(account.smtpSecurity) == TransportSecurity::None &&
        account.plainAuth != "1")
        return std::string(texts::kSmtpClearAuthRefused) + "\r\n";
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
    const TransportSecurity security = transportSecurity(account.smtpSecurity);
    m_extended = extended(account);
    m_startTls = security == TransportSecurity::StartTls;
    m_secure = security == TransportSecurity::Implicit;
    m_auth = account.smtpAuth == "1";
    m_clearAuthAllowed = account.plainAuth == "1";
    m_authUser = account.smtpUser.empty() ? account.popAccount : account.smtpUser;
    m_authPassword = account.smtpPassword.empty() ? account.popPassword : account.smtpPassword;
    m_usePlain = false;
    m_offersStartTls = m_offersPlain = m_offersLogin = false;
    m_line.clear();
    m_lastLine.clear();
    m_firstLineOfReply = true;
    m_state = SmtpState::WaitGreeting;
    result.connect = true;
    result.host = account.smtpServer;
    result.port = *accountPort(account.smtpPort, defaultSmtpPort(security));
    result.security = security;
    return result;
}

SmtpStep SmtpConversation::feed(std::string_view bytes)
{
    SmtpStep step;
    // Bytes in clear between the "220" to STARTTLS and the end of the handshake count for nothing.
    if (m_state == SmtpState::WaitHandshake)
        return step;
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
        if (m_state == SmtpState::WaitEhlo)
            noteCapability(m_lastLine);
        m_firstLineOfReply = !continued;
        if (continued)
            continue;
        add(step, handleReply());
        // What follows the server's "220" to STARTTLS was sent in clear before the handshake: an
        // attacker on the path could have put it there (RFC 3207, section 6), so it is dropped.
        if (m_state == SmtpState::WaitHandshake) {
            m_line.clear();
            break;
        }
    }
    return step;
}

void SmtpConversation::noteCapability(std::string_view line)
{
    // The first line of the EHLO reply is the server's name and greeting, not a capability.
    if (m_firstLineOfReply || !isPositive(line))
        return;
    const std::vector<std::string> words = ehloWords(line);
    if (words.empty())
        return;
    if (words.front() == "STARTTLS")
        m_offersStartTls = true;
    if (words.front() != "AUTH")
        return;
    for (std::size_t i = 1; i < words.size(); ++i) {
        m_offersPlain = m_offersPlain || words[i] == "PLAIN";
        m_offersLogin = m_offersLogin || words[i] == "LOGIN";
    }
}

SmtpStep SmtpConversation::handleEhlo()
{
    SmtpStep step;
    if (m_startTls && !m_secure) {
        if (!m_offersStartTls)
            return failWithReply(texts::kSmtpNoStartTls, false);
        step.send = "STARTTLS\r\n";
        m_state = SmtpState::WaitStartTls;
        return step;
    }
    if (!m_auth)
        return afterAuth();
    if (!m_secure && !m_clearAuthAllowed)
        return failWithReply(texts::kSmtpClearAuthRefused, false);
    if (m_offersPlain) {
        m_usePlain = true;
        std::string response;
        response += '\0';
        response += m_authUser;
        response += '\0';
        response += m_authPassword;
        step.send = "AUTH PLAIN " + base64(response) + "\r\n";
    } else if (m_offersLogin) {
        m_usePlain = false;
        step.send = "AUTH LOGIN\r\n";
    } else {
        return failWithReply(texts::kSmtpNoAuthMechanism, false);
    }
    m_state = SmtpState::WaitAuth;
    return step;
}

SmtpStep SmtpConversation::afterAuth()
{
    SmtpStep step;
    step.send = "MAIL FROM:<" + m_sender + ">\r\n";
    m_state = SmtpState::WaitMailFrom;
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
        if (m_extended) {
            step.send = "EHLO " + m_helloName + "\r\n";
            m_state = SmtpState::WaitEhlo;
            break;
        }
        step.send = "HELO " + m_helloName + "\r\n";
        m_state = SmtpState::WaitHelo;
        break;
    case SmtpState::WaitEhlo:
        if (!hasCode(line, "250"))
            return fail(kErrorNotSmtpServer);
        return handleEhlo();
    case SmtpState::WaitStartTls:
        if (!hasCode(line, "220"))
            return failWithReply(texts::kSmtpStartTlsRefused);
        step.startTls = true;
        m_state = SmtpState::WaitHandshake;
        break;
    case SmtpState::WaitHandshake:
        break;
    case SmtpState::WaitAuth:
        if (m_usePlain) {
            if (!hasCode(line, "235"))
                return failWithReply(texts::kSmtpAuthRefused);
            return afterAuth();
        }
        if (!hasCode(line, "334"))
            return failWithReply(texts::kSmtpAuthRefused);
        step.send = base64(m_authUser) + "\r\n";
        m_state = SmtpState::WaitAuthUser;
        break;
    case SmtpState::WaitAuthUser:
        if (!hasCode(line, "334"))
            return failWithReply(texts::kSmtpAuthRefused);
        step.send = base64(m_authPassword) + "\r\n";
        m_state = SmtpState::WaitAuthPassword;
        break;
    case SmtpState::WaitAuthPassword:
        if (!hasCode(line, "235"))
            return failWithReply(texts::kSmtpAuthRefused);
        return afterAuth();
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

SmtpStep SmtpConversation::failWithReply(std::string_view text, bool showReply)
{
    SmtpStep step;
    step.send = kQuit;
    step.release = true;
    step.message = std::string(text) + "\r\n";
    if (showReply)
        step.message += std::string(texts::kServerReply) + shownLine(m_lastLine) + "\r\n";
    end();
    return step;
}

SmtpStep SmtpConversation::tlsEstablished()
{
    SmtpStep step;
    if (m_state != SmtpState::WaitHandshake)
        return step;
    m_secure = true;
    m_line.clear();
    // Nothing the server said before TLS counts after it (RFC 3207, section 4.2).
    m_offersStartTls = m_offersPlain = m_offersLogin = false;
    m_firstLineOfReply = true;
    step.send = "EHLO " + m_helloName + "\r\n";
    m_state = SmtpState::WaitEhlo;
    return step;
}

SmtpStep SmtpConversation::tlsFailed(std::string_view reason)
{
    SmtpStep step;
    if (!running())
        return step;
    step.release = true;
    step.message = std::string(texts::kSmtpTlsFailed) + "\r\n";
    if (!reason.empty())
        step.message += shownLine(reason) + "\r\n";
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
    // In the middle of a handshake nothing may be written in clear.
    if (m_state != SmtpState::WaitHandshake)
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
    if (m_state == SmtpState::WaitHandshake)
        return tlsFailed(kErrorConnectionLost.substr(0, kErrorConnectionLost.size() - 2));
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
    if (m_state != SmtpState::WaitHandshake)
        step.send = kQuit;
    step.release = true;
    end();
    return step;
}

void SmtpConversation::end()
{
    m_state = SmtpState::None;
    m_line.clear();
    m_authPassword.clear();
}

} // namespace orvalink::mail
