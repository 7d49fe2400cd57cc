#pragma once

// Scratch directories and whole-file helpers for the folder store tests.

#include "folders/store/MailStore.h"
#include "platform/text/Cp932.h"
#include "support/TestFiles.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace orvalink::test {

// A scratch folder whose path is also a store path (code page 932; the path itself is ASCII).
class ScratchDir : public TempDir {
public:
    ScratchDir() : TempDir("orvalink-folders") {}
    // A folder's files without extension, as the store and the tool name them.
    std::string folder(std::string_view name) const { return *folders::folderFilePath(path(), name); }
};

// Paths below are code page 932, as the store takes them.
inline std::filesystem::path fsPath(const std::string& cp932Path)
{
    return platform::cp932ToUtf8(cp932Path);
}

inline void writeBytes(const std::string& cp932Path, std::string_view bytes)
{
    writeFile(fsPath(cp932Path), bytes);
}

inline void appendBytes(const std::string& cp932Path, std::string_view bytes)
{
    appendFile(fsPath(cp932Path), bytes);
}

inline std::string readBytes(const std::string& cp932Path)
{
    return readFile(fsPath(cp932Path));
}

inline bool exists(const std::string& cp932Path)
{
    return std::filesystem::exists(fsPath(cp932Path));
}

inline std::string le32(std::uint32_t v)
{
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF),
            static_cast<char>((v >> 24) & 0xFF)};
}

// Writes `message` as a finished message file and files it into `folder`.
inline folders::StoreResult fileMessage(const ScratchDir& dir, std::string_view folder, std::string_view message,
                                        const std::string& tempName = "message.qel")
{
    const std::string file = dir.path() + "/" + tempName;
    writeBytes(file, message);
    return folders::AppendReceivedMessage(dir.path(), folder, file);
}

} // namespace orvalink::test
