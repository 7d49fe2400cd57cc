#pragma once

// The receive side's sink for the POP3 engine: writes each message to its message file in the
// mail directory (started empty, every LF written as CR LF, closed with the stored terminator),
// files it with fileReceivedMessage() when it is complete, and records its UIDL id. A message that
// is abandoned leaves no file behind.
//
// Each filed message's id is recorded right after its append, so a killed download fetches again
// at most the message it was filing; a line written before the append (UidlRecord::addFiling)
// lets the next download find that message in the folder when the kill came after its append, and
// then only its id is recorded. Forcing files to the disk costs milliseconds each, so that is
// done for a batch: after every kIdBatch filed messages and when the download ends the folder files
// are forced to the disk and then the record (UidlRecord::confirm); until then the record trusts
// an id only as far as the folder files show its message. Work files are deleted on a thread of
// their own; all are gone when the download ends. A filed message's own file is not deleted but
// renamed and written over for the next message: making and deleting a file for every message
// cost the file system more than the rest of the filing together.
//
//   UidlRecord record(mailDirPath, account.popServer, account.popAccount);
//   ReceivedMailFiler filer(mailDirPath, &record);
//   Pop3Engine engine({account.popAccount, account.popPassword}, filer, record.load());

#include "mail/engine/DeferredRemover.h"
#include "mail/engine/Pop3Engine.h"
#include "mail/engine/UidlRecord.h"
#include "platform/posix/FileDescriptor.h"

#include <map>
#include <optional>
#include <string>

namespace orvalink::mail {

class ReceivedMailFiler : public Pop3MessageSink {
public:
    // `record` may be null (no ids are kept); it must outlive the filer.
    ReceivedMailFiler(std::string mailDirPath, UidlRecord* record);
    ~ReceivedMailFiler() override;
    ReceivedMailFiler(const ReceivedMailFiler&) = delete;
    ReceivedMailFiler& operator=(const ReceivedMailFiler&) = delete;

    std::string beginMessage(int number) override;
    std::string writeMessageData(std::string_view data) override;
    std::vector<std::string> completeMessage(int number, std::string_view uniqueId) override;
    void abandonMessage(int number) override;
    std::vector<std::string> downloadEnded() override;

    static constexpr std::size_t kIdBatch = 100;
    // Messages up to this size (stored form) are also kept in memory while they arrive and filed
    // from there (fileReceivedText); larger ones are filed from their message file, so that a huge
    // message costs no more memory than a chunk.
    static constexpr std::size_t kInMemoryLimit = 1024 * 1024;

    // Forces the folder files and the ids recorded so far to the disk (also done by downloadEnded
    // and the destructor). Returns texts for the error list: that ids could not be recorded, here
    // or since the last call.
    std::vector<std::string> recordFiledIds();

    // Messages filed by this filer.
    int filedCount() const { return m_filed; }

private:
    bool flush();
    void closeFile();
    // The spare file renamed to `path` and opened to be written over from its start (it is cut to
    // the message's length when the message is complete), or none (then the file is made).
    platform::FileDescriptor takeSpare(const std::string& path);
    void dropSpare();

    std::string m_mailDir;
    UidlRecord* m_record;
    std::string m_messageFile;
    platform::FileDescriptor m_fd;
    int m_number = 0;
    std::string m_buffer;
    std::string m_stored;      // the message file's bytes so far, while within kInMemoryLimit
    std::size_t m_written = 0; // bytes of this message written to its file
    bool m_inMemory = false;
    int m_filed = 0;
    std::size_t m_unconfirmed = 0;           // ids recorded since the last confirmation
    std::vector<std::string> m_recordErrors; // said when the download ends
    // The record's interrupted filings, read when the first message is complete.
    std::map<std::string, store::FolderSizes> m_interrupted;
    bool m_interruptedRead = false;
    std::optional<store::FolderSizes> m_lastSizes; // the folder files after the last message filed
    DeferredRemover m_remover;                     // the work files of filed messages
    std::string m_spareFile;                       // the last filed message's file, closed, kept for the next message
};

} // namespace orvalink::mail
