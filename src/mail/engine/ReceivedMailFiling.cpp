#include "mail/engine/ReceivedMailFiling.h"

#include "kanji/KanjiConverter.h"
#include "mail/engine/Pop3Texts.h"
#include "mail/engine/UidlRecord.h"
#include "platform/posix/FileDescriptor.h"
#include "platform/text/Cp932.h"
#include "store/MailStore.h"
#include "store/TempFileNames.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace orvalink::mail {

using platform::FileDescriptor;

namespace {

constexpr std::size_t kChunk = 64 * 1024;
constexpr std::string_view kStoredTerminator = ".\r\r\n";

// The cleanup pass as a stream of bytes (see cleanupPass in the header).
class Cleanup {
public:
    void feed(std::string_view bytes, std::string& out)
    {
        const char* p = bytes.data();
        const char* const end = p + bytes.size();
        while (p < end) {
            if (m_pendingCrs == 0 && !m_heldLineEnd && m_lineHasContent) {
                // Inside a line: everything up to the next CR or LF is copied as it is.
                const char* q = p;
                while (q < end && *q != '\r' && *q != '\n')
                    ++q;
                out.append(p, static_cast<std::size_t>(q - p));
                p = q;
                if (p == end)
                    break;
            }
            const char c = *p++;
            if (c == '\r') {
                if (m_pendingCrs == 2)
                    content('\r', out);
                else
                    ++m_pendingCrs;
            } else if (c == '\n') {
                m_pendingCrs = 0;
                lineEnd(out);
            } else {
                releaseCrs(out);
                content(c, out);
            }
        }
    }

    void finish(std::string& out)
    {
        releaseCrs(out);
        if (m_heldLineEnd)
            out.append("\r\n");
        m_heldLineEnd = false;
    }

private:
    // CRs not followed by LF are data.
    void releaseCrs(std::string& out)
    {
        while (m_pendingCrs > 0) {
            --m_pendingCrs;
            content('\r', out);
        }
    }

    void content(char c, std::string& out)
    {
        if (m_heldLineEnd) {
            m_heldLineEnd = false;
            if (c == '\t' && m_inHeader)
                return; // the folded header line goes on, without the line break and the TAB
            out.append("\r\n");
        }
        out.push_back(c);
        m_lineHasContent = true;
    }

    void lineEnd(std::string& out)
    {
        if (m_heldLineEnd) {
            out.append("\r\n");
            m_heldLineEnd = false;
        }
        if (!m_lineHasContent) {
            out.append("\r\n");
            m_inHeader = false;
        } else if (m_inHeader) {
            // Held until the next line shows whether it continues this one.
            m_heldLineEnd = true;
        } else {
            out.append("\r\n");
        }
        m_lineHasContent = false;
    }

    int m_pendingCrs = 0;
    bool m_heldLineEnd = false;
    bool m_lineHasContent = false;
    bool m_inHeader = true;
};

// The Subject joining pass as a stream of bytes (see joinSubjectPass in the header).
class SubjectJoin {
public:
    void feed(std::string_view bytes, std::string& out)
    {
        const char* p = bytes.data();
        const char* const end = p + bytes.size();
        while (p < end) {
            if (m_mode == Mode::Copy) {
                // A copied line goes over whole, up to its LF.
                const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
                const char* runEnd = lf ? lf : end;
                if (runEnd > p) {
                    out.append(p, static_cast<std::size_t>(runEnd - p));
                    m_lastWasCr = runEnd[-1] == '\r';
                    p = runEnd;
                }
                if (!lf)
                    break;
            }
            byte(*p++, out);
        }
    }

    void finish(std::string& out)
    {
        if (m_mode == Mode::Undecided && !m_prefix.empty())
            decide(false, out);
        if (m_joining) {
            out.append("\r\n");
            m_joining = false;
        } else if (m_mode == Mode::Copy) {
            out.append(m_lastWasCr ? "\n" : "\r\n");
        }
        m_mode = Mode::Undecided;
    }

private:
    enum class Mode { Undecided, Copy, Join };

    static constexpr std::string_view kSubject = "Subject:";

