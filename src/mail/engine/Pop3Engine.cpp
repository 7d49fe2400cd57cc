#include "mail/engine/Pop3Engine.h"

#include "mail/engine/Pop3Texts.h"
#include "mail/engine/UidlRecord.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

namespace orvalink::mail {

namespace {

// Message data is handed to the sink in pieces of about this size.
constexpr std::size_t kDataFlush = 64 * 1024;

bool isPositive(std::string_view line)
{
    return line.substr(0, 3) == "+OK";
}

// The leading decimal digits of `text`; 0 when there are none, INT_MAX when they say more.
int readNumber(std::string_view text)
{
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            break;
        value = std::min<std::int64_t>(value * 10 + (c - '0'), INT_MAX);
    }
    return static_cast<int>(value);
}

// The second and third pieces of "+OK a b": split at the first space, then at the next space.
std::pair<int, int> replyNumbers(std::string_view line)
{
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos)
        return {0, 0};
    std::string_view rest = line.substr(first + 1);
    const std::size_t second = rest.find(' ');
    const int a = readNumber(rest.substr(0, second));
    const int b = second == std::string_view::npos ? 0 : readNumber(rest.substr(second + 1));
    return {a, b};
}

// A name or password with a line break in it would end its command early and send the rest as a
// command of its own.
bool holdsLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

int clampToInt(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, 0, INT_MAX));
}

std::string format(const char* pattern, int a, int b)
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

// A reply as the error list shows it: control bytes become spaces.
std::string replyText(std::string_view line)
{
    std::string text(line);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return text;
}

} // namespace

