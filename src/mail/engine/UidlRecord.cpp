#include "mail/engine/UidlRecord.h"

#include "folders/store/MailStore.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvalink::mail {

namespace {

// Letters, digits and a few safe marks stay; every other byte is written as %XX, so that the name
// holds no "/" and stays the same whatever the account texts are.
std::string nameText(std::string_view text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string name;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
            c == '_') {
            name.push_back(ch);
        } else {
            name.push_back('%');
            name.push_back(kHex[c >> 4]);
            name.push_back(kHex[c & 15]);
        }
    }
    return name;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

UidlRecord::UidlRecord(const std::string& mailDirPath, std::string_view server, std::string_view user)
{
    if (const auto folder = folders::folderFsPath(mailDirPath, folders::kReceivedFolder))
        m_path = *folder + "." + nameText(user) + "@" + nameText(server) + ".uidl";
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
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ids;
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::size_t start = 0;
    for (std::size_t lf = bytes.find('\n'); lf != std::string::npos; lf = bytes.find('\n', start)) {
        const std::string_view id(bytes.data() + start, lf - start);
        if (validId(id))
            ids.emplace(id);
        start = lf + 1;
    }
    return ids;
}

bool UidlRecord::add(std::string_view id)
{
    if (!validId(id))
        return false;
    return add(std::vector<std::string>{std::string(id)});
}

bool UidlRecord::add(const std::vector<std::string>& ids)
{
    if (m_path.empty())
        return false;
    const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::string line;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        // A line cut short by a crash is ended with a space, which no id holds: it can neither
        // swallow this id nor pass for the id of a message that was never filed.
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
            line.append(" \n");
    }
    for (const std::string& id : ids) {
        if (!validId(id))
            continue;
        line.append(id);
        line.push_back('\n');
    }
    const bool ok = writeAll(fd, line) && ::fdatasync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

} // namespace orvalink::mail
