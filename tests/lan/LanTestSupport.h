#pragma once

#include "support/TestFiles.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvalink::tools {

// Small helpers shared by the simulated LAN tests: files written by programs inside the LAN, and
// whether a process still runs.

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using orvalink::test::readFile;
using orvalink::test::TempDir;
using orvalink::test::waitUntil;

inline std::vector<std::string> sortedLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// True while pid names a process that has not ended (a zombie has ended: only its parent, which
// may be an init that never reaps, still holds its entry).
inline bool processRuns(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return false;
    const size_t paren = text.rfind(')');
    if (paren == std::string::npos || paren + 2 >= text.size())
        return false;
    const char state = text[paren + 2];
    return state != 'Z' && state != 'X';
}

inline bool waitUntilEnded(const std::vector<pid_t>& pids, int timeoutMs)
{
    return waitUntil([&] { return std::none_of(pids.begin(), pids.end(), processRuns); }, timeoutMs);
}

inline bool waitForFileText(const fs::path& path, const std::string& text, int timeoutMs)
{
    return waitUntil([&] { return readFile(path).find(text) != std::string::npos; }, timeoutMs, 2);
}

} // namespace orvalink::tools
