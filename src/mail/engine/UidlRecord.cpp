#include "mail/engine/UidlRecord.h"

#include "platform/text/ByteEscape.h"
#include "store/MailStore.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace orvalink::mail {

using platform::FileDescriptor;

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
// The last field of a filing line.
constexpr std::string_view kFilingMark = "+";

void appendHexByte(std::string& out, unsigned char c)
{
    out.push_back('%');
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
}

// The E field of an id line.
std::string escapeId(std::string_view id)
{
    std::string e;
    e.reserve(id.size());
    for (const char ch : id) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x21 || c > 0x7e || c == '%')
            appendHexByte(e, c);
        else
            e.push_back(ch);
    }
    return e;
}

// The id an E field stands for; nothing when the field is not exactly what escapeId writes.
std::optional<std::string> unescapeId(std::string_view e)
{
    std::string id;
    for (std::size_t i = 0; i < e.size(); ++i) {
        const auto c = static_cast<unsigned char>(e[i]);
        if (c < 0x21 || c > 0x7e)
            return std::nullopt;
        if (c != '%') {
            id.push_back(e[i]);
            continue;
        }
        if (i + 2 >= e.size())
            return std::nullopt;
        const int high = platform::hexDigitValue(e[i + 1]);
        const int low = platform::hexDigitValue(e[i + 2]);
        if (high < 0 || low < 0 || std::islower(static_cast<unsigned char>(e[i + 1])) ||
            std::islower(static_cast<unsigned char>(e[i + 2])))
            return std::nullopt;
        const auto byte = static_cast<unsigned char>(high * 16 + low);
        if (byte >= 0x21 && byte <= 0x7e && byte != '%')
            return std::nullopt;
        id.push_back(static_cast<char>(byte));
        i += 2;
    }
    if (id.empty())
        return std::nullopt;
    return id;
}

std::optional<std::uint64_t> decimal(std::string_view text)
{
    std::uint64_t value = 0;
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string readAll(const std::string& path)
{
    std::string bytes;
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.isOpen())
        platform::readAll(fd.get(), bytes); // a failed read keeps what came before it
    return bytes;
}

// Forces one folder file to the disk; its size afterwards (0 when it is missing), nothing when it
// cannot be synced.
std::optional<std::uint64_t> syncedSize(const std::string& path)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.isOpen())
        return errno == ENOENT ? std::optional<std::uint64_t>(0) : std::nullopt;
    struct stat st {};
    const bool ok = ::fdatasync(fd.get()) == 0 && ::fstat(fd.get(), &st) == 0;
    fd.reset();
    if (!ok)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

struct UnconfirmedId {
    std::size_t offset;
    std::string id;
    std::uint64_t indexSize;
    std::uint64_t mailboxSize;
};

// Splits a line at its TABs.
std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> parts;
    for (std::size_t tab = line.find('\t'); tab != std::string_view::npos; tab = line.find('\t')) {
        parts.push_back(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    parts.push_back(line);
    return parts;
}

} // namespace

UidlRecord::UidlRecord(const std::string& mailDirPath, std::string_view server, std::string_view user)
{
    if (const auto folder = store::folderFsPath(mailDirPath, store::kReceivedFolder)) {
        m_folder = *folder;
        m_path = *folder + "." + fileNameText(user) + "@" + fileNameText(server) + ".uidl";
    }
}

UidlRecord::~UidlRecord() = default;

std::string UidlRecord::fileNameText(std::string_view text)
{
    std::string name;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
            c == '_')
            name.push_back(ch);
        else
            appendHexByte(name, c);
    }
    return name;
}

bool UidlRecord::validId(std::string_view id)
{
    if (id.empty() || id.size() > 70)
        return false;
    for (const char c : id)
        if (c < 0x21 || c > 0x7e)
            return false;
    return true;
}

std::set<std::string> UidlRecord::load() const
{
    std::set<std::string> ids;
    if (m_path.empty())
        return ids;
    const std::string bytes = readAll(m_path);
    std::vector<UnconfirmedId> unconfirmed;
    std::size_t start = 0;
    for (std::size_t lf = bytes.find('\n'); lf != std::string::npos; start = lf + 1, lf = bytes.find('\n', start)) {
        const std::string_view line(bytes.data() + start, lf - start);
        if (!line.starts_with('\t')) {
            if (validId(line))
                ids.emplace(line);
            continue;
        }
        const std::vector<std::string_view> f = fields(line);
        if (f.size() == 3 && f[1].empty()) {
            const auto from = decimal(f[2]);
            if (!from)
                continue;
            // Confirmed: from its offset on, the ids are on the disk with their messages.
            std::erase_if(unconfirmed, [&](const UnconfirmedId& u) {
                if (u.offset < *from)
                    return false;
                ids.insert(u.id);
                return true;
            });
        } else if (f.size() == 4) {
            auto id = unescapeId(f[1]);
            const auto index = decimal(f[2]);
            const auto mailbox = decimal(f[3]);
            if (id && index && mailbox)
                unconfirmed.push_back({start, std::move(*id), *index, *mailbox});
        }
    }
    if (unconfirmed.empty())
        return ids;
    // Lines written after the last confirmation: the folder files are forced to the disk first, so
    // what they hold now is what a power cut would leave.
    const auto index = syncedSize(m_folder + std::string(store::kIndexSuffix));
    const auto mailbox = syncedSize(m_folder + std::string(store::kMailboxSuffix));
    if (!index || !mailbox)
        return ids;
    for (UnconfirmedId& u : unconfirmed)
        if (u.indexSize <= *index && u.mailboxSize <= *mailbox)
            ids.insert(std::move(u.id));
    return ids;
}

