#pragma once

// Scratch directories and whole-file helpers for the folder store tests.

#include "folders/store/MailStore.h"
#include "platform/text/Cp932.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <string_view>

namespace orvalink::test {

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvalink-folders-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The directory as a store path (code page 932; the scratch path itself is ASCII).
    std::string path() const { return m_path.string(); }
    // A folder's files without extension, as the store and the tool name them.
    std::string folder(std::string_view name) const { return *folders::folderFilePath(path(), name); }

private:
    std::filesystem::path m_path;
};

// Paths below are code page 932, as the store takes them.
inline std::filesystem::path fsPath(const std::string& cp932Path) {
    return text::cp932ToUtf8(cp932Path);
}

inline void writeBytes(const std::string& cp932Path, std::string_view bytes) {
    std::ofstream out(fsPath(cp932Path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + cp932Path);
}

inline void appendBytes(const std::string& cp932Path, std::string_view bytes) {
    std::ofstream out(fsPath(cp932Path), std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + cp932Path);
}

inline std::string readBytes(const std::string& cp932Path) {
    std::ifstream in(fsPath(cp932Path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool exists(const std::string& cp932Path) {
    return std::filesystem::exists(fsPath(cp932Path));
}

inline std::string le32(std::uint32_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF),
            static_cast<char>((v >> 24) & 0xFF)};
}

// Writes `message` as a finished message file and files it into `folder`.
inline folders::StoreResult fileMessage(const ScratchDir& dir, std::string_view folder, std::string_view message,
                                        const std::string& tempName = "message.qel") {
    const std::string file = dir.path() + "/" + tempName;
    writeBytes(file, message);
    return folders::AppendReceivedMessage(dir.path(), folder, file);
}

} // namespace orvalink::test
