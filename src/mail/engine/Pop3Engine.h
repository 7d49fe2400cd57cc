#pragma once

// The POP3 conversation of one download (RFC 1939), without any socket: the receive window's glue
// hands every chunk it reads to feed() and sends what comes back; the engine tells the window what
// to show. The commands go USER, PASS, STAT, then UIDL when there is anything to fetch, then (when
// the server has ids and some message is new) LIST for the sizes of all messages, then LIST n /
// RETR n for each message to fetch, then QUIT. Nothing is deleted on the server.
//
// Which messages are fetched: the server's messages are 1 to the STAT count. With UIDL, a message
// whose id is among the ids already filed is left out; every other one is fetched, also one the
// listing leaves out or names out of order (it has no id then, so it is not remembered). An id is
// everything after the number and its one separating space, bytes as they are. Numbers beyond the
// STAT count are passed over; a number named twice keeps its first id.
//
// The progress bar's range is the STAT size; when UIDL leaves some messages out, it becomes the sum
// of the sizes the listing of all sizes gives for the messages that will be fetched, so that the
// bar fills on every download and not only on the first. Its position moves with the bytes of each
// message as they arrive (in steps of kProgressStep, never past that message's size) and reaches
// the sum of the sizes up to and including a message when that message ends.
//
// Replies are framed into lines whatever the reads look like: a reply may come one byte per read,
// several replies may come in one read, a message's "." line together with the next reply. A
// message ends at its terminating "." line (the LIST size only moves the progress bar); a line the
// server byte-stuffed loses its extra leading dot. Message data streams to the sink as it arrives,
// so memory does not grow with the size of a message. Memory does not grow with a listing either:
// a UIDL or LIST listing of more lines than the STAT count (plus kListingMargin) or of more than
// kMaxListingBytes ends the download.
//
// A message larger than kMaxMessageSize is not filed: when LIST n says so it is not retrieved at
// all; when its data grows past the limit it is read to its end and dropped (and when it goes on
// for as much again, the download ends there). The download goes on with the next message.
//
// A negative or unexpected reply, a reply line too long to be one, 60 seconds of silence (the glue
// calls timedOut()) or a connection that closes before the conversation ended: the text goes to the
// error list, QUIT is sent when the connection is still there, a message being received is
// abandoned (nothing of it filed) and the download ends as Failed, so the window stays open and
// shows what went wrong. A download in which any message was not filed (the sink refused it, it
// was too large) ends as Failed too, with each such message named in the error list.
//
// With TransportSecurity::StartTls (RFC 2595) the greeting is answered with CAPA; when the server
// lists STLS, STLS follows, and its +OK asks the glue (step.startTls) to run the TLS handshake on
// the connection; anything the server sent after that +OK in clear is dropped. Once the handshake
// succeeded the glue calls tlsEstablished(); what the server said before TLS is forgotten, CAPA is
// asked again inside TLS and USER/PASS follow. A server that does not offer STLS ends the download
// before the name or the password is sent. With Implicit the glue runs TLS from the first byte and
// the greeting is answered with CAPA, then USER/PASS. With None the conversation is exactly the
// plain one: no CAPA, one command at a time.
//
// Inside TLS, a server whose capability list (asked inside TLS) has PIPELINING (RFC 2449) gets
// its commands without waiting for each answer: after UIDL the listing of all sizes is always
// asked, then RETR n goes out for up to kPipelineDepth messages (or kPipelineBytes of them by
// their listed sizes) ahead of the one being received, and one more each time a message ends; the
// per-message LIST n is not sent (its size comes from the listing). The answers still come, and are
// handled, one message after the other, so the filing, the events and the error list are the same
// as in the one-at-a-time conversation. Without PIPELINING, or when the listing of all sizes is
// refused, it is the one-at-a-time conversation.
//
// The glue, for one download:
//   connected          make the engine (state 1, waiting for the greeting), start the timer
//   bytes read         step = feed(bytes)
//   timer fired        step = timedOut()
//   abort button       with a connection: step = abort(); without: close the window
//   connection closed  step = connectionClosed(); close the window unless outcome() is Failed
// and after each step: send step.send, show step.events in order, close the connection when
// step.disconnect says so, and restart the timer while waitingForServer().
//
// Every number from the server is read safely: a missing or non-numeric number counts as 0 (a
// leading "-" is not a digit), a number beyond 2^31-1 counts as 2^31-1.
//
// All texts are code page 932 bytes.

#include "mail/engine/MailAccount.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace orvalink::mail {

// Where the bytes of each retrieved message go; the receive side files them. Calls come from
// inside feed() in this order per message: beginMessage, writeMessageData any number of times,
// then completeMessage or abandonMessage. completeMessage runs before the next reply is handled,
// so a message is filed right after its data.
class Pop3MessageSink {
public:
    virtual ~Pop3MessageSink() = default;

    // Message `number` of the server starts; what is kept of it holds only its own bytes. An error
    // text (non-empty) means it cannot be kept: the engine still reads the message to its end but
    // passes nothing on.
    // Every text about a message goes to the error list starting with "第nメール" (put in front
    // when the text does not start with it).
    virtual std::string beginMessage(int number) = 0;

