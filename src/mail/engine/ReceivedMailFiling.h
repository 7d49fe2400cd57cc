#pragma once

// Filing one downloaded message into 受信したメール. The message file F (the received-mail folder's
// path, the server's message number and ".qel", in the mail directory) holds the message as it
// came, every LF written as CR LF, ending with the stored terminating line "." CR CR LF. Four steps
// follow each other, each reading one file and writing the next, and each deleting the file it
// read once its own output is complete:
//
//   1. cleanup pass          F        -> F+"tab"  CR CR LF becomes CR LF; in the header block a
//                                                  line starting with TAB is joined to the line
//                                                  before without the TAB; the stored terminator is
//                                                  cut when it is there (and only then)
//   2. code conversion       F+"tab"  -> F+"cnv"  kanji::convertFile with "-B", "-m", "-s"
//   3. Subject joining pass  F+"cnv"  -> F        the first Subject header of the header block and
//                                                  its continuation lines on one line
//   4. AppendReceivedMessage F        -> the folder's .mbx and .idx
//
// A message is filed whole or not at all: when a step fails, the last complete file of the message
// is kept in the mail directory under a name of its own, which the error text names, and nothing
// is left half-written in the folder. A message with a UIDL id has one kept file (keptFileName),
// replaced by each later failure and removed once the message is filed; one without an id gets a
// new name for each failure (the message file's name, "." and the first free number). Work files are created 0600.
// Every path here is a file-system path (the mail directory as it is, the folder's name converted onto it:
// store::folderFsPath).

#include "store/MailStore.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvalink::mail {

// The passes on bytes; the file forms below stream the same rules without holding a file.
//
// Cleanup: a LF of the stored form together with up to two CRs right before it is one line end,
// written CR LF; any other CR is data and copied (a lone CR). A TAB at the start of a line inside
// the header block (before the first empty line) joins that line to the one before. The last
// four bytes are cut only when they are the stored terminator "." CR CR LF standing on a line of
// its own.
std::string cleanupPass(std::string_view stored);
// Subject joining: the first line of the header block starting with "Subject:" takes in the lines
// that follow while they start with a space or TAB (the folding of RFC 5322; the names that end the
// joining, the empty line ending the header block and the end of the file always end it). In the
// joined text a CR at the very end is dropped, a CR followed by a space is dropped with that space,
// any other CR is dropped. Every line is written with CR LF, the joined one too.
std::string joinSubjectPass(std::string_view converted);

// The same on files; false when the input cannot be read or the output cannot be written (a
// partial output is removed). The input is left in place.
bool cleanupPassFile(const std::string& inputPath, const std::string& outputPath);
bool joinSubjectPassFile(const std::string& inputPath, const std::string& outputPath);

struct FilingResult {
    bool filed = false;
    // Texts for the error list; empty when filed.
    std::vector<std::string> errors;
    // Where the message was kept when it could not be filed, a file-system path (empty when filed
    // or lost); the error text names it in code page 932.
    std::string keptFile;
    // When filed: both folder files' lengths with the message in.
    store::FolderSizes sizes;
};

// Deletes a work file (a file-system path) that no later step of this download names again.
using WorkFileRemover = std::function<void(const std::string&)>;

// Runs the four steps on the message file of message `number` (UIDL id `uniqueId`, empty when the
// server gives none), filing into 受信したメール of the mail directory `mailDirPath`. On success no work file is left:
// the "tab" and "cnv" files and the filed message file go through `remove` (at once when none is given), the raw
// message file is deleted at once because the third step writes that name again.
//
// `interruptedFrom`: an earlier filing of this message began when the folder files had these sizes
// and was cut off before its id was recorded. When a message appended since then holds exactly the
// bytes this filing would append, that is the message: nothing is appended, and the result is
// filed with the sizes right after that message.
FilingResult fileReceivedMessage(const std::string& mailDirPath, const std::string& messageFile, int number,
                                 const WorkFileRemover& remove = {}, std::string_view uniqueId = {},
                                 const store::FolderSizes* interruptedFrom = nullptr);

// The same steps for a message whose stored form (the bytes of its message file) is also in memory:
// the passes run on `stored` and the result is appended from memory, giving the very bytes the file
// steps store; no "tab" or "cnv" file is written. The message file is the recovery copy: when the
// message cannot be filed it is kept as above, once filed it goes through `remove`.
FilingResult fileReceivedText(const std::string& mailDirPath, const std::string& messageFile, std::string_view stored,
                              int number, const WorkFileRemover& remove = {}, std::string_view uniqueId = {},
                              const store::FolderSizes* interruptedFrom = nullptr);

// The kept file of the message with UIDL id `uniqueId` (not empty) in the mail directory; empty
// while no mail directory is set.
std::string keptMessageFile(const std::string& mailDirPath, std::string_view uniqueId);

} // namespace orvalink::mail
