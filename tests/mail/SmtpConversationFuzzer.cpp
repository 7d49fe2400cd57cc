// Any reply bytes, split anywhere: the conversation never crashes, ends the same whatever the
// reads, and the mail text built from any subject and body is sound SMTP data (7-bit, CR LF line
// ends only, no line "." before the end, lines of the subject within 76 characters).
#include "mail/engine/SmtpConversation.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace orvalink::mail {

namespace {

constexpr std::string_view kHandshake = "|TLS|";

// Feeds the replies cut at `cuts`. Where the replies hold kHandshake, the glue's handshake ends
// there: tlsEstablished() when the conversation asked for one, and the marker itself is not fed.
SmtpStep runChunks(std::string_view replies, const std::vector<std::size_t>& cuts, const SmtpRequest& request,
                   SmtpState& endState)
{
    SmtpConversation conversation;
    if (!conversation.start(request).connect)
        std::abort();
    SmtpStep all;
    bool handshakeAsked = false;
    auto take = [&](const SmtpStep& step) {
        all.send += step.send;
        all.message += step.message;
        all.release = all.release || step.release;
        all.finished = all.finished || step.finished;
        handshakeAsked = handshakeAsked || step.startTls;
    };
    std::size_t segmentStart = 0;
    std::vector<std::size_t>::const_iterator cut = cuts.begin();
    while (true) {
        const std::size_t mark = replies.find(kHandshake, segmentStart);
        const std::size_t segmentEnd = mark == std::string_view::npos ? replies.size() : mark;
        std::size_t at = segmentStart;
        for (; cut != cuts.end() && *cut <= segmentEnd; ++cut) {
            if (*cut <= at)
                continue;
            take(conversation.feed(replies.substr(at, *cut - at)));
            at = *cut;
        }
        take(conversation.feed(replies.substr(at, segmentEnd - at)));
        if (mark == std::string_view::npos)
            break;
        if (handshakeAsked) {
            handshakeAsked = false;
            const SmtpStep after = conversation.tlsEstablished();
            if (after.send.empty())
                std::abort();
            take(after);
        }
        segmentStart = mark + kHandshake.size();
    }
    endState = conversation.state();
    // The conversation is over, or an ending call closes it.
    if (conversation.running() && !conversation.timedOut().release)
        std::abort();
    return all;
}

void checkMailText(const std::string& text)
{
    if (!text.ends_with("\r\n.\r\n"))
        std::abort();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80)
            std::abort();
        if (c == '\n' && (i == 0 || text[i - 1] != '\r'))
            std::abort();
        if (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))
            std::abort();
    }
    // The only line that is "." alone is the last.
    const std::size_t dotLine = text.find("\r\n.\r\n");
    if (dotLine != text.size() - 5)
        std::abort();
    const std::size_t to = text.find("\r\nTo: ");
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos && end <= to; start = end + 2)
        if (end - start > 76 && text.compare(start, 25, "Subject: =?ISO-2022-JP?B?") == 0)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The first byte picks how the rest is read; the rest is both what the server says and,
    // cut at a point the second byte picks, the subject and body typed.
    const unsigned seed = size > 0 ? data[0] : 0;
    const std::string_view replies = size > 0 ? input.substr(1) : input;
    SmtpRequest request;
    MailAccount account;
    account.smtpServer = "mx";
    account.emailAddress = "me@example.jp";
    // The seed's bits also pick the "暗号" settings: security, AUTH and clear-text AUTH.
    account.smtpSecurity = storedSecurity(static_cast<TransportSecurity>(seed % 3));
    account.smtpAuth = (seed & 4) != 0 ? "1" : "";
    account.plainAuth = (seed & 8) != 0 ? "1" : "";
    account.smtpUser = "user";
    account.smtpPassword = "secret";
    // AUTH on a plain connection is refused before connecting unless clear-text AUTH is allowed.
    if (account.smtpAuth == "1" && account.smtpSecurity.empty())
        account.plainAuth = "1";
    request.account = account;
    request.to = "you@example.jp";
    const std::size_t cut = replies.empty() ? 0 : static_cast<std::uint8_t>(replies[0]) % (replies.size() + 1);
    request.subject = std::string(replies.substr(0, cut));
    request.body = std::string(replies.substr(cut));
    request.localHostName = "desk";
    request.messageId = "<1@desk>";

    SmtpState wholeState;
    const SmtpStep whole = runChunks(replies, {}, request, wholeState);
    if (whole.finished && !whole.message.empty())
        std::abort();

    std::vector<std::size_t> cuts;
    unsigned x = seed * 2654435761u + 1;
    for (std::size_t at = 0; at < replies.size();) {
        x = x * 1103515245u + 12345u;
        at += 1 + (x >> 16) % (seed % 16 + 1);
        if (at < replies.size())
            cuts.push_back(at);
    }
    SmtpState splitState;
    if (!(runChunks(replies, cuts, request, splitState) == whole) || splitState != wholeState)
        std::abort();

    SmtpConversation built;
    built.start(request);
    checkMailText(built.mailText());
    return 0;
}

} // namespace orvalink::mail