int pop3Port(std::string_view portText)
{
    while (!portText.empty() && (portText.front() == ' ' || portText.front() == '\t'))
        portText.remove_prefix(1);
    while (!portText.empty() && (portText.back() == ' ' || portText.back() == '\t'))
        portText.remove_suffix(1);
    if (portText.empty() || portText.size() > 5)
        return 110;
    int port = 0;
    for (const char c : portText) {
        if (c < '0' || c > '9')
            return 110;
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= 65535 ? port : 110;
}

Pop3Engine::Pop3Engine(Pop3Login login, Pop3MessageSink& sink, std::set<std::string> filedIds)
    : m_login(std::move(login)), m_sink(sink), m_filedIds(std::move(filedIds))
{
}

bool Pop3Engine::inMessageData() const
{
    return (m_state == Retrieving || (m_state == QuitSent && m_drainRetr)) && m_phase != DataPhase::StatusLine;
}

Pop3Step Pop3Engine::feed(std::string_view bytes)
{
    Pop3Step step;
    while (!bytes.empty() && !m_finished) {
        if (inMessageData()) {
            handleData(bytes, step);
            continue;
        }
        const char* lf = static_cast<const char*>(std::memchr(bytes.data(), '\n', bytes.size()));
        const std::size_t take = lf ? static_cast<std::size_t>(lf - bytes.data()) : bytes.size();
        if (m_line.size() + take > kMaxReplyLine) {
            // Not a reply any more: the framing cannot be trusted, so no QUIT is waited for.
            m_line.clear();
            fail(texts::kReplyTooLong, step, true);
            break;
        }
        m_line.append(bytes.data(), take);
        if (!lf)
            break;
        bytes.remove_prefix(take + 1);
        std::string line = std::move(m_line);
        m_line.clear();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        handleLine(line, step);
    }
    flushData(step);
    return step;
}

void Pop3Engine::handleLine(std::string_view line, Pop3Step& step)
{
    const bool ok = isPositive(line);
    switch (m_state) {
    case Greeting:
        if (!ok)
            return fail(replyText(line), step, false);
        if (holdsLineBreak(m_login.user) || holdsLineBreak(m_login.password))
            return fail(texts::kLineBreakInLogin, step, false);
        step.events.push_back({Pop3Event::Kind::StatusLine, std::string(texts::kStatusUser)});
        step.send += "USER " + m_login.user + "\r\n";
        m_state = UserSent;
        return;
    case UserSent:
        if (!ok)
            return fail(replyText(line), step, false);
        step.events.push_back({Pop3Event::Kind::StatusLine, std::string(texts::kStatusPass)});
        step.send += "PASS " + m_login.password + "\r\n";
        m_state = PassSent;
        return;
    case PassSent:
        if (!ok)
            return fail(replyText(line), step, false);
        step.events.push_back({Pop3Event::Kind::StatusLine, std::string(texts::kStatusList)});
        step.send += "STAT\r\n";
        m_state = StatSent;
        return;
    case StatSent: {
        if (!ok)
            return fail(replyText(line), step, false);
        const auto [count, size] = replyNumbers(line);
        step.events.push_back({Pop3Event::Kind::StatusLine, format(texts::kStatFormat, count, size)});
        step.events.push_back({Pop3Event::Kind::ProgressRange, {}, size});
        m_progressTotal = 0;
        if (count > 0) {
            m_messageCount = count;
            m_mailboxSize = size;
            step.send += "UIDL\r\n";
            m_state = UidlSent;
        } else {
            m_messageCount = 0;
            m_mailboxSize = 0;
            sendQuit(step);
        }
        return;
    }
    case UidlSent:
        if (m_listing) {
            if (line == ".") {
                m_listing = false;
                afterUidl(step);
            } else {
                handleUidlLine(line);
            }
            return;
        }
        if (ok) {
            m_uidl = true;
            m_listing = true;
        } else if (line.substr(0, 4) == "-ERR") {
            // No UIDL: every message is fetched, as a server without ids has always been served.
            afterUidl(step);
        } else {
            fail(replyText(line), step, false);
        }
        return;
    case ListSent: {
        if (!ok)
            return fail(replyText(line), step, false);
        const int size = replyNumbers(line).second;
        step.events.push_back({Pop3Event::Kind::MessageLine, format(texts::kListFormat, m_current, size)});
        // The bar moves by the same sizes that made its range.
        m_progressTotal += m_toFetchSizes.empty() ? size : m_toFetchSizes[m_fetchIndex - 1];
        step.events.push_back({Pop3Event::Kind::ProgressPosition, {}, clampToInt(m_progressTotal)});
        step.send += "RETR " + std::to_string(m_current) + "\r\n";
        m_state = Retrieving;
        m_phase = DataPhase::StatusLine;
        return;
    }
    case SizesSent:
        if (m_listing) {
            if (line == ".") {
                m_listing = false;
                std::int64_t total = 0;
                for (std::int64_t& size : m_toFetchSizes) {
                    size = std::max<std::int64_t>(size, 0);
                    total += size;
                }
                step.events.push_back({Pop3Event::Kind::ProgressRange, {}, clampToInt(total)});
                startFetching(step);
            } else {
                handleSizeLine(line);
            }
            return;
        }
        if (ok) {
            m_listing = true;
            m_toFetchSizes.assign(m_toFetch.size(), -1);
        } else if (line.substr(0, 4) == "-ERR") {
            // No sizes told: the bar keeps the STAT size and moves by each LIST n size, as without ids.
            startFetching(step);
        } else {
            fail(replyText(line), step, false);
        }
        return;
    case Retrieving:
        if (!ok)
            return fail(replyText(line), step, false);
        if (const std::string error = m_sink.beginMessage(m_current); !error.empty()) {
            step.events.push_back({Pop3Event::Kind::Error, error});
            m_messageOpen = false;
        } else {
            m_messageOpen = true;
        }
        m_phase = DataPhase::LineStart;
        return;
    case QuitSent:
        if (m_listing) {
            if (line == ".")
                m_listing = false;
            return;
        }
        if (m_drainRetr) {
            // The answer to a RETR that went out before QUIT; its data, if any, is dropped.
            if (ok)
                m_phase = DataPhase::LineStart;
            else
                m_drainRetr = false;
            return;
        }
        finish(step);
        return;
    }
}

void Pop3Engine::handleUidlLine(std::string_view line)
{
    const std::size_t space = line.find(' ');
    const int number = readNumber(line);
    if (number < 1 || number > m_messageCount || space == std::string_view::npos)
        return;
    // A server lists its messages in order; a number out of order or repeated is not believed.
    if (number <= m_lastListed)
        return;
    m_lastListed = number;
    std::string_view id = line.substr(space + 1);
    while (!id.empty() && id.front() == ' ')
        id.remove_prefix(1);
    id = id.substr(0, id.find(' '));
    if (m_filedIds.count(std::string(id)) != 0)
        return;
    m_toFetch.push_back(number);
    m_toFetchIds.emplace_back(UidlRecord::validId(id) ? std::string(id) : std::string());
}

void Pop3Engine::handleSizeLine(std::string_view line)
{
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return;
    const int number = readNumber(line);
    const auto at = std::lower_bound(m_toFetch.begin(), m_toFetch.end(), number);
    if (at == m_toFetch.end() || *at != number)
        return;
    std::int64_t& size = m_toFetchSizes[static_cast<std::size_t>(at - m_toFetch.begin())];
    // A number named twice keeps its first size.
    if (size >= 0)
        return;
    std::string_view rest = line.substr(space + 1);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    size = readNumber(rest);
}

void Pop3Engine::afterUidl(Pop3Step& step)
{
    // With ids, the messages filed before are left out: the bar is to measure only what is fetched.
    // When every message is fetched after all, the STAT size already is that.
    if (m_uidl && static_cast<int>(m_toFetch.size()) != m_messageCount) {
        if (!m_toFetch.empty()) {
            step.send += "LIST\r\n";
            m_state = SizesSent;
            return;
        }
        step.events.push_back({Pop3Event::Kind::ProgressRange, {}, 0});
    }
    startFetching(step);
}

void Pop3Engine::startFetching(Pop3Step& step)
{
    m_fetchIndex = 0;
    m_current = 0;
    listNext(step);
}

void Pop3Engine::listNext(Pop3Step& step)
{
    int next = 0;
    if (m_uidl) {
        if (m_fetchIndex < m_toFetch.size()) {
            next = m_toFetch[m_fetchIndex];
            m_currentId = m_toFetchIds[m_fetchIndex];
            ++m_fetchIndex;
        }
    } else if (m_current < m_messageCount) {
        next = m_current + 1;
        m_currentId.clear();
    }
    if (next == 0) {
        sendQuit(step);
        return;
    }
    m_current = next;
    step.send += "LIST " + std::to_string(m_current) + "\r\n";
    m_state = ListSent;
}

void Pop3Engine::handleData(std::string_view& bytes, Pop3Step& step)
{
    while (!bytes.empty()) {
        const char c = bytes.front();
        switch (m_phase) {
        case DataPhase::StatusLine:
            return;
        case DataPhase::LineStart:
            if (c == '.') {
                bytes.remove_prefix(1);
                m_phase = DataPhase::Dot;
            } else {
                m_phase = DataPhase::InLine;
            }
            break;
        case DataPhase::Dot:
            if (c == '\r') {
                bytes.remove_prefix(1);
                m_phase = DataPhase::DotCr;
            } else if (c == '\n') {
                bytes.remove_prefix(1);
                return endOfMessage(step);
            } else {
                // A stuffed line: its first dot goes.
                m_phase = DataPhase::InLine;
            }
            break;
        case DataPhase::DotCr:
            if (c == '\n') {
                bytes.remove_prefix(1);
                return endOfMessage(step);
            }
            emitData("\r");
            m_phase = DataPhase::InLine;
            break;
        case DataPhase::InLine: {
            const char* lf = static_cast<const char*>(std::memchr(bytes.data(), '\n', bytes.size()));
            const std::size_t take = lf ? static_cast<std::size_t>(lf - bytes.data()) + 1 : bytes.size();
            emitData(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (lf)
                m_phase = DataPhase::LineStart;
            if (m_dataOut.size() >= kDataFlush)
                flushData(step);
            break;
        }
        }
    }
}

void Pop3Engine::emitData(std::string_view data)
{
    if (m_messageOpen && m_state == Retrieving)
        m_dataOut.append(data);
}

void Pop3Engine::flushData(Pop3Step& step)
{
    if (m_dataOut.empty())
        return;
    std::string data = std::move(m_dataOut);
    m_dataOut.clear();
    if (!m_messageOpen)
        return;
    if (const std::string error = m_sink.writeMessageData(data); !error.empty()) {
        step.events.push_back({Pop3Event::Kind::Error, error});
        abandonCurrent();
    }
}

void Pop3Engine::abandonCurrent()
{
    m_dataOut.clear();
    if (m_messageOpen) {
        m_messageOpen = false;
        m_sink.abandonMessage(m_current);
    }
}

void Pop3Engine::endOfMessage(Pop3Step& step)
{
    m_phase = DataPhase::StatusLine;
    if (m_state == QuitSent) {
        m_drainRetr = false;
        return;
    }
    flushData(step);
    const int number = m_current;
    const std::string id = std::move(m_currentId);
    const bool file = m_messageOpen;
    m_messageOpen = false;
    // The next command is due before the message is filed, so the server can answer it meanwhile.
    listNext(step);
    if (m_sendNow && !step.send.empty()) {
        m_sendNow(step.send);
        step.send.clear();
    }
    if (file)
        for (std::string& error : m_sink.completeMessage(number, id))
            step.events.push_back({Pop3Event::Kind::Error, std::move(error)});
}

void Pop3Engine::sendQuit(Pop3Step& step)
{
    step.send += "QUIT\r\n";
    m_state = QuitSent;
}

void Pop3Engine::fail(std::string_view text, Pop3Step& step, bool disconnect)
{
    abandonCurrent();
    step.events.push_back({Pop3Event::Kind::Error, std::string(text)});
    m_outcome = Pop3Outcome::Failed;
    m_drainRetr = false;
    m_listing = false;
    if (m_state != QuitSent)
        sendQuit(step);
    if (disconnect) {
        step.disconnect = true;
        finish(step);
    }
}

void Pop3Engine::finish(Pop3Step& step)
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_outcome == Pop3Outcome::Running)
        m_outcome = Pop3Outcome::Done;
    abandonCurrent();
    for (std::string& error : m_sink.downloadEnded())
        step.events.push_back({Pop3Event::Kind::Error, std::move(error)});
    step.events.push_back({Pop3Event::Kind::Finished, {}});
}

