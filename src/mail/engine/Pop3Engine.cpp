#include "mail/engine/Pop3Engine.h"

#include "mail/engine/Pop3Texts.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

namespace orvalink::mail {

namespace {

// Message data is handed to the sink in pieces of about this size.
constexpr std::size_t kDataFlush = 64 * 1024;

// A capability name compared as RFC 2449 says: without regard to case.
bool sameWord(std::string_view word, std::string_view lowerName)
{
    if (word.size() != lowerName.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if ((word[i] >= 'A' && word[i] <= 'Z' ? word[i] | 0x20 : word[i]) != lowerName[i])
            return false;
    return true;
}

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

std::string format(const char* pattern, int a, int b = 0, int c = 0)
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

// A reply as the error list shows it, after "サーバーの応答: ": control bytes become spaces.
std::string replyText(std::string_view line)
{
    std::string text(line);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return std::string(texts::kServerReply) + text;
}

// An error line about message `number` starts with its name, so that the list says which message
// each line is about; lines from the filing that do not, get it in front.
std::string aboutMessage(int number, std::string text)
{
    const std::string name = format(texts::kMessageName, number);
    if (text.rfind(name, 0) == 0)
        return text;
    return name + ": " + text;
}

constexpr int kMaxMessageMegabytes = static_cast<int>(Pop3Engine::kMaxMessageSize / (1024 * 1024));

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

Pop3Engine::Pop3Engine(Pop3Login login, Pop3MessageSink& sink, std::set<std::string> filedIds,
                       TransportSecurity security)
    : m_login(std::move(login)), m_sink(sink), m_security(security),
      m_insideTls(security == TransportSecurity::Implicit), m_filedIds(std::move(filedIds))
{
}

bool Pop3Engine::inMessageData() const
{
    return (m_state == Retrieving || (m_state == QuitSent && m_drainRetr > 0)) && m_phase != DataPhase::StatusLine;
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
        if (step.startTls)
            break; // what followed the +OK to STLS in clear is not to be trusted (RFC 2595)
    }
    flushData(step);
    return step;
}

Pop3Step Pop3Engine::tlsEstablished()
{
    Pop3Step step;
    if (m_state == TlsWait && !m_finished) {
        // What the server listed in clear may have been changed on the way: it is asked again.
        m_insideTls = true;
        sendCapa(step);
    }
    return step;
}

void Pop3Engine::sendCapa(Pop3Step& step)
{
    m_listing = false;
    m_capaLines = 0;
    m_capaBytes = 0;
    m_stlsOffered = false;
    m_pipeliningOffered = false;
    step.send += "CAPA\r\n";
    m_state = CapaSent;
}

void Pop3Engine::sendUser(Pop3Step& step)
{
    if (holdsLineBreak(m_login.user) || holdsLineBreak(m_login.password))
        return fail(texts::kLineBreakInLogin, step, false);
    step.events.push_back({Pop3Event::Kind::StatusLine, std::string(texts::kStatusUser)});
    step.send += "USER " + m_login.user + "\r\n";
    m_state = UserSent;
}

void Pop3Engine::handleLine(std::string_view line, Pop3Step& step)
{
    const bool ok = isPositive(line);
    switch (m_state) {
    case Greeting:
        if (!ok)
            return fail(replyText(line), step, false);
        if (m_security != TransportSecurity::None)
            return sendCapa(step);
        return sendUser(step);
    case CapaSent:
        if (m_listing) {
            if (line == ".") {
                m_listing = false;
            } else {
                m_capaBytes += line.size() + 2;
                if (++m_capaLines > kMaxCapaLines || m_capaBytes > kMaxCapaBytes)
                    return fail(texts::kCapaTooLong, step, true);
                const std::string_view word = line.substr(0, line.find(' '));
                m_stlsOffered = m_stlsOffered || sameWord(word, "stls");
                m_pipeliningOffered = m_pipeliningOffered || sameWord(word, "pipelining");
                return;
            }
        } else if (ok) {
            m_listing = true;
            return;
        }
        // The list ended, or the server has none (-ERR). Inside TLS the login follows either way;
        // before it, no STLS means no login.
        if (m_insideTls)
            return sendUser(step);
        if (!m_stlsOffered)
            return fail(texts::kStlsNotOffered, step, false);
        step.send += "STLS\r\n";
        m_state = StlsSent;
        return;
    case StlsSent:
        if (!ok)
            return fail(replyText(line), step, false);
        step.startTls = true;
        m_state = TlsWait;
        return;
    case TlsWait:
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
                handleUidlLine(line, step);
            }
            return;
        }
        if (ok) {
            m_uidl = true;
            m_listing = true;
            m_listingLines = 0;
            m_listingBytes = 0;
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
        if (m_sizesListed) {
            const auto listed = m_sizes.find(m_current);
            m_messageSize = listed == m_sizes.end() ? 0 : listed->second;
        } else {
            m_messageSize = size;
        }
        m_messageBytes = 0;
        m_progressShown = m_progressTotal;
        if (size > kMaxMessageSize) {
            // Not retrieved at all: the bar counts it as done, the list names it.
            notFiled(m_current, format(texts::kTooLarge, m_current, size, kMaxMessageMegabytes), step);
            m_progressTotal += m_messageSize;
            step.events.push_back({Pop3Event::Kind::ProgressPosition, {}, clampToInt(m_progressTotal)});
            listNext(step);
            return;
        }
        step.send += "RETR " + std::to_string(m_current) + "\r\n";
        m_state = Retrieving;
        m_phase = DataPhase::StatusLine;
        m_overLimit = false;
        return;
    }
    case SizesSent:
        if (m_listing) {
            if (line == ".") {
                m_listing = false;
                m_sizesListed = true;
                std::int64_t total = 0;
                for (const auto& [number, size] : m_sizes)
                    if (wanted(number))
                        total += size;
                step.events.push_back({Pop3Event::Kind::ProgressRange, {}, clampToInt(total)});
                m_pipelining = m_insideTls && m_pipeliningOffered;
                startFetching(step);
            } else {
                handleSizeLine(line, step);
            }
            return;
        }
        if (ok) {
            m_listing = true;
            m_listingLines = 0;
            m_listingBytes = 0;
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
        if (m_pipelining) // what LIST n says in the one-at-a-time conversation
            step.events.push_back(
                {Pop3Event::Kind::MessageLine, format(texts::kListFormat, m_current, clampToInt(m_messageSize))});
        if (std::string error = m_sink.beginMessage(m_current); !error.empty()) {
            notFiled(m_current, std::move(error), step);
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
        if (m_drainRetr > 0) {
            // The answer to a RETR that went out before QUIT; its data, if any, is dropped.
            if (ok)
                m_phase = DataPhase::LineStart;
            else
                --m_drainRetr;
            return;
        }
        finish(step);
        return;
    }
}

bool Pop3Engine::listingFull(std::string_view line, Pop3Step& step)
{
    // Each line kept costs its bytes and a map entry; a listing that goes past the STAT count or the
    // byte ceiling is not a listing of this mailbox.
    ++m_listingLines;
    m_listingBytes += line.size() + 64;
    if (m_listingLines <= static_cast<std::int64_t>(m_messageCount) + kListingMargin &&
        m_listingBytes <= kMaxListingBytes)
        return false;
    fail(texts::kListingTooLong, step, true);
    return true;
}

void Pop3Engine::handleUidlLine(std::string_view line, Pop3Step& step)
{
    if (listingFull(line, step))
        return;
    const std::size_t space = line.find(' ');
    const int number = readNumber(line);
    if (number < 1 || number > m_messageCount || space == std::string_view::npos)
        return;
    // The id is the whole rest of the line: cutting it could make two messages share one.
    const auto [at, added] = m_ids.emplace(number, std::string(line.substr(space + 1)));
    if (added && m_filedIds.count(at->second) != 0)
        ++m_filedListed;
}

void Pop3Engine::handleSizeLine(std::string_view line, Pop3Step& step)
{
    if (listingFull(line, step))
        return;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return;
    const int number = readNumber(line);
    if (number < 1 || number > m_messageCount)
        return;
    std::string_view rest = line.substr(space + 1);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    // A number named twice keeps its first size.
    m_sizes.emplace(number, readNumber(rest));
}

bool Pop3Engine::wanted(int number) const
{
    const auto id = m_ids.find(number);
    return id == m_ids.end() || m_filedIds.count(id->second) == 0;
}

void Pop3Engine::afterUidl(Pop3Step& step)
{
    // With ids, the messages filed before are left out: the bar is to measure only what is fetched.
    // When every message is fetched after all, the STAT size already is that.
    // Pipelined commands need every size before the first RETR goes out (a message too large is
    // not to be asked for).
    const bool pipelined = m_insideTls && m_pipeliningOffered && (!m_uidl || m_filedListed < m_messageCount);
    if (pipelined || (m_uidl && m_filedListed > 0)) {
        if (pipelined || m_filedListed < m_messageCount) {
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
    m_current = 0;
    m_progressTotal = 0;
    if (!m_pipelining)
        return listNext(step);
    m_queuedUpTo = 0;
    fillPipeline(step);
    nextPipelined(step);
}

void Pop3Engine::fillPipeline(Pop3Step& step)
{
    while (m_retrAhead < kPipelineDepth && (m_retrAhead == 0 || m_bytesAhead < kPipelineBytes)) {
        int next = m_queuedUpTo + 1;
        while (next <= m_messageCount && !wanted(next))
            ++next;
        if (next > m_messageCount)
            return;
        m_queuedUpTo = next;
        const auto listed = m_sizes.find(next);
        const std::int64_t size = listed == m_sizes.end() ? 0 : listed->second;
        const bool skip = size > kMaxMessageSize;
        m_queue.push_back({next, size, skip});
        if (skip)
            continue;
        step.send += "RETR " + std::to_string(next) + "\r\n";
        ++m_retrAhead;
        m_bytesAhead += size;
    }
}

void Pop3Engine::nextPipelined(Pop3Step& step)
{
    for (;;) {
        if (m_queue.empty())
            return sendQuit(step);
        const Queued front = m_queue.front();
        m_current = front.number;
        const auto id = m_ids.find(front.number);
        m_currentId = id == m_ids.end() ? std::string() : id->second;
        m_messageSize = front.size;
        if (!front.skip) {
            m_messageBytes = 0;
            m_progressShown = m_progressTotal;
            m_state = Retrieving;
            m_phase = DataPhase::StatusLine;
            m_overLimit = false;
            return;
        }
        // Not asked for at all: named in its turn, as LIST n would have it.
        m_queue.pop_front();
        step.events.push_back(
            {Pop3Event::Kind::MessageLine, format(texts::kListFormat, front.number, clampToInt(front.size))});
        notFiled(front.number, format(texts::kTooLarge, front.number, clampToInt(front.size), kMaxMessageMegabytes),
                 step);
        m_progressTotal += front.size;
        step.events.push_back({Pop3Event::Kind::ProgressPosition, {}, clampToInt(m_progressTotal)});
        fillPipeline(step);
    }
}

void Pop3Engine::listNext(Pop3Step& step)
{
    int next = m_current + 1;
    // Only numbers with a filed id are passed over, so this loop is as long as the UIDL listing.
    while (next <= m_messageCount && !wanted(next))
        ++next;
    if (next > m_messageCount) {
        sendQuit(step);
        return;
    }
    m_current = next;
    const auto id = m_ids.find(next);
    m_currentId = id == m_ids.end() ? std::string() : id->second;
    step.send += "LIST " + std::to_string(m_current) + "\r\n";
    m_state = ListSent;
}

void Pop3Engine::notFiled(int number, std::string text, Pop3Step& step)
{
    m_missedMessage = true;
    step.events.push_back({Pop3Event::Kind::Error, aboutMessage(number, std::move(text))});
}

void Pop3Engine::countMessageBytes(std::int64_t bytes, Pop3Step& step)
{
    if (bytes <= 0 || m_state != Retrieving)
        return;
    const std::int64_t before = m_messageBytes;
    m_messageBytes += bytes;
    // One position for each step mark passed, so the events do not depend on how reads fell.
    for (std::int64_t mark = (before / kProgressStep + 1) * kProgressStep; mark <= m_messageBytes;
         mark += kProgressStep) {
        const std::int64_t position = m_progressTotal + std::min(mark, m_messageSize);
        if (position <= m_progressShown)
            break;
        m_progressShown = position;
        step.events.push_back({Pop3Event::Kind::ProgressPosition, {}, clampToInt(position)});
    }
    if (!m_overLimit && m_messageBytes > kMaxMessageSize) {
        m_overLimit = true;
        if (m_messageOpen) {
            abandonCurrent();
            notFiled(m_current, format(texts::kGrewTooLarge, m_current, kMaxMessageMegabytes), step);
        }
    }
    if (m_overLimit && m_messageBytes > 2 * kMaxMessageSize) {
        // A message that does not end is not a message: nothing more can be read from this server.
        fail(format(texts::kNeverEnds, m_current), step, true);
    }
}

void Pop3Engine::handleData(std::string_view& bytes, Pop3Step& step)
{
    // Every byte taken counts for the bar and the size limit before anything else happens.
    const auto consume = [&](std::size_t n) {
        bytes.remove_prefix(n);
        countMessageBytes(static_cast<std::int64_t>(n), step);
        return !m_finished;
    };
    while (!bytes.empty()) {
        const char c = bytes.front();
        switch (m_phase) {
        case DataPhase::StatusLine:
            return;
        case DataPhase::LineStart:
            if (c == '.') {
                m_phase = DataPhase::Dot;
                if (!consume(1))
                    return;
            } else {
                m_phase = DataPhase::InLine;
            }
            break;
        case DataPhase::Dot:
            if (c == '\r') {
                m_phase = DataPhase::DotCr;
                if (!consume(1))
                    return;
            } else if (c == '\n') {
                if (!consume(1))
                    return;
                return endOfMessage(step);
            } else {
                // A stuffed line: its first dot goes.
                m_phase = DataPhase::InLine;
            }
            break;
        case DataPhase::DotCr:
            if (c == '\n') {
                if (!consume(1))
                    return;
                return endOfMessage(step);
            }
            emitData("\r");
            m_phase = DataPhase::InLine;
            break;
        case DataPhase::InLine: {
            const char* lf = static_cast<const char*>(std::memchr(bytes.data(), '\n', bytes.size()));
            const std::size_t take = lf ? static_cast<std::size_t>(lf - bytes.data()) + 1 : bytes.size();
            emitData(bytes.substr(0, take));
            if (lf)
                m_phase = DataPhase::LineStart;
            if (!consume(take))
                return;
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
    if (std::string error = m_sink.writeMessageData(data); !error.empty()) {
        notFiled(m_current, std::move(error), step);
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
        --m_drainRetr;
        return;
    }
    flushData(step);
    const int number = m_current;
    const std::string id = std::move(m_currentId);
    const bool file = m_messageOpen;
    m_messageOpen = false;
    m_progressTotal += m_messageSize;
    m_progressShown = m_progressTotal;
    step.events.push_back({Pop3Event::Kind::ProgressPosition, {}, clampToInt(m_progressTotal)});
    // The next command is due before the message is filed, so the server can answer it meanwhile.
    if (m_pipelining) {
        m_queue.pop_front();
        --m_retrAhead;
        m_bytesAhead -= m_messageSize;
        fillPipeline(step);
        if (m_queue.empty())
            sendQuit(step);
    } else {
        listNext(step);
    }
    if (m_sendNow && !step.send.empty()) {
        m_sendNow(step.send);
        step.send.clear();
    }
    if (file)
        for (std::string& error : m_sink.completeMessage(number, id))
            notFiled(number, std::move(error), step);
    if (m_pipelining && !m_queue.empty())
        nextPipelined(step);
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
    // Only a refused RETR fails without closing while RETR commands may be ahead of it: their
    // answers come before the one to QUIT.
    m_drainRetr = m_state == Retrieving && m_pipelining ? std::max(0, m_retrAhead - 1) : 0;
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
    abandonCurrent();
    for (std::string& error : m_sink.downloadEnded()) {
        // What the sink could not finish (recording the ids) means messages come again.
        m_missedMessage = true;
        step.events.push_back({Pop3Event::Kind::Error, std::move(error)});
    }
    if (m_outcome == Pop3Outcome::Running)
        m_outcome = m_missedMessage ? Pop3Outcome::Failed : Pop3Outcome::Done;
    step.events.push_back({Pop3Event::Kind::Finished, {}});
}

Pop3Step Pop3Engine::timedOut()
{
    Pop3Step step;
    if (m_finished)
        return step;
    if (m_state == QuitSent && m_drainRetr == 0 && !m_listing) {
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
    if (m_state == QuitSent && m_drainRetr == 0 && !m_listing) {
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
    // Every RETR sent whose answer has not ended, the one being received included.
    m_drainRetr = m_state != Retrieving ? 0 : m_pipelining ? m_retrAhead : 1;
    sendQuit(step);
    return step;
}

} // namespace orvalink::mail
