#pragma once

// The chat wire format. Every datagram is a 10-byte header "NNNN#MMMM#" (part number and part
// count, four zero-padded digits each) followed by a payload of "#"-separated fields whose first
// three characters are the kind. All texts are code page 932 bytes sent as typed; a datagram has
// no terminating NUL. Senders always write "0001#0001#": no message is ever split.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvalink::chat {

inline constexpr std::size_t kHeaderLength = 10;
inline constexpr std::string_view kSingleHeader = "0001#0001#";
// A receiver reads at most this much per datagram ...
inline constexpr std::size_t kReceiveBufferSize = 65536;
// ... and an assembled text must fit the socket's assembly buffer.
inline constexpr std::size_t kAssemblyCapacity = 60000;
// A personal message goes to a dotted IPv4 address, at most "255.255.255.255".
inline constexpr std::size_t kMaxAddressLength = 15;

enum class ChatKind {
    None,            // matches no kind: ignored
    Presence,        // "ON " flag N: I am a member (no row)
    Join,            // "ON " other flag: I have just joined (a row)
    GroupMessage,    // "WR1", flag not N
    PersonalMessage, // "WR2", flag not N
    Leave,           // "OFF"
};

// Building. The datagram is the header followed by the payload, exactly as concatenated here.
std::string buildPresence(std::string_view name);
std::string buildJoin(std::string_view name);
std::string buildGroupMessage(std::string_view name, std::string_view text);
std::string buildPersonalMessage(std::string_view name, std::string_view text);
std::string buildLeave(std::string_view name);

struct DatagramHeader {
    int partNumber = 0;
    int partCount = 0;
};

// Reads the header of a received datagram: the part number from byte 0 and the part count from
// byte 5, each as the decimal digits there. Nothing is returned for a datagram shorter than the
// header, for a field that does not start with a digit, or for a part number of 0 or above the
// part count: such datagrams are discarded.
std::optional<DatagramHeader> parseHeader(std::string_view datagram);

// The fields of an assembled payload.
struct ChatPayload {
    ChatKind kind = ChatKind::None;
    std::string_view name; // between the first and second "#"
    char flag = 0;         // the character before the third "#", or the first character without one
    std::string_view text; // everything after the third "#" ("#" and line breaks included)
};

// Splits a payload (the text after the header) into its fields and decides its kind. The views
// point into the argument. A payload without its second "#" has no name and is of no kind.
ChatPayload parsePayload(std::string_view payload);

// The member key: sender address in dotted decimal, "#", source port in decimal, "#", display name.
std::string memberKey(std::string_view address, unsigned port, std::string_view name);
// Parts of a member key: the address (before the first "#"), and the name (everything after the
// second "#", so a name is whatever the peer announced; empty without a second "#").
std::string_view addressOfMemberKey(std::string_view key);
std::string_view nameOfMemberKey(std::string_view key);

// The port a group's port text names, read as the store has always read it (its leading digits),
// or 0 when it names no usable port (no digits, 0, above 65535).
int portNumber(std::string_view portText);

// True for a text that can be a personal message's recipient: a dotted IPv4 address of at most
// 15 characters, four decimal parts of 0-255.
bool isDottedIPv4(std::string_view address);

} // namespace orvalink::chat
