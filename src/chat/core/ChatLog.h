#pragma once

// The chat log of one group: when logging is on, every row received and every message sent is
// appended to <Log Folder>/<group name>_YYYYMMDD.log (the day of the first write) as a label line
// with the time, then the text, each ended by CR LF, in code page 932 bytes. The file is opened on
// the first write and kept open until the group's listener ends or the group goes. The log folder
// is a file-system path (stored byte for byte); the group name is code page 932 text and becomes
// UTF-8 in the file name. A log file is the user's alone (created 0600).
//
// Logging switched on that cannot write (no folder, a folder that is gone, a full disk) is
// reported to the user once per log folder, not once per record, and not again until a record
// has reached that folder; the report never holds up the caller.

#include "chat/core/ChatLogEnvironment.h"

#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace orvalink::chat {

class ChatLog {
public:
    // Settings and reports come from environment, which outlives the log.
    explicit ChatLog(const ChatLogEnvironment& environment) : m_environment(environment) {}
    ~ChatLog();
    ChatLog(const ChatLog&) = delete;
    ChatLog& operator=(const ChatLog&) = delete;

    // Writes one record. Received items are logged on the main thread and sent ones on the
    // listener thread; a record is written whole under a lock, so records never interleave.
    // When the file cannot be opened (folder missing, no folder set) nothing is written, the user
    // is told (once), and the next record tries again.
    void log(std::string_view groupName, std::string_view labelLine, std::string_view text);

    // The clock that dates records and names the file (the system's by default): tests put a
    // fixed time here, so that midnight cannot pass between two records they compare.
    void setClock(std::function<std::time_t()> now);

    bool isOpen() const;
    // The file system path of the open file (UTF-8), or empty.
    std::string path() const;

    // "  %Y/%m/%d  %H:%M:%S" for the given local time: the time text of log records and row headers.
    static std::string timeText(std::time_t t);
    // <folder>/<group name>_YYYYMMDD.log as a file system path (folder: a file-system path); empty
    // when no folder is set.
    static std::string fileName(std::string_view folder, std::string_view groupName, std::time_t day);
    // The text of the report, code page 932; path is a file-system path.
    static std::string cannotWriteText(std::string_view path);

    void close();

    // True when the file at path ends with CR LF or is empty.
    static bool endsWithLineBreak(const std::string& path);
    // Appends record with one write. Whole: written; Nothing: the file ends as before (a write
    // that stopped short is taken back); Torn: part of it stayed.
    enum class WriteResult { Whole, Nothing, Torn };
    static WriteResult writeRecord(int fd, std::string_view record);

private:
    void reportFailure(const std::string& folder, const std::string& path) const;
    static void failureCleared(const std::string& folder);

    const ChatLogEnvironment& m_environment;
    mutable std::mutex m_mutex;
    std::FILE* m_file = nullptr;
    std::string m_path;
    std::string m_folder;          // of the open file
    bool m_startOnNewLine = false; // the file does not end with CR LF: begin the next record with one
    std::function<std::time_t()> m_now;
};

} // namespace orvalink::chat