    void byte(char c, std::string& out)
    {
        if (m_mode == Mode::Undecided) {
            if (c == '\n') {
                decide(true, out);
            } else {
                m_prefix.push_back(c);
                if (m_prefix.size() == kSubject.size())
                    decide(false, out);
                return;
            }
        }
        if (m_mode == Mode::Copy) {
            if (c == '\n') {
                out.append(m_lastWasCr ? "\n" : "\r\n");
                m_mode = Mode::Undecided;
                m_lastWasCr = false;
                return;
            }
            out.push_back(c);
            m_lastWasCr = c == '\r';
            return;
        }
        // Joined text: every CR goes, a CR followed by a space takes the space with it.
        if (c == '\n') {
            m_mode = Mode::Undecided;
            return;
        }
        if (c == '\r') {
            m_pendingCr = true;
            return;
        }
        const bool dropSpace = m_pendingCr && c == ' ';
        m_pendingCr = false;
        if (!dropSpace)
            out.push_back(c);
    }

    // The prefix of a line is known (or the line ended): how the line is written.
    void decide(bool lineEnded, std::string& out)
    {
        const bool empty = lineEnded && (m_prefix.empty() || m_prefix == "\r");
        if (m_joining) {
            if (!empty && (m_prefix.front() == ' ' || m_prefix.front() == '\t')) {
                m_mode = Mode::Join;
                replay(lineEnded, out);
                return;
            }
            // The joined Subject ends here: its trailing CR is dropped, CR LF ends it.
            out.append("\r\n");
            m_joining = false;
            m_pendingCr = false;
        }
        if (empty)
            m_inHeader = false;
        if (m_inHeader && !m_subjectSeen && std::string_view(m_prefix).substr(0, kSubject.size()) == kSubject) {
            m_subjectSeen = true;
            m_joining = true;
            m_mode = Mode::Join;
        } else {
            m_mode = Mode::Copy;
        }
        replay(lineEnded, out);
    }

    void replay(bool lineEnded, std::string& out)
    {
        std::string prefix = std::move(m_prefix);
        m_prefix.clear();
        for (const char c : prefix)
            byte(c, out);
        if (lineEnded)
            byte('\n', out);
    }

    Mode m_mode = Mode::Undecided;
    std::string m_prefix;
    bool m_lastWasCr = false;
    bool m_pendingCr = false;
    bool m_joining = false;
    bool m_inHeader = true;
    bool m_subjectSeen = false;
};

ssize_t readSome(int fd, char* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

// A private work file, created empty (an old file of that name is replaced).
int createWorkFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST)
        return fd;
    ::unlink(path.c_str());
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

// Streams `length` bytes of the input through `pass` into a new output file.
template <typename Pass> bool runPass(Pass& pass, int in, std::size_t length, const std::string& outputPath)
{
    FileDescriptor out(createWorkFile(outputPath));
    if (!out.isOpen())
        return false;
    std::string buffer(kChunk, '\0');
    std::string produced;
    produced.reserve(2 * kChunk + 8);
    bool ok = true;
    std::size_t left = length;
    while (ok && left > 0) {
        const ssize_t n = readSome(in, buffer.data(), std::min(left, buffer.size()));
        if (n <= 0) {
            ok = false; // the file is shorter than it was a moment ago, or cannot be read
            break;
        }
        left -= static_cast<std::size_t>(n);
        pass.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)), produced);
        if (produced.size() >= kChunk) {
            ok = platform::writeAll(out.get(), produced);
            produced.clear();
        }
    }
    if (ok) {
        pass.finish(produced);
        ok = platform::writeAll(out.get(), produced);
    }
    ok = out.close() && ok;
    if (!ok)
        ::unlink(outputPath.c_str());
    return ok;
}

// Moves a message file that could not be filed to a name no later download reuses: the file's
// name, ".", and the first free number.
std::string keepFile(const std::string& from)
{
    for (int k = 1; k < 1000; ++k) {
        const std::string kept = from + "." + std::to_string(k);
        if (::link(from.c_str(), kept.c_str()) == 0) {
            ::unlink(from.c_str());
            return kept;
        }
        if (errno != EEXIST)
            break;
    }
    return {};
}

// The code conversion. The converter creates its output owner-only itself; a file left by an
// earlier run is removed first, so the output is always a new file (a file truncated to nothing
// is written out on close by ext4: a disk write for every message that the next step deletes).
bool convertPrivately(const std::string& tab, const std::string& cnv)
{
    if (::unlink(cnv.c_str()) != 0 && errno != ENOENT)
        return false;
    return kanji::convertFile({"orvalink", "-B", "-m", "-s", tab, cnv}) == 0;
}

std::string textWithNumber(const char* pattern, int number, const std::string& name)
{
    char text[4096];
    std::snprintf(text, sizeof text, pattern, number, name.c_str());
    return text;
}

