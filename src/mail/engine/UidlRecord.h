#pragma once

// The UIDL ids of the messages filed from one account, so that a second download does not file
// them again while the mail stays on the server. One small file per account beside the folder
// files in the mail directory, created 0600, LF-ended lines only ever appended:
//
//   ID                  an id in RFC 1939's form, trusted as it stands (the form older records
//                       hold).
//   TAB E TAB I TAB M   an id recorded right after its message was appended to the folder: E is
//                       the id with every byte outside 0x21-0x7E and every "%" written %XX, so
//                       that any id is kept exactly; I and M are the folder's index and mailbox
//                       sizes (decimal) once the message was in them.
//   TAB E TAB I TAB M TAB +
//                       a filing begun: the message with id E is about to be appended to the
//                       folder, whose index and mailbox were I and M bytes long just before. No
//                       id is trusted for it; it tells the next download where a copy that a kill
//                       left unrecorded may lie (interruptedFilings).
//   TAB TAB S           a confirmation: the folder files reached the disk, then this line was
//                       written and forced there; every id line from offset S of the file up to
//                       here is trusted as it stands.
//
// An id line that no confirmation covers (a kill or a power cut came before the next one) is
// trusted only when the folder files, forced to the disk when the record is loaded, are at least
// as long as the line says; otherwise its message may not be on the disk, and it is fetched again.
// So a killed download fetches again only the message being filed at the kill, and a power cut
// can fetch a message twice but never mark an unfiled one as filed. A message fetched again after
// a kill that came between its append and its id line is found in the folder by its filing line
// and its bytes, and only its id is recorded then. A last line without its LF (a
// write cut short) is not an id; the next line written ends it with a space, which no line form
// holds, so it never becomes one.

#include "platform/posix/FileDescriptor.h"
#include "store/MailStore.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace orvalink::mail {

class UidlRecord {
public:
    // The record of the account that logs in as `user` on `server`, in the mail directory
    // `mailDirPath` (a file-system path); path() is the record file's file-system path.
    UidlRecord(const std::string& mailDirPath, std::string_view server, std::string_view user);
    ~UidlRecord();
    UidlRecord(const UidlRecord&) = delete;
    UidlRecord& operator=(const UidlRecord&) = delete;

    const std::string& path() const { return m_path; }

    // The ids recorded so far and trusted (none when the file does not exist or cannot be read).
    std::set<std::string> load() const;

    // Records that the message with id `id` is about to be appended to the folder, whose index and
    // mailbox files are now `indexSize` and `mailboxSize` bytes long. Not forced to the disk.
    bool addFiling(std::string_view id, std::uint64_t indexSize, std::uint64_t mailboxSize);
    // The ids whose last filing line no id line follows (a kill came between the two), each with
    // the folder sizes its filing began at: where a copy of the message may lie unrecorded.
    std::map<std::string, store::FolderSizes> interruptedFilings() const;

    // Records the id of a message just appended to the folder, whose index and mailbox files are
    // now `indexSize` and `mailboxSize` bytes long. Not forced to the disk: confirm() does that.
    // False when the line could not be written or the id is empty.
    bool addFiled(std::string_view id, std::uint64_t indexSize, std::uint64_t mailboxSize);
    // Forces the folder files and then the ids added since the last confirmation to the disk.
    // False when that failed (the ids are then trusted only as far as the folder files show).
    bool confirm();
    // addFiled and confirm for one id whose message is already on the disk.
    bool add(std::string_view id);

    // An id as RFC 1939 allows it: 1 to 70 characters 0x21-0x7E.
    static bool validId(std::string_view id);
    // Any bytes as a part of a file name: letters, digits, ".", "-" and "_" stand for themselves,
    // every other byte is %XX, so the text holds no "/" and differs for different bytes.
    static std::string fileNameText(std::string_view text);

private:
    bool appendLine(std::string_view fields);

    std::string m_folder;
    std::string m_path;
    // Where the ids of this record's unconfirmed lines begin; -1 while there are none.
    std::int64_t m_unconfirmedFrom = -1;
    // The record file, open for appending from the first id added until the record is destroyed
    // (one download), so that recording an id costs an fstat and a write.
    platform::FileDescriptor m_fd;
    std::int64_t m_end = 0;       // the file's length as this record's writes left it
    std::int64_t m_lineStart = 0; // where the last line written begins
};

} // namespace orvalink::mail