bool UidlRecord::appendLine(std::string_view fields)
{
    if (m_path.empty())
        return false;
    std::string line;
    if (!m_fd.isOpen()) {
        m_fd = FileDescriptor(::open(m_path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!m_fd.isOpen())
            return false;
        m_end = -1;
    }
    struct stat st {};
    if (::fstat(m_fd.get(), &st) != 0) {
        m_fd.reset();
        return false;
    }
    if (static_cast<std::int64_t>(st.st_size) != m_end) {
        // Written by someone else since (or just opened). A line cut short by a crash is ended with
        // a space, which no line holds: it can neither swallow this line nor pass for a line of
        // its own.
        char last = '\n';
        if (st.st_size > 0 && ::pread(m_fd.get(), &last, 1, st.st_size - 1) == 1 && last != '\n')
            line.append(" \n");
        m_end = static_cast<std::int64_t>(st.st_size);
    }
    m_lineStart = m_end + static_cast<std::int64_t>(line.size());
    line.append(fields);
    line += '\n';
    if (!platform::writeAll(m_fd.get(), line)) {
        // Whatever part of the line went out is ended by the next open.
        m_fd.reset();
        return false;
    }
    m_end += static_cast<std::int64_t>(line.size());
    return true;
}

bool UidlRecord::addFiling(std::string_view id, std::uint64_t indexSize, std::uint64_t mailboxSize)
{
    return !id.empty() && appendLine('\t' + escapeId(id) + '\t' + std::to_string(indexSize) + '\t' +
                                     std::to_string(mailboxSize) + "\t" + std::string(kFilingMark));
}

bool UidlRecord::addFiled(std::string_view id, std::uint64_t indexSize, std::uint64_t mailboxSize)
{
    if (id.empty() ||
        !appendLine('\t' + escapeId(id) + '\t' + std::to_string(indexSize) + '\t' + std::to_string(mailboxSize)))
        return false;
    if (m_unconfirmedFrom < 0)
        m_unconfirmedFrom = m_lineStart;
    return true;
}

std::map<std::string, store::FolderSizes> UidlRecord::interruptedFilings() const
{
    std::map<std::string, store::FolderSizes> begun;
    if (m_path.empty())
        return begun;
    const std::string bytes = readAll(m_path);
    std::size_t start = 0;
    for (std::size_t lf = bytes.find('\n'); lf != std::string::npos; start = lf + 1, lf = bytes.find('\n', start)) {
        const std::string_view line(bytes.data() + start, lf - start);
        if (!line.starts_with('\t')) {
            begun.erase(std::string(line));
            continue;
        }
        const std::vector<std::string_view> f = fields(line);
        if (f.size() != 4 && !(f.size() == 5 && f[4] == kFilingMark))
            continue;
        auto id = unescapeId(f[1]);
        const auto index = decimal(f[2]);
        const auto mailbox = decimal(f[3]);
        if (!id || !index || !mailbox)
            continue;
        if (f.size() == 4)
            begun.erase(*id);
        else // the first of several filings of one id began where the folder was shortest
            begun.emplace(std::move(*id), store::FolderSizes{*index, *mailbox});
    }
    return begun;
}

bool UidlRecord::confirm()
{
    if (m_unconfirmedFrom < 0)
        return true;
    if (!syncedSize(m_folder + std::string(store::kIndexSuffix)) ||
        !syncedSize(m_folder + std::string(store::kMailboxSuffix)))
        return false;
    if (!m_fd.isOpen())
        return false;
    const std::string line = "\t\t" + std::to_string(m_unconfirmedFrom) + "\n";
    if (!platform::writeAll(m_fd.get(), line)) {
        m_fd.reset();
        return false;
    }
    m_end += static_cast<std::int64_t>(line.size());
    if (::fdatasync(m_fd.get()) != 0)
        return false;
    m_unconfirmedFrom = -1;
    return true;
}

bool UidlRecord::add(std::string_view id)
{
    return addFiled(id, 0, 0) && confirm();
}

} // namespace orvalink::mail