// `keptName` empty: a new name (keepFile); otherwise that name, replacing an earlier copy.
FilingResult notFiled(const std::string& file, int number, const std::string& keptName)
{
    FilingResult result;
    if (keptName.empty())
        result.keptFile = keepFile(file);
    else if (::rename(file.c_str(), keptName.c_str()) == 0)
        result.keptFile = keptName;
    if (result.keptFile.empty())
        result.errors.push_back(textWithNumber(texts::kLost, number, {}));
    else
        result.errors.push_back(textWithNumber(texts::kNotFiled, number, platform::utf8ToCp932(result.keptFile)));
    return result;
}

// Reads `size` bytes of the message from `offset` into `data`; false when they cannot be read.
using MessageReader = std::function<bool(std::uint64_t offset, char* data, std::size_t size)>;

bool preadAll(int fd, char* data, std::size_t size, std::uint64_t offset)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

// A message of `size` stored bytes that an interrupted filing appended to the folder at or after
// `from`, holding exactly the bytes `read` gives: the folder files' sizes right after it.
std::optional<store::FolderSizes> interruptedCopy(const std::string& mailDirPath, const store::FolderSizes& from,
                                                  std::uint64_t size, const MessageReader& read)
{
    const std::optional<std::string> folder = store::folderFsPath(mailDirPath, store::kReceivedFolder);
    if (!folder)
        return std::nullopt;
    const std::optional<store::IndexListing> listing = store::readFolderIndex(*folder);
    if (!listing)
        return std::nullopt;
    const FileDescriptor mailbox(
        ::open((*folder + std::string(store::kMailboxSuffix)).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!mailbox.isOpen())
        return std::nullopt;
    std::optional<store::FolderSizes> found;
    std::string stored(kChunk, '\0');
    std::string message(kChunk, '\0');
    for (const store::IndexEntry& e : listing->entries) {
        if (!e.placed || e.damaged || e.lengthWordWrong || e.indexOffset < from.index || e.offset < from.mailbox ||
            e.record.bodySize != size)
            continue;
        bool same = true;
        for (std::uint64_t done = 0; same && done < size;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - done));
            same = preadAll(mailbox.get(), stored.data(), n, e.offset + done) && read(done, message.data(), n) &&
                   std::memcmp(stored.data(), message.data(), n) == 0;
            done += n;
        }
        if (same) {
            found = store::FolderSizes{e.indexOffset + e.indexBytes, e.offset + size};
            break;
        }
    }
    return found;
}

} // namespace

std::string cleanupPass(std::string_view stored)
{
    if (stored.size() >= kStoredTerminator.size() && stored.substr(stored.size() - 4) == kStoredTerminator &&
        (stored.size() == 4 || stored[stored.size() - 5] == '\n'))
        stored.remove_suffix(4);
    std::string out;
    out.reserve(stored.size() + 2);
    Cleanup pass;
    pass.feed(stored, out);
    pass.finish(out);
    return out;
}

std::string joinSubjectPass(std::string_view converted)
{
    std::string out;
    out.reserve(converted.size() + 2);
    SubjectJoin pass;
    pass.feed(converted, out);
    pass.finish(out);
    return out;
}

