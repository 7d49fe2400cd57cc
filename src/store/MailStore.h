#pragma once

// The mail folder files. A folder is the pair F.idx (one index record per message) and F.mbx
// (the message texts back to back in record order), where F is the mail directory, "/" and the
// folder's path. Both files only grow by appends; a message is found by adding up the body sizes
// of the records before it. Nothing a folder holds is ever cut to repair it: only the bytes of an
// append that was itself cut off half way are taken back.
//
// All texts, and the folders' own paths below the mail directory, are code page 932 bytes. The mail
// directory is a file-system path, used byte for byte (any folder the user picks can be it): a
// folder's path is converted to the file system's form once, where it is joined onto it, and every
// path the functions below take or give is that file-system form. Every operation opens, uses and closes its files
// within one call. All operations of the process are serialised by one store lock, so the receive
// thread and the compose threads may call them at any time, and appends to one folder by several
// processes by the folder's journal file (see kJournalSuffix).

#include "store/IndexParser.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvalink::store {

// 受信したメール: where received mail is filed.
inline constexpr std::string_view kReceivedFolder = "\x8e\xf3\x90\x4d\x82\xb5\x82\xbd\x83\x81\x81\x5b\x83\x8b";
// 保存したメール: where the compose window saves a mail.
inline constexpr std::string_view kSavedFolder = "\x95\xdb\x91\xb6\x82\xb5\x82\xbd\x83\x81\x81\x5b\x83\x8b";
// 送信したメール: a copy of every mail the server accepted.
inline constexpr std::string_view kSentFolder = "\x91\x97\x90\x4d\x82\xb5\x82\xbd\x83\x81\x81\x5b\x83\x8b";
// A folder F is the files F.idx and F.mbx. Beside them, F.jnl is the folder's append journal and
// lock: every append holds it (between processes too: two instances may share a mail directory)
// and, while it writes, keeps in it both files' sizes from before, so that an append cut off half
// way (a crash, a kill) is taken back by the next one, and nothing else ever is.
inline constexpr std::string_view kIndexSuffix = ".idx";
inline constexpr std::string_view kMailboxSuffix = ".mbx";
inline constexpr std::string_view kJournalSuffix = ".jnl";

// The mailer text of a saved composition.
inline constexpr std::string_view kSavedMailer = "Orvalink Version 1.0";
// （復元されたメール）: the subject of a record the store adds, status read, to cover mailbox bytes
// that no record accounted for (an index deleted or replaced by an older copy), so that they stay
// readable and every later message lies where the body sizes say.
inline constexpr std::string_view kRecoveredSubject =
    "\x81\x69\x95\x9c\x8c\xb3\x82\xb3\x82\xea\x82\xbd\x83\x81\x81\x5b\x83\x8b\x81\x6a";

// What became of one append. The values keep their meaning for every caller: anything but Stored
// means nothing of the mail was kept, and storeResultText says why in words the user can be shown.
enum class StoreResult {
    Stored,
    // No mail directory has been chosen yet; nothing was written.
    NoMailDirectory,
    // A file could not be opened (it is not a regular file, or a symbolic link stands in its
    // place), or the mailbox is shorter than its records say; nothing was written.
    CannotOpen,
    // Writing failed part way; both files were cut back to where they were before.
    WriteFailed,
    // The index record would pass the longest record the folder format holds (kMaxRecordBody):
    // a composition's From, To and Subject together are too long. Nothing was written.
    TooLarge,
};

// Why a mail was not saved, as a code page 932 sentence for a message box ("... このメールは保存で
// きません。"). Empty for Stored.
std::string_view storeResultText(StoreResult result);

// The folder's files without extension, as the file system names them: the mail directory
// `mailDirPath` as it is, "/", and the folder path (code page 932) converted. Empty while no mail
// directory is set, so that nothing is ever written at the file-system root.
std::optional<std::string> folderFsPath(std::string_view mailDirPath, std::string_view folder);

