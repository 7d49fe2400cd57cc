#include "platform/Profile.h"

#include "platform/posix/FileDescriptor.h"
#include "platform/text/ByteEscape.h"
#include "platform/text/Cp932.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvalink::platform {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void appendHexEscape(std::string& out, unsigned char c)
{
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names compare like the registry's: ASCII letters without case. Only whole single-byte characters
// are folded: the second byte of a double-byte character may look like a letter and must match
// exactly, or two different Japanese names would be taken for one.
bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (platform::isCp932LeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            ++i;
            continue;
        }
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

// Holds an exclusive flock on the store's lock file for the duration of one write, so writers in
// other threads, objects and processes never interleave their read-modify-write cycles.
class WriteLock {
public:
    explicit WriteLock(const std::string& path) : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        if (m_fd.isOpen() && !lockFile(m_fd.get(), LOCK_EX))
            m_fd.reset();
    }
    bool held() const { return m_fd.isOpen(); }

private:
    FileDescriptor m_fd;
};

bool makeDirectories(const std::string& dir)
{
    if (dir.empty())
        return true;
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const auto slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeDirectories(dir.substr(0, slash)))
        return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string parentDirectory(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool readAll(const std::string& path, std::string& out)
{
    out.clear();
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.isOpen())
        return errno == ENOENT;
    return platform::readAll(fd.get(), out);
}

// Length of the well-formed UTF-8 character at s[i] (no overlong forms, no surrogates, nothing
// above U+10FFFF), or 0 when the bytes there are not one.
std::size_t utf8CharacterLength(std::string_view s, std::size_t i)
{
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + n > s.size() || at(i + 1) < lo || at(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    return n;
}

// The name of a temporary file of the store at filePath: "<file name>." and six letters or digits
// (what mkostemp puts in place of XXXXXX).
bool isTemporaryFileName(std::string_view name, std::string_view storeName)
{
    if (name.size() != storeName.size() + 7 || name.substr(0, storeName.size()) != storeName ||
        name[storeName.size()] != '.')
        return false;
    for (const char c : name.substr(storeName.size() + 1))
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

std::mutex& applicationMutex()
{
    static std::mutex m;
    return m;
}

std::unique_ptr<Profile>& applicationProfile()
{
    static std::unique_ptr<Profile> p;
    return p;
}

std::string applicationFilePath()
{
    return Profile::configDirectory() + "/Orvalink.conf";
}

} // namespace

Profile::Profile(std::string filePath) : m_filePath(std::move(filePath))
{
    removeStaleTemporaryFiles(m_filePath);
}

int Profile::removeStaleTemporaryFiles(const std::string& filePath)
{
    const std::string dir = parentDirectory(filePath);
    const auto slash = filePath.find_last_of('/');
    const std::string storeName = slash == std::string::npos ? filePath : filePath.substr(slash + 1);
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return 0;
    std::vector<std::string> found;
    while (const dirent* e = ::readdir(d))
        if (isTemporaryFileName(e->d_name, storeName))
            found.emplace_back(e->d_name);
    ::closedir(d);
    if (found.empty())
        return 0;
    // A writer holds this lock from creating its temporary file until it is renamed or removed:
    // with the lock held, every such file left is a dead writer's.
    WriteLock lock(filePath + ".lock");
    if (!lock.held())
        return 0;
    int removed = 0;
    for (const std::string& name : found) {
        const std::string path = dir + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0)
            ++removed;
    }
    return removed;
}

Profile& Profile::application()
{
    std::lock_guard lock(applicationMutex());
    auto& p = applicationProfile();
    if (!p)
        p = std::make_unique<Profile>(applicationFilePath());
    return *p;
}

void Profile::reopenApplication()
{
    std::lock_guard lock(applicationMutex());
    auto& p = applicationProfile();
    if (!p)
        p = std::make_unique<Profile>(applicationFilePath());
    else
        p->reopen(applicationFilePath());
}

void Profile::reopen(std::string filePath)
{
    std::lock_guard lock(m_mutex);
    m_filePath = std::move(filePath);
    m_sections.clear();
    m_stamp = {};
    m_loaded = false;
    removeStaleTemporaryFiles(m_filePath);
}

std::string Profile::configDirectory()
{
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home && home[0] != '\0') {
            base = home;
        } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
            base = pw->pw_dir;
        } else {
            base = "/tmp";
        }
        base += "/.config";
    }
    std::string dir = base + "/Orvalink";
    makeDirectories(dir);
    return dir;
}

std::string Profile::encodeField(std::string_view bytes, Field field)
{
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const bool first = i == 0;
        const bool last = i + 1 == n;
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            appendHexEscape(out, c);
        } else if (c == ' ' && (first || last)) {
            appendHexEscape(out, c);
        } else if (field == Field::Key && (c == '=' || (first && (c == '[' || c == ';' || c == '#')))) {
            appendHexEscape(out, c);
        } else if (field == Field::Section && c == ']') {
            appendHexEscape(out, c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (platform::isCp932LeadByte(c) && i + 1 < n) {
            const std::string_view ch = bytes.substr(i, 2);
            if (platform::cp932RoundTrips(ch)) {
                out += platform::cp932ToUtf8(ch);
                ++i;
            } else {
                // Only the lead byte is escaped; the next byte is looked at on its own, since it
                // may be a character with a meaning of its own ("\" or a newline).
                appendHexEscape(out, c);
            }
        } else if (c >= 0xA1 && c <= 0xDF) {
            out += platform::cp932ToUtf8(bytes.substr(i, 1)); // half-width katakana
        } else {
            appendHexEscape(out, c);
        }
    }
    return out;
}