bool cleanupPassFile(const std::string& inputPath, const std::string& outputPath)
{
    const FileDescriptor in(::open(inputPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.isOpen())
        return false;
    struct stat st {};
    bool ok = ::fstat(in.get(), &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        std::size_t length = static_cast<std::size_t>(st.st_size);
        // The stored terminator is cut only when it is there, on a line of its own.
        char tail[5] = {};
        const std::size_t tailSize = std::min<std::size_t>(length, 5);
        if (length >= 4 && ::pread(in.get(), tail, tailSize, static_cast<off_t>(length - tailSize)) ==
                               static_cast<ssize_t>(tailSize)) {
            const std::string_view last(tail + tailSize - 4, 4);
            if (last == kStoredTerminator && (length == 4 || tail[0] == '\n'))
                length -= 4;
        }
        Cleanup pass;
        ok = runPass(pass, in.get(), length, outputPath);
    }
    return ok;
}

bool joinSubjectPassFile(const std::string& inputPath, const std::string& outputPath)
{
    const FileDescriptor in(::open(inputPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.isOpen())
        return false;
    struct stat st {};
    bool ok = ::fstat(in.get(), &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        SubjectJoin pass;
        ok = runPass(pass, in.get(), static_cast<std::size_t>(st.st_size), outputPath);
    }
    return ok;
}

FilingResult fileReceivedMessage(const std::string& mailDirPath, const std::string& messageFile, int number,
                                 const WorkFileRemover& remove, std::string_view uniqueId,
                                 const store::FolderSizes* interruptedFrom)
{
    const auto removeDone = [&remove](const std::string& path) {
        if (remove)
            remove(path);
        else
            ::unlink(path.c_str());
    };
    const std::string tab = store::tabFileName(messageFile);
    const std::string cnv = store::cnvFileName(messageFile);
    const std::string kept = uniqueId.empty() ? std::string() : keptMessageFile(mailDirPath, uniqueId);

    if (!cleanupPassFile(messageFile, tab))
        return notFiled(messageFile, number, kept);
    ::unlink(messageFile.c_str());

    if (!convertPrivately(tab, cnv)) {
        ::unlink(cnv.c_str());
        return notFiled(tab, number, kept);
    }
    removeDone(tab);

    if (!joinSubjectPassFile(cnv, messageFile))
        return notFiled(cnv, number, kept);
    removeDone(cnv);

    FilingResult result;
    std::optional<store::FolderSizes> copy;
    if (interruptedFrom) {
        // The bytes the append would store are the file's: every line of the last pass ends in CR LF.
        const FileDescriptor file(::open(messageFile.c_str(), O_RDONLY | O_CLOEXEC));
        const int fd = file.get();
        struct stat st {};
        if (file.isOpen() && ::fstat(fd, &st) == 0)
            copy = interruptedCopy(
                mailDirPath, *interruptedFrom, static_cast<std::uint64_t>(st.st_size),
                [fd](std::uint64_t offset, char* data, std::size_t size) { return preadAll(fd, data, size, offset); });
    }
    if (copy)
        result.sizes = *copy;
    else if (store::AppendReceivedMessage(mailDirPath, store::kReceivedFolder, messageFile, &result.sizes) !=
             store::StoreResult::Stored)
        return notFiled(messageFile, number, kept);
    removeDone(messageFile);
    // The copy kept by an earlier download that could not file this message is not needed now.
    if (!kept.empty())
        ::unlink(kept.c_str());
    result.filed = true;
    return result;
}

FilingResult fileReceivedText(const std::string& mailDirPath, const std::string& messageFile, std::string_view stored,
                              int number, const WorkFileRemover& remove, std::string_view uniqueId,
                              const store::FolderSizes* interruptedFrom)
{
    const std::string kept = uniqueId.empty() ? std::string() : keptMessageFile(mailDirPath, uniqueId);
    static const kanji::KanjiConverter converter(kanji::KanjiConverter::Options{true, true});
    const std::string text = joinSubjectPass(converter.convert(cleanupPass(stored)));
    FilingResult result;
    std::optional<store::FolderSizes> copy;
    if (interruptedFrom)
        copy = interruptedCopy(mailDirPath, *interruptedFrom, text.size(),
                               [&text](std::uint64_t offset, char* data, std::size_t size) {
                                   std::memcpy(data, text.data() + offset, size);
                                   return true;
                               });
    if (copy) {
        result.sizes = *copy;
    } else if (store::AppendReceivedText(mailDirPath, store::kReceivedFolder, text, &result.sizes) !=
               store::StoreResult::Stored) {
        // What is kept is the message as the file steps would have left it; when that cannot be
        // written, the message file as it came.
        const std::string converted = store::cnvFileName(messageFile);
        FileDescriptor fd(createWorkFile(converted));
        bool written = fd.isOpen() && platform::writeAll(fd.get(), text);
        if (fd.isOpen())
            written = fd.close() && written;
        if (!written) {
            ::unlink(converted.c_str());
            return notFiled(messageFile, number, kept);
        }
        ::unlink(messageFile.c_str());
        return notFiled(converted, number, kept);
    }
    if (remove)
        remove(messageFile);
    else
        ::unlink(messageFile.c_str());
    if (!kept.empty())
        ::unlink(kept.c_str());
    result.filed = true;
    return result;
}

std::string keptMessageFile(const std::string& mailDirPath, std::string_view uniqueId)
{
    const auto folder = store::folderFsPath(mailDirPath, store::kReceivedFolder);
    if (!folder)
        return {};
    std::string idText = UidlRecord::fileNameText(uniqueId);
    // A file name has at most 255 bytes: a long id is named by its length and a 64-bit hash.
    if (idText.size() > 120) {
        std::uint64_t hash = 14695981039346656037ull;
        for (const char c : uniqueId) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ull;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%%H%zu-%016llx", uniqueId.size(), static_cast<unsigned long long>(hash));
        idText = text;
    }
    return store::keptFileName(*folder, idText);
}

} // namespace orvalink::mail
