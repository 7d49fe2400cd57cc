#include "folders/store/MailStore.h"

#include "folders/store/FileDescriptor.h"
#include "folders/store/ReceivedHeaderScan.h"
#include "platform/text/Cp932.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvalink::folders {

namespace {

// One lock for the whole store: the receive thread and the compose threads append to folders, and
// the received-message buffer below is shared.
std::mutex& storeMutex() {
    static std::mutex mutex;
    return mutex;
}

// Holds the first kHeaderSearchBytes of the received message being filed; guarded by storeMutex.
std::vector<char>& searchBuffer() {
    static std::vector<char> buffer(kHeaderSearchBytes);
    return buffer;
}

// What the last append of this process left in a folder's files. When both files are still the
// same files with the same sizes, they are known to be in step and need no scan before the next
// append. Guarded by storeMutex.
struct KnownFolder {
    dev_t indexDevice = 0;
    ino_t indexInode = 0;
    off_t indexSize = 0;
    dev_t mailboxDevice = 0;
    ino_t mailboxInode = 0;
    off_t mailboxSize = 0;
};

std::map<std::string, KnownFolder>& knownFolders() {
    static std::map<std::string, KnownFolder> folders;
    return folders;
}

int openPath(const std::string& cp932Path, int flags) {
    return ::open(text::cp932ToUtf8(cp932Path).c_str(), flags | O_CLOEXEC, 0666);
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads until `size` bytes are in or the file ends; the count read.
std::size_t readFull(int fd, char* data, std::size_t size) {
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

std::optional<std::string> readWholeFile(int fd, off_t size) {
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
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

// A folder's two files opened for one append, brought in step before anything is written.
class FolderAppend {
public:
    explicit FolderAppend(std::string folderPath) : m_path(std::move(folderPath)) {}

    // The index is opened first: when it cannot be opened, the mailbox is not even created.
    StoreResult open() {
        m_index = FileDescriptor(openPath(m_path + ".idx", O_RDWR | O_CREAT | O_APPEND));
        if (!m_index.isOpen())
            return StoreResult::CannotOpen;
        m_mailbox = FileDescriptor(openPath(m_path + ".mbx", O_WRONLY | O_CREAT | O_APPEND));
        if (!m_mailbox.isOpen())
            return StoreResult::CannotOpen;
        struct stat indexStat {};
        struct stat mailboxStat {};
        if (::fstat(m_index.get(), &indexStat) != 0 || ::fstat(m_mailbox.get(), &mailboxStat) != 0 ||
            !S_ISREG(indexStat.st_mode) || !S_ISREG(mailboxStat.st_mode))
            return StoreResult::CannotOpen;
        m_known = {indexStat.st_dev,   indexStat.st_ino,   indexStat.st_size,
                   mailboxStat.st_dev, mailboxStat.st_ino, mailboxStat.st_size};
        return bringInStep();
    }

    StoreResult appendMailbox(const char* data, std::size_t size) {
        if (!writeAll(m_mailbox.get(), data, size)) {
            cutBack();
            return StoreResult::WriteFailed;
        }
        m_appended += size;
        return StoreResult::Stored;
    }

    std::uint64_t appendedToMailbox() const { return m_appended; }

    StoreResult appendRecord(const IndexRecord& record) {
        const std::string bytes = encodeIndexRecord(record);
        if (!writeAll(m_index.get(), bytes.data(), bytes.size())) {
            cutBack();
            return StoreResult::WriteFailed;
        }
        m_known.indexSize += static_cast<off_t>(bytes.size());
        m_known.mailboxSize += static_cast<off_t>(m_appended);
        knownFolders()[m_path] = m_known;
        return StoreResult::Stored;
    }

    // Gives up an append that has begun: both files go back to their sizes before it.
    void cutBack() {
        knownFolders().erase(m_path);
        // Nothing more can be done when a cut fails too; the next append scans and repairs.
        [[maybe_unused]] const int mailboxCut = ::ftruncate(m_mailbox.get(), m_known.mailboxSize);
        [[maybe_unused]] const int indexCut = ::ftruncate(m_index.get(), m_known.indexSize);
        m_appended = 0;
    }

private:
    // An earlier append that ended half way (a crash, a full disk) can have left a final index
    // record cut short, or mailbox bytes that no record accounts for. Both are cut away first, so
    // that the new record is readable and its message lies where the body sizes say. A mailbox
    // shorter than its records say (cut from outside the program) is filled up with zero bytes to
    // the length they give: what was lost stays lost, but the records keep their messages and the
    // new message lies where a reader looks for it.
    StoreResult bringInStep() {
        const auto known = knownFolders().find(m_path);
        if (known != knownFolders().end() && known->second.indexDevice == m_known.indexDevice &&
            known->second.indexInode == m_known.indexInode && known->second.indexSize == m_known.indexSize &&
            known->second.mailboxDevice == m_known.mailboxDevice &&
            known->second.mailboxInode == m_known.mailboxInode && known->second.mailboxSize == m_known.mailboxSize)
            return StoreResult::Stored;

        const std::optional<std::string> index = readWholeFile(m_index.get(), m_known.indexSize);
        if (!index || static_cast<off_t>(index->size()) != m_known.indexSize)
            return StoreResult::CannotOpen;
        const IndexListing listing = parseIndex(*index);
        if (static_cast<std::uint64_t>(m_known.indexSize) > listing.wholeBytes) {
            if (::ftruncate(m_index.get(), static_cast<off_t>(listing.wholeBytes)) != 0)
                return StoreResult::WriteFailed;
            m_known.indexSize = static_cast<off_t>(listing.wholeBytes);
        }
        if (static_cast<std::uint64_t>(m_known.mailboxSize) != listing.mailboxBytes) {
            if (::ftruncate(m_mailbox.get(), static_cast<off_t>(listing.mailboxBytes)) != 0)
                return StoreResult::WriteFailed;
            m_known.mailboxSize = static_cast<off_t>(listing.mailboxBytes);
        }
        return StoreResult::Stored;
    }

    std::string m_path;
    FileDescriptor m_index;
    FileDescriptor m_mailbox;
    KnownFolder m_known;
    std::uint64_t m_appended = 0;
};

// Copies a message the way a text-mode line copy does: each line (ended by LF, a CR right before
// the LF belonging to the line end) is written followed by CR LF, and so is a last line without a
// line end. A CR not followed by LF is text. The state carries across chunks of the file.
class LineEndCopy {
public:
    void feed(const char* data, std::size_t size, std::string& out) {
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

    void finish(std::string& out) {
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

std::string_view storeResultText(StoreResult result) {
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

std::optional<std::string> folderFilePath(std::string_view mailDir, std::string_view folder) {
    if (mailDir.empty())
        return std::nullopt;
    std::string path(mailDir);
    if (path.back() != '/')
        path.push_back('/');
    path.append(folder);
    return path;
}

StoreResult AppendReceivedMessage(std::string_view mailDir, std::string_view folder, const std::string& messageFile) {
    const std::optional<std::string> path = folderFilePath(mailDir, folder);
    if (!path)
        return StoreResult::NoMailDirectory;
    const std::lock_guard lock(storeMutex());

    // The message's size comes first: only that much of it is searched for the index fields.
    const FileDescriptor message(openPath(messageFile, O_RDONLY));
    struct stat messageStat {};
    if (!message.isOpen() || ::fstat(message.get(), &messageStat) != 0 || !S_ISREG(messageStat.st_mode))
        return StoreResult::CannotOpen;

    FolderAppend folderFiles(*path);
    if (const StoreResult opened = folderFiles.open(); opened != StoreResult::Stored)
        return opened;

    std::vector<char>& buffer = searchBuffer();
    const std::size_t searchSize =
        readFull(message.get(), buffer.data(),
                 std::min(kHeaderSearchBytes, static_cast<std::size_t>(std::max<off_t>(messageStat.st_size, 0))));

    LineEndCopy copy;
    std::string out;
    out.reserve(searchSize + searchSize / 8 + 2);
    copy.feed(buffer.data(), searchSize, out);
    char chunk[65536];
    for (;;) {
        const std::size_t n = readFull(message.get(), chunk, sizeof chunk);
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

    // The body size is what was appended, which equals the file size for the CR LF files that
    // filing hands over. A message that does not fit the 32-bit size field is not kept.
    if (folderFiles.appendedToMailbox() > std::numeric_limits<std::uint32_t>::max()) {
        folderFiles.cutBack();
        return StoreResult::WriteFailed;
    }
    IndexRecord record = scanReceivedHeaders(std::string_view(buffer.data(), searchSize));
    record.bodySize = static_cast<std::uint32_t>(folderFiles.appendedToMailbox());
    return folderFiles.appendRecord(record);
}

StoreResult AppendSavedMail(std::string_view mailDir, std::string_view sender, std::string_view recipient,
                            std::string_view subject, std::string_view body, std::time_t savedAt) {
    const std::optional<std::string> path = folderFilePath(mailDir, kSavedFolder);
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

    const std::lock_guard lock(storeMutex());
    FolderAppend folderFiles(*path);
    if (const StoreResult opened = folderFiles.open(); opened != StoreResult::Stored)
        return opened;
    if (const StoreResult r = folderFiles.appendMailbox(body.data(), body.size()); r != StoreResult::Stored)
        return r;
    return folderFiles.appendRecord(record);
}

StoreResult AppendSavedMail(std::string_view mailDir, std::string_view sender, std::string_view recipient,
                            std::string_view subject, std::string_view body) {
    return AppendSavedMail(mailDir, sender, recipient, subject, body, std::time(nullptr));
}

std::string formatSavedMailDate(std::time_t t) {
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0900", kDayNames[local.tm_wday % 7],
                  local.tm_mday, kMonthNames[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec);
    return text;
}

std::optional<IndexListing> readFolderIndex(const std::string& folderPath) {
    const std::lock_guard lock(storeMutex());
    const FileDescriptor index(openPath(folderPath + ".idx", O_RDONLY));
    if (!index.isOpen()) {
        if (errno == ENOENT)
            return IndexListing{};
        return std::nullopt;
    }
    struct stat indexStat {};
    if (::fstat(index.get(), &indexStat) != 0 || !S_ISREG(indexStat.st_mode))
        return std::nullopt;
    const std::optional<std::string> bytes = readWholeFile(index.get(), indexStat.st_size);
    if (!bytes)
        return std::nullopt;
    return parseIndex(*bytes);
}

std::optional<std::string> readFolderMessage(const std::string& folderPath, const IndexEntry& entry) {
    const std::lock_guard lock(storeMutex());
    const FileDescriptor mailbox(openPath(folderPath + ".mbx", O_RDONLY));
    if (!mailbox.isOpen())
        return std::nullopt;
    std::string text(entry.record.bodySize, '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n =
            ::pread(mailbox.get(), text.data() + done, text.size() - done, static_cast<off_t>(entry.offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        done += static_cast<std::size_t>(n);
    }
    return text;
}

} // namespace orvalink::folders