std::string Profile::encodePathField(std::string_view path)
{
    std::string out;
    out.reserve(path.size() + 8);
    const std::size_t n = path.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        // ASCII follows the rules of text values, so a plain path reads the same either way.
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F || (c == ' ' && (i == 0 || i + 1 == n))) {
            appendHexEscape(out, c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const std::size_t len = utf8CharacterLength(path, i)) {
            out.append(path.substr(i, len));
            i += len - 1;
        } else {
            appendHexEscape(out, c);
        }
    }
    return out;
}

std::string Profile::decodePathField(std::string_view fileText)
{
    std::string out;
    for (std::size_t i = 0; i < fileText.size(); ++i) {
        const char c = fileText[i];
        if (c != '\\' || i + 1 >= fileText.size()) {
            out += c;
            continue;
        }
        switch (fileText[i + 1]) {
        case '\\':
            out += '\\';
            ++i;
            continue;
        case 'n':
            out += '\n';
            ++i;
            continue;
        case 'r':
            out += '\r';
            ++i;
            continue;
        case 't':
            out += '\t';
            ++i;
            continue;
        case 'x': {
            const int hi = i + 2 < fileText.size() ? platform::hexDigitValue(fileText[i + 2]) : -1;
            const int lo = i + 3 < fileText.size() ? platform::hexDigitValue(fileText[i + 3]) : -1;
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 3;
                continue;
            }
            break;
        }
        default:
            break;
        }
        out += c; // not an escape: a hand-written backslash stays one
    }
    return out;
}

std::string Profile::decodeField(std::string_view fileText)
{
    std::string out;
    std::string literal;
    auto flush = [&] {
        if (!literal.empty()) {
            out += platform::utf8ToCp932(literal);
            literal.clear();
        }
    };
    for (std::size_t i = 0; i < fileText.size(); ++i) {
        const char c = fileText[i];
        if (c != '\\' || i + 1 >= fileText.size()) {
            literal += c;
            continue;
        }
        const char e = fileText[i + 1];
        char byte = 0;
        std::size_t used = 2;
        switch (e) {
        case '\\':
            byte = '\\';
            break;
        case 'n':
            byte = '\n';
            break;
        case 'r':
            byte = '\r';
            break;
        case 't':
            byte = '\t';
            break;
        case 'x': {
            const int hi = i + 2 < fileText.size() ? platform::hexDigitValue(fileText[i + 2]) : -1;
            const int lo = i + 3 < fileText.size() ? platform::hexDigitValue(fileText[i + 3]) : -1;
            if (hi < 0 || lo < 0) {
                used = 0;
                break;
            }
            byte = static_cast<char>(hi * 16 + lo);
            used = 4;
            break;
        }
        default:
            used = 0; // not an escape: a hand-written backslash stays one
        }
        if (used == 0) {
            literal += c;
            continue;
        }
        flush();
        out += byte;
        i += used - 1;
    }
    flush();
    return out;
}

int Profile::parseInt(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        v = -v;
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

Profile::FileStamp Profile::stampOf() const
{
    FileStamp s;
    struct stat st {};
    if (::stat(m_filePath.c_str(), &st) != 0)
        return s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return s;
}

void Profile::refreshLocked() const
{
    const FileStamp now = stampOf();
    if (m_loaded && now == m_stamp)
        return;
    std::string content;
    if (!readAll(m_filePath, content)) {
        // Unreadable just now: keep what we had rather than forget every setting.
        if (m_loaded)
            return;
        content.clear();
    }
    parse(content);
    m_stamp = now;
    m_loaded = true;
}

Profile::Section* Profile::findSection(std::string_view name) const
{
    for (auto& s : m_sections)
        if (sameName(s.name, name))
            return &s;
    return nullptr;
}

void Profile::parse(const std::string& content) const
{
    m_sections.clear();
    std::string_view rest(content);
    if (rest.substr(0, 3) == "\xEF\xBB\xBF")
        rest.remove_prefix(3);
    Section* current = nullptr;
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = trimBlanks(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const auto close = line.find(']');
            current = nullptr;
            if (close == std::string_view::npos)
                continue; // broken header: its entries are not taken for another section's
            const std::string name = decodeField(trimBlanks(line.substr(1, close - 1)));
            if (name.empty())
                continue;
            current = findSection(name);
            if (!current) {
                m_sections.push_back(Section{name, {}});
                current = &m_sections.back();
            }
            continue;
        }
        const auto eq = line.find('=');
        if (!current || eq == std::string_view::npos)
            continue;
        std::string key = decodeField(trimBlanks(line.substr(0, eq)));
        if (key.empty())
            continue;
        std::string value(trimBlanks(line.substr(eq + 1)));
        bool replaced = false;
        for (auto& [k, v] : current->entries) {
            if (sameName(k, key)) {
                v = std::move(value);
                replaced = true;
                break;
            }
        }
        if (!replaced)
            current->entries.emplace_back(std::move(key), std::move(value));
    }
}