    // The next bytes of the message as the server sent them (line ends as received, the byte
    // stuffing removed, without the terminating "." line). An error text means the rest cannot be
    // kept: the engine calls abandonMessage and skips the rest of the message.
    virtual std::string writeMessageData(std::string_view data) = 0;

    // The terminating line arrived: file the message. `uniqueId` is its UIDL id exactly as the
    // server sent it (any bytes), empty when the server has none for it. Returns the texts for the
    // error list; any text means the message was not filed and the download ends as Failed.
    virtual std::vector<std::string> completeMessage(int number, std::string_view uniqueId) = 0;

    // The message will not be completed (connection dropped, error, time-out, abort, write
    // failure): nothing of it may be filed.
    virtual void abandonMessage(int number) = 0;

    // The conversation is over (called once, before the Finished event): work the sink put off
    // until the end is done now. Returns texts for the error list; any text makes the download
    // end as Failed.
    virtual std::vector<std::string> downloadEnded() { return {}; }
};

// One thing the window shows, in the order it happened.
struct Pop3Event {
    enum class Kind {
        StatusLine,       // text: the new text of status line 1043
        MessageLine,      // text: the new text of message line 1044
        ProgressRange,    // value: the progress bar's range becomes 0 to value
        ProgressPosition, // value: the bar's position
        Error,            // text: a line added to the error list 1003
        Finished,         // the conversation is over; see Pop3Engine::outcome()
    };
    Kind kind;
    std::string text;
    int value = 0;

    bool operator==(const Pop3Event&) const = default;
};

// What one call asks of the glue.
struct Pop3Step {
    // Bytes to send, whole commands with their CR LF (possibly none).
    std::string send;
    // The glue closes the connection after sending `send` (after a time-out: a silent server may
    // never answer QUIT).
    bool disconnect = false;
    // After sending `send`, the glue starts the TLS handshake and calls tlsEstablished() once it
    // succeeded.
    bool startTls = false;
    std::vector<Pop3Event> events;
};

enum class Pop3Outcome {
    Running,
    // QUIT was answered or the server closed after it; the window closes.
    Done,
    // Something went wrong (the error list says what); the window stays open.
    Failed,
    // The user pressed abort; the window closes when the server closes the connection.
    Aborted,
};

// The port to connect to for an account's "POP Port No" text: the number it spells when that is a
// port (1-65535, decimal digits only, blanks around it allowed), 110 otherwise.
int pop3Port(std::string_view portText);

struct Pop3Login {
    std::string user;     // sent with USER, as stored
    std::string password; // sent with PASS, as stored
};

class Pop3Engine {
public:
    // Receive states as the window numbers them. 5 is the UIDL listing, 7 the listing of all sizes.
    enum State : int {
        Greeting = 1,
        UserSent = 2,
        PassSent = 3,
        StatSent = 4,
        UidlSent = 5,
        ListSent = 6,
        SizesSent = 7,
        Retrieving = 8,
        QuitSent = 9,
        CapaSent = 10, // StartTls only: the capability list before STLS
        StlsSent = 11,
        TlsWait = 12, // the TLS handshake runs
    };

    // The seconds of silence after which the glue calls timedOut().
    static constexpr int kTimeoutSeconds = 60;
    // The longest reply line taken (RFC 1939 allows 512 bytes); a longer one ends the download.
    static constexpr std::size_t kMaxReplyLine = 4096;
    // The largest message filed, counted in bytes as the server sends them.
    static constexpr std::int64_t kMaxMessageSize = 64 * 1024 * 1024;
    // Lines a listing may have beyond the STAT count, and the bytes all its lines may take.
    static constexpr std::int64_t kListingMargin = 16;
    static constexpr std::size_t kMaxListingBytes = 16 * 1024 * 1024;
    // The capability list before STLS: a few lines (RFC 2449); one that goes past these is not
    // a capability list, and waiting for its end would only end at the silence limit.
    static constexpr int kMaxCapaLines = 256;
    static constexpr std::size_t kMaxCapaBytes = 64 * 1024;
    // The progress bar moves within a message each time this many more bytes of it arrived.
    static constexpr std::int64_t kProgressStep = 16 * 1024;
    // RETR commands sent ahead when the server takes pipelined commands, and the listed bytes
    // they may ask for together (a first one is always sent).
    static constexpr int kPipelineDepth = 16;
    static constexpr std::int64_t kPipelineBytes = 1024 * 1024;

    // `filedIds` are the UIDL ids of messages already filed for this account; messages with those
    // ids are neither listed nor retrieved. The sink must outlive the engine. The engine starts in
    // state 1, waiting for the greeting of a connection just made.
    Pop3Engine(Pop3Login login, Pop3MessageSink& sink, std::set<std::string> filedIds = {},
               TransportSecurity security = TransportSecurity::None);

    // Optional: when set, the commands due when a message ends (LIST of the next one, or QUIT) go
    // out through `send` before the message is filed instead of in the step, so that the server
    // answers while the filing runs. The reply is still handled only after the filing.
    void setSendNow(std::function<void(const std::string&)> send) { m_sendNow = std::move(send); }

