// orvalink-mbox: looks into a mail folder. Lists its index records, or writes one message's text.
//
//   orvalink-mbox list [--raw] FOLDER     one line per record, fields separated by TAB:
//                                         number, status, sender, subject, recipient, arrival date,
//                                         header date, mailer, body size, mailbox offset ("?" when
//                                         unreadable index bytes before the record hide it); what
//                                         cannot be read is said on standard error
//   orvalink-mbox extract FOLDER K        the stored bytes of message K (from 0) on standard output
//
// FOLDER is the folder's files without extension (".idx" or ".mbx" may be given too), a path as the
// file system names it. Texts are shown in UTF-8; --raw writes them as stored, in code page 932.
#include "platform/text/Cp932.h"
#include "store/MailStore.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace orvalink::tools {

namespace {

using orvalink::store::IndexListing;

int usage()
{
    std::fputs("usage: orvalink-mbox list [--raw] FOLDER\n"
               "       orvalink-mbox extract FOLDER K\n",
               stderr);
    return 2;
}

// The path is taken byte for byte, as the store takes it.
std::string folderArgument(std::string_view arg)
{
    if (arg.size() > 4 && (arg.ends_with(".idx") || arg.ends_with(".mbx")))
        arg.remove_suffix(4);
    return std::string(arg);
}

bool loadIndex(const std::string& folder, const char* shownName, IndexListing& listing)
{
    std::optional<IndexListing> read = orvalink::store::readFolderIndex(folder);
    if (!read) {
        std::fprintf(stderr, "orvalink-mbox: cannot read the index of %s\n", shownName);
        return false;
    }
    listing = std::move(*read);
    if (orvalink::store::hasInterruptedAppend(folder))
        std::fprintf(stderr,
                     "orvalink-mbox: an append to %s is under way or was cut off; the next append takes back "
                     "what it wrote\n",
                     shownName);
    for (const auto& gap : listing.unreadable)
        std::fprintf(stderr, "orvalink-mbox: bytes %llu to %llu of the index of %s hold no readable record\n",
                     static_cast<unsigned long long>(gap.begin), static_cast<unsigned long long>(gap.end), shownName);
    if (listing.endUnclaimed())
        std::fprintf(stderr,
                     "orvalink-mbox: mailbox bytes %llu to %llu of %s belong to no record (the next append gives "
                     "them one)\n",
                     static_cast<unsigned long long>(listing.placedEnd),
                     static_cast<unsigned long long>(listing.mailboxSize), shownName);
    return true;
}

int list(const std::string& folder, const char* shownName, bool raw)
{
    IndexListing listing;
    if (!loadIndex(folder, shownName, listing))
        return 1;
    const auto shown = [raw](const std::string& s) { return raw ? s : platform::cp932ToUtf8(s); };
    for (std::size_t k = 0; k < listing.entries.size(); ++k) {
        const auto& e = listing.entries[k];
        const auto& r = e.record;
        const std::string offset = e.placed ? std::to_string(e.offset) : "?";
        std::printf("%zu\t%u\t%s\t%s\t%s\t%s\t%s\t%s\t%u\t%s\n", k, r.status, shown(r.sender).c_str(),
                    shown(r.subject).c_str(), shown(r.recipient).c_str(), shown(r.arrivalDate).c_str(),
                    shown(r.headerDate).c_str(), shown(r.mailer).c_str(), r.bodySize, offset.c_str());
        if (e.damaged)
            std::fprintf(stderr, "orvalink-mbox: record %zu does not hold six texts\n", k);
        if (e.lengthWordWrong)
            std::fprintf(stderr, "orvalink-mbox: record %zu has a wrong length word; it was read by its texts\n", k);
        if (!e.placed)
            std::fprintf(stderr,
                         "orvalink-mbox: record %zu follows unreadable index bytes; where its message lies "
                         "is not known\n",
                         k);
        else if (e.offset + r.bodySize > listing.mailboxSize)
            std::fprintf(stderr, "orvalink-mbox: the message of record %zu reaches past the end of the mailbox\n", k);
    }
    return 0;
}

int extract(const std::string& folder, const char* shownName, const char* number)
{
    char* end = nullptr;
    const unsigned long long k = std::strtoull(number, &end, 10);
    if (*number == '\0' || *end != '\0' || *number == '-')
        return usage();
    IndexListing listing;
    if (!loadIndex(folder, shownName, listing))
        return 1;
    if (k >= listing.entries.size()) {
        std::fprintf(stderr, "orvalink-mbox: %s has %zu messages\n", shownName, listing.entries.size());
        return 1;
    }
    const std::optional<std::string> message = orvalink::store::readFolderMessage(folder, listing.entries[k]);
    if (!message) {
        std::fprintf(stderr, "orvalink-mbox: the mailbox of %s does not hold message %llu\n", shownName, k);
        return 1;
    }
    return std::fwrite(message->data(), 1, message->size(), stdout) == message->size() && std::fflush(stdout) == 0 ? 0
                                                                                                                   : 1;
}

} // namespace

} // namespace orvalink::tools

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::tools;
    if (argc >= 3 && std::string_view(argv[1]) == "list") {
        const bool raw = argc == 4 && std::string_view(argv[2]) == "--raw";
        if (argc != (raw ? 4 : 3))
            return usage();
        return list(folderArgument(argv[argc - 1]), argv[argc - 1], raw);
    }
    if (argc == 4 && std::string_view(argv[1]) == "extract")
        return extract(folderArgument(argv[2]), argv[2], argv[3]);
    return usage();
}