std::string Profile::serialize() const
{
    std::string out;
    for (const auto& s : m_sections) {
        if (s.entries.empty())
            continue;
        if (!out.empty())
            out += '\n';
        out += '[';
        out += encodeField(s.name, Field::Section);
        out += "]\n";
        for (const auto& [k, v] : s.entries) {
            out += encodeField(k, Field::Key);
            out += '=';
            out += v;
            out += '\n';
        }
    }
    return out;
}

bool Profile::commitLocked()
{
    const std::string dir = parentDirectory(m_filePath);
    std::string tmpl = m_filePath + ".XXXXXX";
    FileDescriptor fd(::mkostemp(tmpl.data(), O_CLOEXEC));
    if (!fd.isOpen())
        return false;
    bool ok = ::fchmod(fd.get(), 0600) == 0 && writeAll(fd.get(), serialize()) && ::fsync(fd.get()) == 0;
    ok = fd.close() && ok;
    if (ok)
        ok = ::rename(tmpl.c_str(), m_filePath.c_str()) == 0;
    if (!ok) {
        ::unlink(tmpl.c_str());
        return false;
    }
    // Make the rename itself durable.
    if (const FileDescriptor dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dfd.isOpen())
        ::fsync(dfd.get());
    m_stamp = stampOf();
    return true;
}

template <typename Change> bool Profile::modify(std::string_view section, std::string_view key, Change change)
{
    if (section.empty() || key.empty())
        return false;
    std::lock_guard lock(m_mutex);
    if (!makeDirectories(parentDirectory(m_filePath)))
        return false;
    WriteLock fileLock(m_filePath + ".lock");
    if (!fileLock.held())
        return false;
    m_loaded = false; // start from the file as it is now, whatever its stamp says
    refreshLocked();
    change();
    if (commitLocked())
        return true;
    m_loaded = false; // the change did not reach the disk: forget it
    return false;
}

bool Profile::writeEncoded(std::string_view section, std::string_view key, std::string fileValue)
{
    return modify(section, key, [&] {
        Section* s = findSection(section);
        if (!s) {
            m_sections.push_back(Section{std::string(section), {}});
            s = &m_sections.back();
        }
        for (auto& [k, v] : s->entries) {
            if (sameName(k, key)) {
                v = std::move(fileValue);
                return;
            }
        }
        s->entries.emplace_back(std::string(key), std::move(fileValue));
    });
}

bool Profile::writeString(std::string_view section, std::string_view key, std::string_view value)
{
    return writeEncoded(section, key, encodeField(value, Field::Value));
}

bool Profile::writePath(std::string_view section, std::string_view key, std::string_view path)
{
    return writeEncoded(section, key, encodePathField(path));
}

bool Profile::writeInt(std::string_view section, std::string_view key, int value)
{
    return writeString(section, key, std::to_string(value));
}

bool Profile::removeKey(std::string_view section, std::string_view key)
{
    return modify(section, key, [&] {
        if (Section* s = findSection(section)) {
            std::erase_if(s->entries, [&](const auto& e) { return sameName(e.first, key); });
        }
    });
}

const std::string* Profile::findValueLocked(std::string_view section, std::string_view key) const
{
    refreshLocked();
    if (const Section* s = findSection(section))
        for (const auto& [k, v] : s->entries)
            if (sameName(k, key))
                return &v;
    return nullptr;
}

std::string Profile::getString(std::string_view section, std::string_view key, std::string_view def) const
{
    std::lock_guard lock(m_mutex);
    const std::string* v = findValueLocked(section, key);
    return v ? decodeField(*v) : std::string(def);
}

std::string Profile::getPath(std::string_view section, std::string_view key, std::string_view def) const
{
    std::lock_guard lock(m_mutex);
    const std::string* v = findValueLocked(section, key);
    return v ? decodePathField(*v) : std::string(def);
}

bool Profile::contains(std::string_view section, std::string_view key) const
{
    std::lock_guard lock(m_mutex);
    return findValueLocked(section, key) != nullptr;
}

int Profile::getInt(std::string_view section, std::string_view key, int def) const
{
    std::lock_guard lock(m_mutex);
    const std::string* v = findValueLocked(section, key);
    return v ? parseInt(decodeField(*v)) : def;
}

std::vector<std::pair<std::string, std::string>> Profile::entries(std::string_view section) const
{
    std::lock_guard lock(m_mutex);
    refreshLocked();
    std::vector<std::pair<std::string, std::string>> out;
    if (const Section* s = findSection(section))
        for (const auto& [k, v] : s->entries)
            out.emplace_back(k, decodeField(v));
    return out;
}

} // namespace orvalink::platform