// The lengths of a folder's index and mailbox files.
struct FolderSizes {
    std::uint64_t index = 0;
    std::uint64_t mailbox = 0;
};

// Files the finished message file `messageFile` (a received message whose lines end in CR LF) into
// the folder: its lines go to the mailbox with CR LF line ends, then its index record, status
// unread, fields taken from the message's first bytes, body size the bytes appended. A message
// file longer than the 32-bit body size holds is refused (WriteFailed) before anything is written.
// When stored, `sizesAfter` (if given) receives both folder files' lengths with the message in.
StoreResult AppendReceivedMessage(std::string_view mailDirPath, std::string_view folder, const std::string& messageFile,
                                  FolderSizes* sizesAfter = nullptr);
// The same for a message held in memory: the stored bytes are those AppendReceivedMessage stores
// for a file holding `text`.
StoreResult AppendReceivedText(std::string_view mailDirPath, std::string_view folder, std::string_view text,
                               FolderSizes* sizesAfter = nullptr);

// Saves a composition into 保存したメール: the body bytes as they are, and a record with status
// read, the saving time as arrival date, an empty header date and kSavedMailer. The sender,
// recipient and subject are kept whole: each ends only at its first NUL or line break (the
// received-mail limit of kMaxFieldBytes does not apply). A record that would pass kMaxRecordBody
// is refused with TooLarge. Anything but Stored means the mail was not saved; storeResultText
// gives the reason to show.
StoreResult AppendSavedMail(std::string_view mailDirPath, std::string_view sender, std::string_view recipient,
                            std::string_view subject, std::string_view body, std::time_t savedAt);
StoreResult AppendSavedMail(std::string_view mailDirPath, std::string_view sender, std::string_view recipient,
                            std::string_view subject, std::string_view body);

// Keeps a copy of a mail the server accepted in 送信したメール: a record like a saved composition's
// (status read, the send time as arrival date), and the body as it was sent.
StoreResult AppendSentMail(std::string_view mailDirPath, std::string_view sender, std::string_view recipient,
                           std::string_view subject, std::string_view body, std::time_t sentAt);

// "%a, %d %b %Y %H:%M:%S +0900" of the local time, with English day and month names whatever the
// process locale is. The zone is always written as +0900.
std::string formatSavedMailDate(std::time_t t);

// An append to the folder is under way, or was cut off and will be taken back by the next one.
bool hasInterruptedAppend(const std::string& folderPath);

// The records of the folder whose files are `folderPath` + ".idx"/".mbx". A folder without an
// index file is empty. Empty when the index exists but cannot be read.
std::optional<IndexListing> readFolderIndex(const std::string& folderPath);

// The text of one message of the folder. Empty when the mailbox cannot be read or is too short.
std::optional<std::string> readFolderMessage(const std::string& folderPath, const IndexEntry& entry);

} // namespace orvalink::store

namespace orvalink::store {

// The folder's index file bytes as they are between two appends (read under the store's lock and
// the folder's lock). A folder without an index file gives empty bytes; nullopt when it cannot be
// read.
std::optional<std::string> readFolderIndexBytes(const std::string& folderPath);
// `length` bytes of the folder's index from `offset` (one record, for a list that keeps none), read
// under the same locks; fewer where the file ends, nullopt when it cannot be read.
std::optional<std::string> readFolderIndexRange(const std::string& folderPath, std::uint64_t offset,
                                                std::uint64_t length);
// The same for several ranges (offset, length) at once, the files opened and locked once: the rows a
// list paints in one frame. Empty when the index cannot be read.
std::vector<std::string> readFolderIndexRanges(const std::string& folderPath,
                                               const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ranges);

// Marks the message whose record starts at `indexOffset` of the folder's index as read: the 4 bytes
// of its status word, and nothing else, become 0, under the store's lock. The record must still be
// there with the length word `recordLength`; false when it is not (the index changed), when it is
// already read, or when the write fails.
bool markMessageRead(const std::string& folderPath, std::uint64_t indexOffset, std::uint32_t recordLength);

} // namespace orvalink::store
