#pragma once

// Scratch directories and whole-file helpers for the folder store tests.

#include "platform/text/Cp932.h"
#include "store/MailStore.h"
#include "support/TestFiles.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace orvalink::test {

// A scratch folder to be the mail directory.
class ScratchDir : public TempDir {
public:
    ScratchDir() : TempDir("orvalink-folders") {}
    // A folder's files without extension, as the store and the tool name them.
    std::string folder(std::string_view name) const { return *store::folderFsPath(path(), name); }
};

// Paths below are file-system paths, as the store takes and gives them.
inline std::filesystem::path fsPath(const std::string& path)
{
    return path;
}

inline void writeBytes(const std::string& path, std::string_view bytes)
{
    writeFile(fsPath(path), bytes);
}

inline void appendBytes(const std::string& path, std::string_view bytes)
{
    appendFile(fsPath(path), bytes);
}

inline std::string readBytes(const std::string& path)
{
    return readFile(fsPath(path));
}

inline bool exists(const std::string& path)
{
    return std::filesystem::exists(fsPath(path));
}

inline std::string le32(std::uint32_t v)
{
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF),
            static_cast<char>((v >> 24) & 0xFF)};
}

// Writes `message` as a finished message file and files it into `folder`.
inline store::StoreResult fileMessage(const ScratchDir& dir, std::string_view folder, std::string_view message,
                                      const std::string& tempName = "message.qel")
{
    const std::string file = dir.path() + "/" + tempName;
    writeBytes(file, message);
    return store::AppendReceivedMessage(dir.path(), folder, file);
}

} // namespace orvalink::test
