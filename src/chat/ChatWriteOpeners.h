#pragma once

// Opening chat write windows: to a whole group and to one member (the tree's context menus), and
// a received message in read mode (the right pane). Each opener has the group table take the
// window's thread into a free slot, start it and wait until it is ready, then shows the window;
// all of them run on the GUI thread. The text rules the windows use (member keys, row headers, reply quoting)
// are here too.

#include <string>
#include <string_view>
#include <vector>

namespace orvalink::chat {

class CSendChatThread;
class ChatGroupTable;

// Parts of a member key "address#port#name": the address, and the name (everything after the
// second "#", so a name is whatever the peer announced).
std::string_view addressOfKey(std::string_view key);
std::string_view nameOfKey(std::string_view key);
// The address of the first member key whose name is exactly name; empty when there is none.
std::string recipientFor(const std::vector<std::string>& members, std::string_view name);

// The sender's display name in a row header: the header without its time stamp
// ("  %Y/%m/%d  %H:%M:%S") and the " (続く)" mark, so names with spaces stay whole. A header of
// another form gives the part before its first space.
std::string senderNameOfHeader(std::string_view header);

// The reply text: every line of body prefixed with ">", line ends kept; a last line without CR LF
// is quoted as well.
std::string quoteReply(std::string_view body);

// The openers. Each returns the window's thread, or null when no window was opened: all 100 slots
// in use (the user is told), or a group index that names no group.
CSendChatThread* openWriteToGroup(ChatGroupTable& table, int group);
CSendChatThread* openWriteToPerson(ChatGroupTable& table, int group, const std::string& memberName);
// To the member of this key (a member node of the tree): the key's address, whatever other
// members share its name; no recipient (the send is refused) once the member has left.
CSendChatThread* openWriteToMember(ChatGroupTable& table, int group, const std::string& memberKey);
// A row of group (the one the right pane shows) that the user opened, with its header and body.
// With the sender's member key the reply goes to that member while it is present; without one, to
// the first member of the sender's name.
CSendChatThread* openMessageRow(ChatGroupTable& table, int group, const std::string& header, const std::string& body,
                                const std::string& senderKey = {});

// Closes every open chat write window without sending (the program is ending); each window's
// thread has ended when this returns.
void closeAllWindows(ChatGroupTable& table);

// Texts this program shows about chat write windows (code page 932).
std::string tooManyWindowsText();
std::string noRecipientText();
std::string groupDeletedText();

} // namespace orvalink::chat
