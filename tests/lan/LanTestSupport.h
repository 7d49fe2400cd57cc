#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

// Small helpers shared by the simulated LAN tests: files written by programs inside the LAN, and
// whether a process still runs.
namespace simlan {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// True while pid names a process that has not ended (a zombie has ended: only its parent, which
// may be an init that never reaps, still holds its entry).
inline bool processRuns(pid_t pid) {
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

inline bool waitUntilEnded(const std::vector<pid_t>& pids, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (std::none_of(pids.begin(), pids.end(), processRuns))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

inline bool waitForFileText(const fs::path& path, const std::string& text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (readFile(path).find(text) == std::string::npos) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace simlan
