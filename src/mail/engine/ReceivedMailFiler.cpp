#include "mail/engine/ReceivedMailFiler.h"

#include "mail/engine/Pop3Texts.h"
#include "mail/engine/ReceivedMailFiling.h"
#include "platform/text/Cp932.h"
#include "store/MailStore.h"
#include "store/TempFileNames.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace orvalink::mail {

using platform::FileDescriptor;

namespace {

constexpr std::size_t kFlushSize = 64 * 1024;

// The lengths of the folder's files (0 for a file not there yet).
store::FolderSizes folderSizes(const std::string& folderPath)
{
    store::FolderSizes sizes;
    struct stat st {};
    if (::stat((folderPath + std::string(store::kIndexSuffix)).c_str(), &st) == 0)
        sizes.index = static_cast<std::uint64_t>(st.st_size);
    if (::stat((folderPath + std::string(store::kMailboxSuffix)).c_str(), &st) == 0)
        sizes.mailbox = static_cast<std::uint64_t>(st.st_size);
    return sizes;
}

std::string textWith(const char* pattern, int number, const std::string& name)
{
    char text[4096];
    std::snprintf(text, sizeof text, pattern, number, name.c_str());
    return text;
}

} // namespace

ReceivedMailFiler::ReceivedMailFiler(std::string mailDirPath, UidlRecord* record)
    : m_mailDir(std::move(mailDirPath)), m_record(record)
{
}

ReceivedMailFiler::~ReceivedMailFiler()
{
    if (m_fd.isOpen()) {
        closeFile();
        ::unlink(m_messageFile.c_str());
    }
    recordFiledIds();
    dropSpare();
    m_remover.drain();
}

void ReceivedMailFiler::dropSpare()
{
    if (!m_spareFile.empty())
        m_remover.remove(std::exchange(m_spareFile, {}));
}

FileDescriptor ReceivedMailFiler::takeSpare(const std::string& path)
{
    if (m_spareFile.empty())
        return {};
    const std::string spare = std::exchange(m_spareFile, {});
    // The rename takes the place of whatever an interrupted download left under the name.
    if (::rename(spare.c_str(), path.c_str()) != 0) {
        m_remover.remove(spare);
        return {};
    }
    // Written over from its start and cut to the message's length when it is complete: emptying it
    // first would make the file system write the blocks out at once.
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isOpen())
        ::unlink(path.c_str());
    return fd;
}

namespace {

std::vector<std::string> cannotRecord(const UidlRecord& record)
{
    char text[4096];
    std::snprintf(text, sizeof text, texts::kCannotRecord, platform::utf8ToCp932(record.path()).c_str());
    return {text};
}

} // namespace

std::vector<std::string> ReceivedMailFiler::recordFiledIds()
{
    std::vector<std::string> errors = std::move(m_recordErrors);
    m_recordErrors.clear();
    if (!m_record || m_unconfirmed == 0)
        return errors;
    m_unconfirmed = 0;
    if (!m_record->confirm() && errors.empty())
        errors = cannotRecord(*m_record);
    return errors;
}

std::vector<std::string> ReceivedMailFiler::downloadEnded()
{
    dropSpare();
    m_remover.drain();
    return recordFiledIds();
}

