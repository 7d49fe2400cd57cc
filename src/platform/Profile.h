#pragma once

// The per-user settings store: sections of named integer and text values, opened under the company
// key and application name "Orvalink".
//
// On disk it is one INI-style UTF-8 file, $XDG_CONFIG_HOME/Orvalink/Orvalink.conf (or
// ~/.config/Orvalink/Orvalink.conf), meant to be readable and editable by hand:
//
//   [NetMsg Entry]
//   User PortCnt=1
//   User PortName1=グループ１
//
// Names and values are code page 932 byte strings in the program. Well-formed code page 932 is
// written as UTF-8; everything else is escaped so that any byte string comes back byte for byte:
// "\\" for a backslash, "\n", "\r", "\t", and "\xHH" for a byte that does not convert, a control
// character, a leading or trailing space, "=" in a name, "]" in a section name, and "[", ";" or
// "#" at the start of a name. Unescaped spaces around "=" are not part of the name or value, so a
// hand-written "key = value" reads as expected. Lines starting with ";" or "#" are comments.
//
// The program rewrites the whole file on each write, so comments and blank lines of a hand edit
// last until the next write; the values themselves are always kept.
//
// Names are matched without regard to ASCII case (like the system registry the program was
// written for): "Top" finds "top". The stored spelling is the one first written.
//
// Every write goes to disk at once and atomically: the whole file is written to a temporary file
// in the same folder, flushed with fsync and renamed over the old one, so the file is never seen
// half-written and a crash loses nothing already written. Writers in several threads, several
// Profile objects and several processes on the same file are serialised by a lock file beside it
// ("Orvalink.conf.lock"), and each write starts from the file as it is on disk then. Reads pick up
// changes made on disk (by hand or by another Profile) since the last read.
//
// File-system paths are no code page 932 text: getPath and writePath keep a path's bytes exactly as
// the file system names them. A path that is valid UTF-8 is written as it is (readable, and a
// value written by hand or by an older version as text reads as the same path); other bytes are
// escaped like any other value. Values are kept in memory as the file holds them, so a value this
// program did not write itself (a hand-written character code page 932 cannot hold, a path)
// survives the rewrites of other values unchanged.
//
// A writer killed between creating its temporary file ("Orvalink.conf.XXXXXX") and the rename
// leaves that file behind: opening the store removes such files, and only those, while holding the
// writers' lock, so a write in progress elsewhere is never touched.
//
// A hand-broken file never stops the program: lines that cannot be read (no "=", an empty name, a
// section header without "]", anything before the first section, junk bytes) are ignored, and so
// are the entries under a section header that cannot be read. The rest of the file is kept.

#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace orvalink::platform {

class Profile {
public:
    explicit Profile(std::string filePath);
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    // The process-wide store, opened on first use at the path given by the environment.
    static Profile& application();
    // For tests: read XDG_CONFIG_HOME again and reopen the process-wide store at its path.
    static void reopenApplication();
    // $XDG_CONFIG_HOME/Orvalink (an absolute XDG_CONFIG_HOME only, else ~/.config/Orvalink),
    // created when missing.
    static std::string configDirectory();

    const std::string& filePath() const { return m_filePath; }

    // A missing value gives def. A value that is not a number reads like the system's own
    // conversion: optional blanks and sign, then the leading decimal digits ("12abc" is 12); with
    // no digits at all it is 0. Values beyond the int range are clamped to it.
    int getInt(std::string_view section, std::string_view key, int def) const;
    std::string getString(std::string_view section, std::string_view key, std::string_view def = {}) const;
    bool contains(std::string_view section, std::string_view key) const;
    // All entries of a section in file order (names and values decoded).
    std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;
    // A file-system path, byte for byte (not code page 932 text).
    std::string getPath(std::string_view section, std::string_view key, std::string_view def = {}) const;

    // False when the file could not be written (the store on disk is then unchanged) or the
    // section or key name is empty.
    bool writeInt(std::string_view section, std::string_view key, int value);
    bool writeString(std::string_view section, std::string_view key, std::string_view value);
    bool writePath(std::string_view section, std::string_view key, std::string_view path);
    // True when the key is gone afterwards (also when it was not there).
    bool removeKey(std::string_view section, std::string_view key);

    // The text conversion rules of the file, exposed for tests and tools.
    enum class Field { Section, Key, Value };
    static std::string encodeField(std::string_view bytes, Field field);
    static std::string decodeField(std::string_view fileText);
    static std::string encodePathField(std::string_view path);
    static std::string decodePathField(std::string_view fileText);
    // Removes the temporary files a killed writer left beside filePath; returns how many.
    static int removeStaleTemporaryFiles(const std::string& filePath);
    static int parseInt(std::string_view text);

private:
    struct Section {
        std::string name;
        // Names decoded; values as the file holds them (encoded), decoded when read.
        std::vector<std::pair<std::string, std::string>> entries;
    };
    struct FileStamp {
        bool exists = false;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        long long mtimeNs = 0;
        bool operator==(const FileStamp&) const = default;
    };

    void refreshLocked() const;
    void parse(const std::string& content) const;
    std::string serialize() const;
    bool commitLocked();
    Section* findSection(std::string_view name) const;
    void reopen(std::string filePath);
    FileStamp stampOf() const;

    const std::string* findValueLocked(std::string_view section, std::string_view key) const;
    bool writeEncoded(std::string_view section, std::string_view key, std::string fileValue);

    template <typename Change> bool modify(std::string_view section, std::string_view key, Change change);

    std::string m_filePath;
    mutable std::mutex m_mutex;
    mutable std::vector<Section> m_sections;
    mutable FileStamp m_stamp;
    mutable bool m_loaded = false;
};

} // namespace orvalink::platform
