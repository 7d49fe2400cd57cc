#include "store/MailStore.h"

#include "platform/posix/FileDescriptor.h"
#include "platform/text/Cp932.h"
#include "store/ReceivedHeaderScan.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvalink::store {

using platform::FileDescriptor;

namespace {

// One lock for the whole store: the receive thread and the compose threads append to folders, and
// the received-message buffer below is shared.
std::mutex& storeMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Holds the first kHeaderSearchBytes of the received message being filed; guarded by storeMutex.
std::vector<char>& searchBuffer()
{
    static std::vector<char> buffer(kHeaderSearchBytes);
    return buffer;
}

// One file as fstat sees it: which file, how long, and when it last changed (in data or in any
// other way, by anyone).
struct FileState {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    time_t changedSeconds = 0;
    long changedNanoseconds = 0;

    bool operator==(const FileState&) const = default;
};

FileState fileState(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

// What the last append of this process left in a folder's files. When both files are still the
// same files, unchanged since, they are known to be in step and need no scan before the next
// append. Guarded by storeMutex.
struct KnownFolder {
    FileState index;
    FileState mailbox;

    bool operator==(const KnownFolder&) const = default;
};

std::map<std::string, KnownFolder>& knownFolders()
{
    static std::map<std::string, KnownFolder> folders;
    return folders;
}

// Owner-only: a user's mail is nobody else's to read.
constexpr mode_t kPrivateFileMode = 0600;

// A symbolic link in a folder file's place is refused (ELOOP): the store writes only into files
// of its own, never into one a link leads to somewhere else.
int openFsPath(const std::string& fsPath, int flags)
{
    return ::open(fsPath.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, kPrivateFileMode);
}

// Reads until `size` bytes are in or the file ends; the count read.
std::size_t readFull(int fd, char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// The bytes of a file from `from` to `to` (its size when they were counted).
std::optional<std::string> readRange(int fd, off_t from, off_t to)
{
    std::string bytes(static_cast<std::size_t>(to - from), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, from + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

// Reads a folder's mailbox for placeMessages; `fd` must stay open while the listing is placed.
MailboxReader mailboxReader(int fd)
{
    return [fd](std::uint64_t offset, std::uint64_t size) -> std::string {
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) ||
            size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) - offset)
            return {};
        return readRange(fd, static_cast<off_t>(offset), static_cast<off_t>(offset + size)).value_or(std::string());
    };
}

// What an append writes into the folder's journal file before it touches either folder file, and
// clears when both are complete: the two files as they were. When the journal still holds an entry
// at the next append, that append was interrupted (the process was killed, the machine stopped),
// and exactly the bytes it added are taken away again: nothing that was there before it is ever
// cut. The same file is the folder's lock: appends hold it exclusively, readers shared. It stays in
// place between appends, so that an append creates and removes no file beside its own data.
//
// Layout (integers 64-bit little-endian): "OLJ1", then the index file's device, inode and size,
// the mailbox file's device, inode and size, then a check sum of the 48 bytes before it. An entry
// is written with one write before any data is, so one that is short or does not add up means the
// append had not begun to write. Clearing overwrites the mark "OLJ1" with "OLJ0".
struct AppendJournal {
    std::uint64_t indexDevice = 0;
    std::uint64_t indexInode = 0;
    std::uint64_t indexSize = 0;
    std::uint64_t mailboxDevice = 0;
    std::uint64_t mailboxInode = 0;
    std::uint64_t mailboxSize = 0;
};

constexpr std::string_view kJournalMagic = "OLJ1";
constexpr std::string_view kJournalCleared = "OLJ0";
constexpr std::size_t kJournalBytes = 4 + 7 * 8;

std::uint64_t journalCheckSum(std::string_view bytes)
{
    std::uint64_t sum = 14695981039346656037ull;
    for (char c : bytes) {
        sum ^= static_cast<unsigned char>(c);
        sum *= 1099511628211ull;
    }
    return sum;
}

void appendU64(std::string& out, std::uint64_t value)
{
    for (int shift = 0; shift < 64; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::uint64_t readU64(const char* p)
{
    return static_cast<std::uint64_t>(readU32(p)) | static_cast<std::uint64_t>(readU32(p + 4)) << 32;
}

std::string encodeJournal(const AppendJournal& j)
{
    std::string out(kJournalMagic);
    for (std::uint64_t v : {j.indexDevice, j.indexInode, j.indexSize, j.mailboxDevice, j.mailboxInode, j.mailboxSize})
        appendU64(out, v);
    appendU64(out, journalCheckSum(out));
    return out;
}

std::optional<AppendJournal> decodeJournal(std::string_view bytes)
{
    if (bytes.size() != kJournalBytes || !bytes.starts_with(kJournalMagic) ||
        readU64(bytes.data() + kJournalBytes - 8) != journalCheckSum(bytes.substr(0, kJournalBytes - 8)))
        return std::nullopt;
    const char* p = bytes.data() + kJournalMagic.size();
    AppendJournal j;
    for (std::uint64_t* v :
         {&j.indexDevice, &j.indexInode, &j.indexSize, &j.mailboxDevice, &j.mailboxInode, &j.mailboxSize}) {
        *v = readU64(p);
        p += 8;
    }
    return j;
}

// A folder's files opened for one append, under the folder's lock, brought in step before anything
// is written.
class FolderAppend {
public:
    explicit FolderAppend(std::string folderPath) : m_path(std::move(folderPath)) {}
    FolderAppend(const FolderAppend&) = delete;
    FolderAppend& operator=(const FolderAppend&) = delete;

    // An append that neither finished nor was given up is given up here.
    ~FolderAppend()
    {
        if (m_journalWritten && !m_finished)
            cutBack();
    }

    // The index is opened first: when it cannot be opened, the mailbox is not even created.
    StoreResult open()
    {
        m_journal = FileDescriptor(openFsPath(m_path + std::string(kJournalSuffix), O_RDWR | O_CREAT));
        if (!m_journal.isOpen() || !platform::lockFile(m_journal.get(), LOCK_EX))
            return StoreResult::CannotOpen;
        m_index = FileDescriptor(openFsPath(m_path + std::string(kIndexSuffix), O_RDWR | O_CREAT | O_APPEND));
        if (!m_index.isOpen())
            return StoreResult::CannotOpen;
        const std::string mailboxPath = m_path + std::string(kMailboxSuffix);
        m_mailbox = FileDescriptor(openFsPath(mailboxPath, O_RDWR | O_APPEND));
        if (!m_mailbox.isOpen() && errno == ENOENT) {
            m_mailbox = FileDescriptor(openFsPath(mailboxPath, O_RDWR | O_CREAT | O_EXCL | O_APPEND));
            m_mailboxCreated = m_mailbox.isOpen();
        }
        if (!m_mailbox.isOpen())
            return StoreResult::CannotOpen;
        struct stat indexStat {};
        struct stat mailboxStat {};
        if (::fstat(m_index.get(), &indexStat) != 0 || ::fstat(m_mailbox.get(), &mailboxStat) != 0 ||
            !S_ISREG(indexStat.st_mode) || !S_ISREG(mailboxStat.st_mode))
            return StoreResult::CannotOpen;
        m_found = {fileState(indexStat), fileState(mailboxStat)};
        m_before = {static_cast<std::uint64_t>(indexStat.st_dev),   static_cast<std::uint64_t>(indexStat.st_ino),
                    static_cast<std::uint64_t>(indexStat.st_size),  static_cast<std::uint64_t>(mailboxStat.st_dev),
                    static_cast<std::uint64_t>(mailboxStat.st_ino), static_cast<std::uint64_t>(mailboxStat.st_size)};
        if (!rollBackInterruptedAppend())
            return StoreResult::WriteFailed;
        if (!writeJournal())
            return StoreResult::CannotOpen;
        return bringInStep();
    }

    StoreResult appendMailbox(const char* data, std::size_t size)
    {
        if (!platform::writeAll(m_mailbox.get(), std::string_view(data, size))) {
            cutBack();
            return StoreResult::WriteFailed;
        }
        m_appended += size;
        return StoreResult::Stored;
    }

    std::uint64_t appendedToMailbox() const { return m_appended; }

    // The record of the message just appended; the append is complete once it is written.
    StoreResult appendRecord(const IndexRecord& record)
    {
        if (!appendIndex(record)) {
            cutBack();
            return StoreResult::WriteFailed;
        }
        m_finished = true;
        clearJournal();
        struct stat indexStat {};
        struct stat mailboxStat {};
        if (::fstat(m_index.get(), &indexStat) == 0 && ::fstat(m_mailbox.get(), &mailboxStat) == 0) {
            knownFolders()[m_path] = {fileState(indexStat), fileState(mailboxStat)};
            m_after = {static_cast<std::uint64_t>(indexStat.st_size), static_cast<std::uint64_t>(mailboxStat.st_size)};
        } else {
            knownFolders().erase(m_path);
        }
        return StoreResult::Stored;
    }

    // Both files' sizes once the append was complete.
    const FolderSizes& sizesAfter() const { return m_after; }

    // Gives up an append that has begun: both files go back to their sizes before it. When a cut
    // fails too, the journal stays and the next append cuts them.
    void cutBack()
    {
        m_finished = true;
        knownFolders().erase(m_path);
        if (!m_journalWritten)
            return;
        const bool mailboxCut = ::ftruncate(m_mailbox.get(), static_cast<off_t>(m_before.mailboxSize)) == 0;
        const bool indexCut = ::ftruncate(m_index.get(), static_cast<off_t>(m_before.indexSize)) == 0;
        if (mailboxCut && indexCut)
            clearJournal();
        m_appended = 0;
    }

private:
    bool appendIndex(const IndexRecord& record)
    {
        const std::string bytes = encodeIndexRecord(record);
        return platform::writeAll(m_index.get(), bytes);
    }

    // A journal left by an interrupted append: the bytes that append added are taken away, unless
    // it had written everything (whole records in the index whose messages are exactly what the
    // mailbox gained) and only the journal's removal was missing. A file that is not the one the
    // journal names, or is shorter than it was, is left as it is.
    bool rollBackInterruptedAppend()
    {
        char buffer[kJournalBytes + 1];
        const ssize_t n = ::pread(m_journal.get(), buffer, sizeof buffer, 0);
        if (n <= 0)
            return true;
        const std::optional<AppendJournal> journal =
            decodeJournal(std::string_view(buffer, static_cast<std::size_t>(n)));
        if (journal) {
            const bool indexOwn = journal->indexDevice == m_before.indexDevice &&
                                  journal->indexInode == m_before.indexInode && journal->indexSize < m_before.indexSize;
            const bool mailboxOwn = journal->mailboxDevice == m_before.mailboxDevice &&
                                    journal->mailboxInode == m_before.mailboxInode &&
                                    journal->mailboxSize < m_before.mailboxSize;
            if (!appendWasComplete(*journal)) {
                if (indexOwn) {
                    if (::ftruncate(m_index.get(), static_cast<off_t>(journal->indexSize)) != 0)
                        return false;
                    m_before.indexSize = journal->indexSize;
                }
                if (mailboxOwn) {
                    if (::ftruncate(m_mailbox.get(), static_cast<off_t>(journal->mailboxSize)) != 0)
                        return false;
                    m_before.mailboxSize = journal->mailboxSize;
                }
            }
        }
        return !journal || clearJournal();
    }

    bool appendWasComplete(const AppendJournal& journal) const
    {
        if (journal.indexDevice != m_before.indexDevice || journal.indexInode != m_before.indexInode ||
            journal.mailboxDevice != m_before.mailboxDevice || journal.mailboxInode != m_before.mailboxInode ||
            journal.indexSize > m_before.indexSize || journal.mailboxSize > m_before.mailboxSize)
            return false;
        const std::optional<std::string> added =
            readRange(m_index.get(), static_cast<off_t>(journal.indexSize), static_cast<off_t>(m_before.indexSize));
        if (!added || added->size() != m_before.indexSize - journal.indexSize)
            return false;
        const IndexListing records = parseIndex(*added);
        if (!records.unreadable.empty())
            return false;
        for (const IndexEntry& e : records.entries)
            if (e.damaged || e.lengthWordWrong)
                return false;
        return records.mailboxBytes == m_before.mailboxSize - journal.mailboxSize;
    }

    bool writeJournal()
    {
        const std::string bytes = encodeJournal(m_before);
        if (::pwrite(m_journal.get(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
            clearJournal();
            return false;
        }
        m_journalWritten = true;
        return true;
    }

    bool clearJournal()
    {
        m_journalWritten = false;
        return ::pwrite(m_journal.get(), kJournalCleared.data(), kJournalCleared.size(), 0) ==
               static_cast<ssize_t>(kJournalCleared.size());
    }

    // Puts the folder in step before the new message is added, without cutting anything: mailbox
    // bytes that no record accounts for (an index deleted or replaced by an older copy, a message
    // whose record never got written by an earlier version) get a record of their own, status read,
    // subject 「（復元されたメール）」, so that they stay readable and the new message lies where the
    // body sizes say. A mailbox shorter than its records say is filled up with zero bytes to the
    // length they give only when this append created it (the index outlived its mailbox): the
    // records keep their places and the new message lies where a reader looks for it. A mailbox
    // that was there already (cut from outside the program, a body size damaged, a file that is not
    // the folder's own) is never grown with bytes nobody wrote: the append is refused. Unreadable index bytes stay
    // where they are; when readable records follow them, the mailbox bytes the readable records do not account for may
    // be theirs and are left to them, except for those found to lie after the messages of the records that follow them.
    StoreResult bringInStep()
    {
        const auto known = knownFolders().find(m_path);
        if (known != knownFolders().end() && known->second == m_found)
            return StoreResult::Stored;

        const off_t indexSize = static_cast<off_t>(m_before.indexSize);
        const std::optional<std::string> index = readRange(m_index.get(), 0, indexSize);
        if (!index || static_cast<off_t>(index->size()) != indexSize) {
            cutBack();
            return StoreResult::CannotOpen;
        }
        IndexListing listing = parseIndex(*index);
        const std::uint64_t mailbox = m_before.mailboxSize;
        if (mailbox < listing.mailboxBytes) {
            if (!m_mailboxCreated) {
                cutBack();
                return StoreResult::CannotOpen;
            }
            // Grown without writing the zero bytes (a hole in the file): a body size damaged to
            // near 4 GiB costs neither the time nor the disk space of writing that many.
            if (listing.mailboxBytes > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) ||
                ::ftruncate(m_mailbox.get(), static_cast<off_t>(listing.mailboxBytes)) != 0) {
                cutBack();
                return StoreResult::WriteFailed;
            }
        } else if (mailbox > listing.mailboxBytes) {
            placeMessages(listing, mailbox, mailboxReader(m_mailbox.get()));
            if (!listing.endUnclaimed())
                return StoreResult::Stored;
            for (std::uint64_t left = mailbox - listing.placedEnd; left > 0;) {
                IndexRecord recovered;
                recovered.status = kStatusRead;
                recovered.subject = std::string(kRecoveredSubject);
                recovered.arrivalDate = formatSavedMailDate(std::time(nullptr));
                recovered.mailer = std::string(kSavedMailer);
                recovered.bodySize = static_cast<std::uint32_t>(
                    std::min<std::uint64_t>(left, std::numeric_limits<std::uint32_t>::max()));
                if (!appendIndex(recovered)) {
                    cutBack();
                    return StoreResult::WriteFailed;
                }
                left -= recovered.bodySize;
            }
        }
        return StoreResult::Stored;
    }

    std::string m_path;
    FileDescriptor m_journal;
    FileDescriptor m_index;
    FileDescriptor m_mailbox;
    // Both files when this append found them (after an interrupted one was taken back): what the
    // journal holds, and what a failed append returns to.
    AppendJournal m_before;
    // Both files as open found them, before anything was taken back or written.
    KnownFolder m_found;
    FolderSizes m_after;
    std::uint64_t m_appended = 0;
    bool m_mailboxCreated = false;
    bool m_journalWritten = false;
    bool m_finished = false;
};

// Copies a message the way a text-mode line copy does: each line (ended by LF, a CR right before
// the LF belonging to the line end) is written followed by CR LF, and so is a last line without a
// line end. A CR not followed by LF is text. The state carries across chunks of the file.
class LineEndCopy {
public:
    void feed(const char* data, std::size_t size, std::string& out)
    {
        const char* p = data;
        const char* const end = data + size;
        if (p != end && m_pendingCr) {
            m_pendingCr = false;
            if (*p == '\n') {
                out.append("\r\n");
                m_inLine = false;
                ++p;
            } else {
                out.push_back('\r');
            }
        }
        while (p != end) {
            const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (lf == nullptr) {
                // The line goes on in the next chunk; a CR at the chunk's end may yet be a line end.
                std::size_t length = static_cast<std::size_t>(end - p);
                if (p[length - 1] == '\r') {
                    m_pendingCr = true;
                    --length;
                }
                out.append(p, length);
                m_inLine = true;
                return;
            }
            std::size_t length = static_cast<std::size_t>(lf - p);
            if (length > 0 && p[length - 1] == '\r')
                --length;
            out.append(p, length);
            out.append("\r\n");
            m_inLine = false;
            p = lf + 1;
        }
    }

    void finish(std::string& out)
    {
        if (m_pendingCr)
            out.push_back('\r');
        if (m_inLine)
            out.append("\r\n");
        m_pendingCr = m_inLine = false;
    }

private:
    bool m_pendingCr = false;
    bool m_inLine = false;
};

const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

} // namespace

std::string_view storeResultText(StoreResult result)
{
    switch (result) {
    case StoreResult::Stored:
        return {};
    case StoreResult::NoMailDirectory:
        // メールの保存フォルダが決まっていないため、このメールは保存できません。
        return "\x83\x81\x81\x5b\x83\x8b\x82\xcc\x95\xdb\x91\xb6\x83\x74\x83\x48\x83\x8b\x83\x5f\x82\xaa\x8c\x88"
               "\x82\xdc\x82\xc1\x82\xc4\x82\xa2\x82\xc8\x82\xa2\x82\xbd\x82\xdf\x81\x41\x82\xb1\x82\xcc\x83\x81"
               "\x81\x5b\x83\x8b\x82\xcd\x95\xdb\x91\xb6\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42";
    case StoreResult::CannotOpen:
        // 保存したメールのファイルを開けないため、このメールは保存できません。
        return "\x95\xdb\x91\xb6\x82\xb5\x82\xbd\x83\x81\x81\x5b\x83\x8b\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b"
               "\x82\xf0\x8a\x4a\x82\xaf\x82\xc8\x82\xa2\x82\xbd\x82\xdf\x81\x41\x82\xb1\x82\xcc\x83\x81\x81\x5b"
               "\x83\x8b\x82\xcd\x95\xdb\x91\xb6\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42";
    case StoreResult::WriteFailed:
        // 保存したメールのファイルに書き込めなかったため、このメールは保存できません。
        return "\x95\xdb\x91\xb6\x82\xb5\x82\xbd\x83\x81\x81\x5b\x83\x8b\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b"
               "\x82\xc9\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xc8\x82\xa9\x82\xc1\x82\xbd\x82\xbd\x82\xdf\x81\x41"
               "\x82\xb1\x82\xcc\x83\x81\x81\x5b\x83\x8b\x82\xcd\x95\xdb\x91\xb6\x82\xc5\x82\xab\x82\xdc\x82\xb9"
               "\x82\xf1\x81\x42";
    case StoreResult::TooLarge:
        // 差出人、受取人、題名が合わせて長すぎるため、このメールは保存できません。
        return "\x8d\xb7\x8f\x6f\x90\x6c\x81\x41\x8e\xf3\x8e\xe6\x90\x6c\x81\x41\x91\xe8\x96\xbc\x82\xaa\x8d\x87"
               "\x82\xed\x82\xb9\x82\xc4\x92\xb7\x82\xb7\x82\xac\x82\xe9\x82\xbd\x82\xdf\x81\x41\x82\xb1\x82\xcc"
               "\x83\x81\x81\x5b\x83\x8b\x82\xcd\x95\xdb\x91\xb6\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42";
    }
    return {};
}

std::optional<std::string> folderFsPath(std::string_view mailDirPath, std::string_view folder)
{
    if (mailDirPath.empty())
        return std::nullopt;
    std::string path(mailDirPath);
    if (path.back() != '/')
        path.push_back('/');
    // Only the program's own folder names are code page 932 texts; the directory's bytes stay as
    // the file system gave them, whatever encoding they are in.
    path.append(platform::cp932ToUtf8(folder));
    return path;
}

namespace {

// Files a received message of `size` bytes, which `read(buffer, count)` hands over in order (fewer
// than asked, or 0, once they are all read). The caller holds the store lock.
template <typename Read>
StoreResult appendReceived(const std::string& folderPath, std::uint64_t size, Read read, FolderSizes* sizesAfter)
{
    // The copy is never shorter than the message: one past the 32-bit size field is refused before
    // anything is written.
    if (size > std::numeric_limits<std::uint32_t>::max())
        return StoreResult::WriteFailed;

    FolderAppend folderFiles(folderPath);
    if (const StoreResult opened = folderFiles.open(); opened != StoreResult::Stored)
        return opened;

    // Only the message's first bytes are searched for the index fields.
    std::vector<char>& buffer = searchBuffer();
    const std::size_t searchSize =
        read(buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(kHeaderSearchBytes, size)));

    LineEndCopy copy;
    std::string out;
    out.reserve(searchSize + searchSize / 8 + 2);
    copy.feed(buffer.data(), searchSize, out);
    char chunk[65536];
    for (;;) {
        const std::size_t n = read(chunk, sizeof chunk);
        if (n == 0)
            break;
        copy.feed(chunk, n, out);
        if (out.size() >= sizeof chunk) {
            if (const StoreResult r = folderFiles.appendMailbox(out.data(), out.size()); r != StoreResult::Stored)
                return r;
            out.clear();
        }
    }
    copy.finish(out);
    if (const StoreResult r = folderFiles.appendMailbox(out.data(), out.size()); r != StoreResult::Stored)
        return r;

    // The body size is what was appended, which equals the message's size for the CR LF texts that
    // filing hands over. A message that does not fit the 32-bit size field is not kept.
    if (folderFiles.appendedToMailbox() > std::numeric_limits<std::uint32_t>::max()) {
        folderFiles.cutBack();
        return StoreResult::WriteFailed;
    }
    IndexRecord record = scanReceivedHeaders(std::string_view(buffer.data(), searchSize));
    record.bodySize = static_cast<std::uint32_t>(folderFiles.appendedToMailbox());
    const StoreResult stored = folderFiles.appendRecord(record);
    if (stored == StoreResult::Stored && sizesAfter)
        *sizesAfter = folderFiles.sizesAfter();
    return stored;
}

} // namespace

StoreResult AppendReceivedMessage(std::string_view mailDirPath, std::string_view folder, const std::string& messageFile,
                                  FolderSizes* sizesAfter)
{
    const std::optional<std::string> path = folderFsPath(mailDirPath, folder);
    if (!path)
        return StoreResult::NoMailDirectory;
    const std::lock_guard lock(storeMutex());
    const FileDescriptor message(openFsPath(messageFile, O_RDONLY));
    struct stat messageStat {};
    if (!message.isOpen() || ::fstat(message.get(), &messageStat) != 0 || !S_ISREG(messageStat.st_mode))
        return StoreResult::CannotOpen;
    return appendReceived(
        *path, static_cast<std::uint64_t>(std::max<off_t>(messageStat.st_size, 0)),
        [&message](char* data, std::size_t size) { return readFull(message.get(), data, size); }, sizesAfter);
}

StoreResult AppendReceivedText(std::string_view mailDirPath, std::string_view folder, std::string_view text,
                               FolderSizes* sizesAfter)
{
    const std::optional<std::string> path = folderFsPath(mailDirPath, folder);
    if (!path)
        return StoreResult::NoMailDirectory;
    const std::lock_guard lock(storeMutex());
    return appendReceived(
        *path, text.size(),
        [&text](char* data, std::size_t size) {
            const std::size_t n = std::min(size, text.size());
            std::memcpy(data, text.data(), n);
            text.remove_prefix(n);
            return n;
        },
        sizesAfter);
}

namespace {

// A composition appended as it stands: its body to the mailbox, its record (status read, the time as
// arrival date, kSavedMailer) to the index.
StoreResult appendComposition(std::string_view mailDirPath, std::string_view folder, std::string_view sender,
                              std::string_view recipient, std::string_view subject, std::string_view body,
                              std::time_t savedAt)
{
    const std::optional<std::string> path = folderFsPath(mailDirPath, folder);
    if (!path)
        return StoreResult::NoMailDirectory;
    if (body.size() > std::numeric_limits<std::uint32_t>::max())
        return StoreResult::WriteFailed;

    IndexRecord record;
    record.status = kStatusRead;
    record.sender = recordFieldText(sender);
    record.subject = recordFieldText(subject);
    record.recipient = recordFieldText(recipient);
    record.arrivalDate = formatSavedMailDate(savedAt);
    record.mailer = std::string(kSavedMailer);
    record.bodySize = static_cast<std::uint32_t>(body.size());
    // The texts are kept whole, so the record as a whole may not fit the format: refused, and the
    // caller says so, rather than a cut text stored as if it were the mail.
    if (recordBodyLength(record) > kMaxRecordBody)
        return StoreResult::TooLarge;

    const std::lock_guard lock(storeMutex());
    FolderAppend folderFiles(*path);
    if (const StoreResult opened = folderFiles.open(); opened != StoreResult::Stored)
        return opened;
    if (const StoreResult r = folderFiles.appendMailbox(body.data(), body.size()); r != StoreResult::Stored)
        return r;
    return folderFiles.appendRecord(record);
}

} // namespace

StoreResult AppendSavedMail(std::string_view mailDirPath, std::string_view sender, std::string_view recipient,
                            std::string_view subject, std::string_view body, std::time_t savedAt)
{
    return appendComposition(mailDirPath, kSavedFolder, sender, recipient, subject, body, savedAt);
}

StoreResult AppendSentMail(std::string_view mailDirPath, std::string_view sender, std::string_view recipient,
                           std::string_view subject, std::string_view body, std::time_t sentAt)
{
    return appendComposition(mailDirPath, kSentFolder, sender, recipient, subject, body, sentAt);
}

StoreResult AppendSavedMail(std::string_view mailDirPath, std::string_view sender, std::string_view recipient,
                            std::string_view subject, std::string_view body)
{
    return AppendSavedMail(mailDirPath, sender, recipient, subject, body, std::time(nullptr));
}

std::string formatSavedMailDate(std::time_t t)
{
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0900", kDayNames[local.tm_wday % 7],
                  local.tm_mday, kMonthNames[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec);
    return text;
}

namespace {

// A reader waits for an append in progress in any process, so that it never sees one half done.
// A folder that no append of this program has touched has no journal file, and none is made for it.
FileDescriptor lockForReading(const std::string& folderPath)
{
    FileDescriptor lock(openFsPath(folderPath + std::string(kJournalSuffix), O_RDONLY));
    if (lock.isOpen())
        platform::lockFile(lock.get(), LOCK_SH);
    return lock;
}

} // namespace

bool hasInterruptedAppend(const std::string& folderPath)
{
    const FileDescriptor journal(openFsPath(folderPath + std::string(kJournalSuffix), O_RDONLY));
    if (!journal.isOpen())
        return false;
    char buffer[kJournalBytes + 1];
    const ssize_t n = ::pread(journal.get(), buffer, sizeof buffer, 0);
    return n > 0 && decodeJournal(std::string_view(buffer, static_cast<std::size_t>(n))).has_value();
}

std::optional<IndexListing> readFolderIndex(const std::string& folderPath)
{
    // Both files as one append left them: the records are placed while no append can change them.
    const std::lock_guard lock(storeMutex());
    const FileDescriptor folderLock = lockForReading(folderPath);
    const FileDescriptor index(openFsPath(folderPath + std::string(kIndexSuffix), O_RDONLY));
    if (!index.isOpen()) {
        if (errno == ENOENT)
            return IndexListing{};
        return std::nullopt;
    }
    struct stat indexStat {};
    if (::fstat(index.get(), &indexStat) != 0 || !S_ISREG(indexStat.st_mode))
        return std::nullopt;
    const std::optional<std::string> bytes = readRange(index.get(), 0, indexStat.st_size);
    if (!bytes)
        return std::nullopt;
    IndexListing listing = parseIndex(*bytes);
    const FileDescriptor mailbox(openFsPath(folderPath + std::string(kMailboxSuffix), O_RDONLY));
    struct stat mailboxStat {};
    if (mailbox.isOpen() && ::fstat(mailbox.get(), &mailboxStat) == 0 && S_ISREG(mailboxStat.st_mode))
        placeMessages(listing, static_cast<std::uint64_t>(mailboxStat.st_size), mailboxReader(mailbox.get()));
    else
        placeMessages(listing, 0);
    return listing;
}

std::optional<std::string> readFolderMessage(const std::string& folderPath, const IndexEntry& entry)
{
    if (!entry.placed)
        return std::nullopt;
    const std::lock_guard lock(storeMutex());
    const FileDescriptor folderLock = lockForReading(folderPath);
    const FileDescriptor mailbox(openFsPath(folderPath + std::string(kMailboxSuffix), O_RDONLY));
    struct stat mailboxStat {};
    if (!mailbox.isOpen() || ::fstat(mailbox.get(), &mailboxStat) != 0 || !S_ISREG(mailboxStat.st_mode))
        return std::nullopt;
    // A body size that reaches past the mailbox (a damaged record) is refused before anything is
    // allocated for it.
    const std::uint64_t size = static_cast<std::uint64_t>(mailboxStat.st_size);
    if (entry.offset > size || entry.record.bodySize > size - entry.offset)
        return std::nullopt;
    std::optional<std::string> text = readRange(mailbox.get(), static_cast<off_t>(entry.offset),
                                                static_cast<off_t>(entry.offset + entry.record.bodySize));
    if (!text || text->size() != entry.record.bodySize)
        return std::nullopt;
    return text;
}

} // namespace orvalink::store

namespace orvalink::store {

std::optional<std::string> readFolderIndexBytes(const std::string& folderPath)
{
    const std::lock_guard lock(storeMutex());
    const FileDescriptor folderLock = lockForReading(folderPath);
    const FileDescriptor index(openFsPath(folderPath + std::string(kIndexSuffix), O_RDONLY));
    if (!index.isOpen()) {
        if (errno == ENOENT)
            return std::string();
        return std::nullopt;
    }
    struct stat indexStat {};
    if (::fstat(index.get(), &indexStat) != 0 || !S_ISREG(indexStat.st_mode))
        return std::nullopt;
    return readRange(index.get(), 0, indexStat.st_size);
}

std::vector<std::string> readFolderIndexRanges(const std::string& folderPath,
                                               const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ranges)
{
    const std::lock_guard lock(storeMutex());
    const FileDescriptor folderLock = lockForReading(folderPath);
    const FileDescriptor index(openFsPath(folderPath + std::string(kIndexSuffix), O_RDONLY));
    struct stat indexStat {};
    if (!index.isOpen() || ::fstat(index.get(), &indexStat) != 0 || !S_ISREG(indexStat.st_mode))
        return {};
    const auto size = static_cast<std::uint64_t>(indexStat.st_size);
    std::vector<std::string> records;
    records.reserve(ranges.size());
    for (const auto& [offset, length] : ranges) {
        if (offset >= size) {
            records.emplace_back();
            continue;
        }
        records.push_back(readRange(index.get(), static_cast<off_t>(offset),
                                    static_cast<off_t>(offset + std::min(length, size - offset)))
                              .value_or(std::string()));
    }
    return records;
}

std::optional<std::string> readFolderIndexRange(const std::string& folderPath, std::uint64_t offset,
                                                std::uint64_t length)
{
    std::vector<std::string> records = readFolderIndexRanges(folderPath, {{offset, length}});
    if (records.empty())
        return std::nullopt;
    return std::move(records.front());
}

bool markMessageRead(const std::string& folderPath, std::uint64_t indexOffset, std::uint32_t recordLength)
{
    const std::lock_guard lock(storeMutex());
    const FileDescriptor folderLock = lockForReading(folderPath);
    const FileDescriptor index(openFsPath(folderPath + std::string(kIndexSuffix), O_RDWR));
    if (!index.isOpen())
        return false;
    char head[kRecordHeaderBytes];
    if (::pread(index.get(), head, sizeof head, static_cast<off_t>(indexOffset)) != static_cast<ssize_t>(sizeof head))
        return false;
    if (readU32(head) != recordLength || readU32(head + 4) == kStatusRead)
        return false;
    std::string word;
    appendU32(word, kStatusRead);
    return ::pwrite(index.get(), word.data(), 4, static_cast<off_t>(indexOffset + 4)) == 4;
}

} // namespace orvalink::store