Pop3Step Pop3Engine::timedOut()
{
    Pop3Step step;
    if (m_finished)
        return step;
    if (m_state == QuitSent && !m_drainRetr && !m_listing) {
        // Only the answer to QUIT is missing: everything else is decided, nothing is lost.
        step.disconnect = true;
        finish(step);
        return step;
    }
    flushData(step);
    fail(texts::kTimedOut, step, true);
    return step;
}

Pop3Step Pop3Engine::connectionClosed()
{
    Pop3Step step;
    if (m_finished)
        return step;
    flushData(step);
    if (m_state == QuitSent && !m_drainRetr && !m_listing) {
        finish(step);
        return step;
    }
    if (m_state == Retrieving && m_phase != DataPhase::StatusLine) {
        abandonCurrent();
        step.events.push_back({Pop3Event::Kind::Error, format(texts::kDroppedInMessage, m_current, 0)});
    } else if (m_state != QuitSent) {
        step.events.push_back({Pop3Event::Kind::Error, std::string(texts::kDropped)});
    }
    abandonCurrent();
    if (m_outcome == Pop3Outcome::Running)
        m_outcome = Pop3Outcome::Failed;
    finish(step);
    return step;
}

Pop3Step Pop3Engine::abort()
{
    Pop3Step step;
    if (m_finished)
        return step;
    flushData(step);
    abandonCurrent();
    if (m_state == QuitSent)
        return step;
    if (m_outcome == Pop3Outcome::Running)
        m_outcome = Pop3Outcome::Aborted;
    m_drainRetr = m_state == Retrieving;
    sendQuit(step);
    return step;
}

} // namespace orvalink::mail