std::string ReceivedMailFiler::beginMessage(int number)
{
    if (m_fd.isOpen()) {
        closeFile();
        ::unlink(m_messageFile.c_str());
    }
    const auto folder = store::folderFsPath(m_mailDir, store::kReceivedFolder);
    if (!folder)
        return std::string(texts::kNoMailDirectory);
    m_messageFile = store::messageTempFileName(*folder, number);
    const std::string& path = m_messageFile;
    // The work files of an earlier message of the same number must be gone before these are made.
    if (m_remover.pending(m_messageFile))
        m_remover.drain();
    // Whatever an interrupted download left under this name is not part of this message: the file
    // is the last filed message's, renamed and written over, or made anew (private).
    m_fd = takeSpare(path);
    if (!m_fd.isOpen())
        m_fd = FileDescriptor(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!m_fd.isOpen() && errno == EEXIST) {
        ::unlink(path.c_str());
        m_fd = FileDescriptor(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    }
    if (!m_fd.isOpen())
        return textWith(texts::kCannotCreate, number, platform::utf8ToCp932(m_messageFile));
    m_buffer.clear();
    m_stored.clear();
    m_written = 0;
    m_inMemory = true;
    m_number = number;
    return {};
}

std::string ReceivedMailFiler::writeMessageData(std::string_view data)
{
    if (!m_fd.isOpen())
        return {};
    // The message file holds every LF as CR LF; the cleanup pass expects exactly that form.
    while (!data.empty()) {
        const void* lf = std::memchr(data.data(), '\n', data.size());
        if (!lf) {
            m_buffer.append(data);
            break;
        }
        const std::size_t n = static_cast<std::size_t>(static_cast<const char*>(lf) - data.data());
        m_buffer.append(data.data(), n);
        m_buffer.append("\r\n");
        data.remove_prefix(n + 1);
    }
    if (m_buffer.size() >= kFlushSize && !flush()) {
        closeFile();
        ::unlink(m_messageFile.c_str());
        return textWith(texts::kCannotWrite, m_number, {});
    }
    return {};
}

bool ReceivedMailFiler::flush()
{
    if (m_inMemory && m_stored.size() + m_buffer.size() <= kInMemoryLimit) {
        m_stored.append(m_buffer);
    } else {
        m_inMemory = false;
        std::string().swap(m_stored);
    }
    const bool written = platform::writeAll(m_fd.get(), m_buffer);
    m_written += m_buffer.size();
    m_buffer.clear();
    return written;
}

void ReceivedMailFiler::closeFile()
{
    m_fd.reset();
    m_buffer.clear();
}

std::vector<std::string> ReceivedMailFiler::completeMessage(int number, std::string_view uniqueId)
{
    if (!m_fd.isOpen())
        return {textWith(texts::kLost, number, {})};
    m_buffer.append(".\r\r\n");
    // A reused file may still hold the earlier message's bytes past this one's end.
    const bool written = flush() && ::ftruncate(m_fd.get(), static_cast<off_t>(m_written)) == 0;
    const bool closed = m_fd.close();
    if (!written || !closed) {
        ::unlink(m_messageFile.c_str());
        return {textWith(texts::kCannotWrite, number, {})};
    }
    // Where a kill may have left this message appended and its id unrecorded (see UidlRecord).
    const store::FolderSizes* interruptedFrom = nullptr;
    auto interrupted = m_interrupted.end();
    if (m_record && !uniqueId.empty()) {
        if (!m_interruptedRead) {
            m_interrupted = m_record->interruptedFilings();
            m_interruptedRead = true;
        }
        interrupted = m_interrupted.find(std::string(uniqueId));
        if (interrupted != m_interrupted.end())
            interruptedFrom = &interrupted->second;
        // Written before the append, so that a kill between the append and the id line leaves the
        // next download a place to look for the copy. A record that cannot be written is said by
        // addFiled below.
        // The sizes the last filing left are as good as the files' own: the message can only
        // come after them.
        const auto folder = store::folderFsPath(m_mailDir, store::kReceivedFolder);
        if (!m_lastSizes && folder)
            m_lastSizes = folderSizes(*folder);
        if (m_lastSizes)
            m_record->addFiling(uniqueId, m_lastSizes->index, m_lastSizes->mailbox);
    }
    // The message's own file, once filed, is kept for the next message instead of being deleted.
    const WorkFileRemover remove = [this](const std::string& path) {
        if (m_spareFile.empty() && path == m_messageFile)
            m_spareFile = path;
        else
            m_remover.remove(path);
    };
    FilingResult result =
        m_inMemory ? fileReceivedText(m_mailDir, m_messageFile, m_stored, number, remove, uniqueId, interruptedFrom)
                   : fileReceivedMessage(m_mailDir, m_messageFile, number, remove, uniqueId, interruptedFrom);
    m_stored.clear();
    if (!result.filed)
        return std::move(result.errors);
    if (interrupted != m_interrupted.end())
        m_interrupted.erase(interrupted);
    m_lastSizes = result.sizes;
    ++m_filed;
    if (!m_record || uniqueId.empty())
        return {};
    // The message is filed whatever becomes of its id: a record that fails is said once, when the
    // download ends (a text returned here would name the message as not filed).
    if (!m_record->addFiled(uniqueId, result.sizes.index, result.sizes.mailbox)) {
        if (m_recordErrors.empty())
            m_recordErrors = cannotRecord(*m_record);
        return {};
    }
    if (++m_unconfirmed >= kIdBatch) {
        m_unconfirmed = 0;
        if (!m_record->confirm() && m_recordErrors.empty())
            m_recordErrors = cannotRecord(*m_record);
    }
    return {};
}

void ReceivedMailFiler::abandonMessage(int /*number*/)
{
    if (!m_fd.isOpen())
        return;
    closeFile();
    ::unlink(m_messageFile.c_str());
}

} // namespace orvalink::mail
