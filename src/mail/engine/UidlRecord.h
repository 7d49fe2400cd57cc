#pragma once

// The UIDL ids of the messages filed from one account, so that a second download does not file
// them again while the mail stays on the server. One small file per account beside the folder
// files in the mail directory, created 0600: one id per line, LF-ended. An id is added only after
// its message was filed and the folder files reached the disk, so a crash can fetch a message
// twice but never mark an unfiled one as filed. A last line without its LF (a write cut short) is
// not an id; the next add ends it with a space, so it never becomes one.

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace orvalink::mail {

class UidlRecord {
public:
    // The record of the account that logs in as `user` on `server`, in the mail directory
    // `mailDirPath` (a file-system path); path() is the record file's file-system path.
    UidlRecord(const std::string& mailDirPath, std::string_view server, std::string_view user);

    const std::string& path() const { return m_path; }

    // The ids recorded so far (none when the file does not exist or cannot be read).
    std::set<std::string> load() const;
    // Adds ids and forces them to the disk; false when they could not be written. Ids that are not
    // valid are left out.
    bool add(std::string_view id);
    bool add(const std::vector<std::string>& ids);

    // An id as RFC 1939 allows it: 1 to 70 characters 0x21-0x7E.
    static bool validId(std::string_view id);

private:
    std::string m_path;
};

} // namespace orvalink::mail
