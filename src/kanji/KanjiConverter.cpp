#include "kanji/KanjiConverter.h"

#include "kanji/Conversion.h"
#include "kanji/InputReader.h"
#include "kanji/LineStore.h"

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace orvalink::kanji {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The converted message is a work file of the mail download: a user's mail, created owner-only.
FilePtr createPrivate(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr)
        ::close(fd);
    return FilePtr(file);
}

} // namespace

std::string KanjiConverter::convert(std::string_view input) const
{
    std::string output;
    output.reserve(input.size() + input.size() / 4 + 16);
    // The reader and the store carry 26 KiB of buffers: keep them off the caller's stack.
    auto in = std::make_unique<InputReader>(input);
    auto out = std::make_unique<LineStore>(output);
    auto conversion = std::make_unique<Conversion>(*in, *out, m_options);
    conversion->run();
    out->finish();
    return output;
}

int KanjiConverter::convertFile(const std::string& inputPath, const std::string& outputPath) const
{
    FilePtr inFile(std::fopen(inputPath.c_str(), "rb"));
    if (!inFile)
        return -1;
    FilePtr outFile = createPrivate(outputPath);
    if (!outFile)
        return -1;
    std::setvbuf(outFile.get(), nullptr, _IOFBF, 64 * 1024);

    auto in = std::make_unique<InputReader>(inFile.get());
    auto out = std::make_unique<LineStore>(outFile.get());
    auto conversion = std::make_unique<Conversion>(*in, *out, m_options);
    conversion->run();
    out->finish();
    const bool failed = in->readFailed() || out->writeFailed() || std::fclose(outFile.release()) != 0;
    if (failed) {
        // A cut message must not pass for a converted one.
        std::remove(outputPath.c_str());
        return -1;
    }
    return 0;
}

int convertFile(const std::vector<std::string>& args)
{
    if (args.size() < 3)
        return -1;
    KanjiConverter::Options options;
    options.recoverMissingEscapes = false;
    options.decodeEncodedWords = false;
    for (std::size_t i = 1; i + 2 < args.size(); ++i) {
        if (args[i] == "-B")
            options.recoverMissingEscapes = true;
        else if (args[i] == "-m")
            options.decodeEncodedWords = true;
    }
    return KanjiConverter(options).convertFile(args[args.size() - 2], args[args.size() - 1]);
}

} // namespace orvalink::kanji