    // Bytes read from the connection, any amount (also none).
    Pop3Step feed(std::string_view bytes);
    // The glue's timer: the server said nothing for kTimeoutSeconds while the engine waited.
    Pop3Step timedOut();
    // The connection closed (by the server or broken). After QUIT this is the normal end.
    Pop3Step connectionClosed();
    // The abort button: QUIT now; a message being received is abandoned.
    Pop3Step abort();
    // The TLS handshake asked for by step.startTls succeeded: the login follows.
    Pop3Step tlsEstablished();

    int state() const { return m_state; }
    Pop3Outcome outcome() const { return m_outcome; }
    // True while the engine waits for the server; the glue runs its time-out timer only then and
    // restarts it whenever bytes arrive.
    bool waitingForServer() const { return !m_finished; }

    // The numbers the download was told, for the window's state dump and for tests.
    int messageCount() const { return m_messageCount; }
    int currentMessage() const { return m_current; }
    bool serverHasUidl() const { return m_uidl; }
    // The server's capability list inside TLS had PIPELINING: RETR commands go out ahead.
    bool pipelining() const { return m_pipelining; }

private:
    enum class DataPhase { StatusLine, LineStart, Dot, DotCr, InLine };

    bool inMessageData() const;
    void handleLine(std::string_view line, Pop3Step& step);
    void handleData(std::string_view& bytes, Pop3Step& step);
    void handleUidlLine(std::string_view line, Pop3Step& step);
    void handleSizeLine(std::string_view line, Pop3Step& step);
    bool listingFull(std::string_view line, Pop3Step& step);
    bool wanted(int number) const;
    void afterUidl(Pop3Step& step);
    void startFetching(Pop3Step& step);
    void listNext(Pop3Step& step);
    void fillPipeline(Pop3Step& step);
    void nextPipelined(Pop3Step& step);
    void sendCapa(Pop3Step& step);
    void endOfMessage(Pop3Step& step);
    void countMessageBytes(std::int64_t bytes, Pop3Step& step);
    void notFiled(int number, std::string text, Pop3Step& step);
    void abandonCurrent();
    void fail(std::string_view text, Pop3Step& step, bool disconnect);
    void sendQuit(Pop3Step& step);
    void sendUser(Pop3Step& step);
    void finish(Pop3Step& step);
    void emitData(std::string_view data);
    void flushData(Pop3Step& step);

    Pop3Login m_login;
    Pop3MessageSink& m_sink;
    TransportSecurity m_security;
    bool m_stlsOffered = false;
    bool m_insideTls = false;         // Implicit from the start, StartTls once the handshake is done
    bool m_pipeliningOffered = false; // the capability list inside TLS said PIPELINING
    bool m_pipelining = false;        // RETR commands go out ahead (the sizes are listed)
    int m_capaLines = 0;
    std::size_t m_capaBytes = 0;
    std::function<void(const std::string&)> m_sendNow;
    std::set<std::string> m_filedIds;

    int m_state = Greeting;
    Pop3Outcome m_outcome = Pop3Outcome::Running;
    std::string m_line; // a reply line still without its LF

    int m_messageCount = 0;
    std::int64_t m_mailboxSize = 0;
    bool m_uidl = false;
    bool m_listing = false; // inside a multi-line answer (UIDL or LIST)
    std::int64_t m_listingLines = 0;
    std::size_t m_listingBytes = 0;
    // The UIDL ids by message number, and how many of them were filed before.
    std::map<int, std::string> m_ids;
    int m_filedListed = 0;
    // The sizes from the listing of all sizes, by message number; m_sizesListed once it was read.
    std::map<int, std::int64_t> m_sizes;
    bool m_sizesListed = false;
    int m_current = 0;
    std::string m_currentId;
    // Pipelined: the messages whose RETR went out (or that are skipped as too large, with no
    // command), in order; the front one is m_current. m_queuedUpTo is the last number queued.
    struct Queued {
        int number;
        std::int64_t size;
        bool skip;
    };
    std::deque<Queued> m_queue;
    int m_queuedUpTo = 0;
    int m_retrAhead = 0;           // RETR commands in m_queue
    std::int64_t m_bytesAhead = 0; // their listed sizes

    // The bar: the sizes of the messages before the current one, the current one's size, the bytes
    // of it received so far and the position last shown.
    std::int64_t m_progressTotal = 0;
    std::int64_t m_messageSize = 0;
    std::int64_t m_messageBytes = 0;
    std::int64_t m_progressShown = 0;
    // Some message of this download was not filed: it ends as Failed.
    bool m_missedMessage = false;
    // The current message grew past kMaxMessageSize: the rest of it is read and dropped.
    bool m_overLimit = false;

    bool m_finished = false;

    DataPhase m_phase = DataPhase::StatusLine;
    bool m_messageOpen = false; // beginMessage succeeded and nothing failed since
    // QUIT went out while this many RETR answers were still coming (the one being received among
    // them): they are read and dropped before the answer to QUIT.
    int m_drainRetr = 0;
    std::string m_dataOut; // message data gathered before it goes to the sink
};

} // namespace orvalink::mail
