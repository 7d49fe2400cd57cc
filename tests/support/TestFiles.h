#pragma once

// What many tests need around the code they test: a scratch folder of their own, whole files read
// and written byte for byte, an environment variable changed for a while, and waiting for
// something another thread or process does.

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

namespace orvalink::test {

// A fresh folder under $TMPDIR for one test, removed with everything in it afterwards.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "orvalink-test")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a scratch folder " + pattern);
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Names a folder the user picks may have that no code page 932 text can name: a character code
// page 932 lacks, and bytes that are not UTF-8 at all.
inline constexpr std::string_view kFolderNamesBeyondCodePage932[] = {"caf\xc3\xa9 mail", "\xff\xfe mail"};

// The whole file; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes,
                      std::ios::openmode mode = std::ios::trunc)
{
    std::ofstream out(path, std::ios::binary | mode);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

inline void appendFile(const std::filesystem::path& path, std::string_view bytes)
{
    writeFile(path, bytes, std::ios::app);
}

// Sets an environment variable until the end of the scope, then puts back the old value (or
// removes the variable when it had none).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Sets the time zone (TZ) until the end of the scope; the old one is back afterwards, for the C
// library's local time too.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const std::string& tz) : m_env("TZ", tz) { ::tzset(); }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    struct Restore {
        ~Restore() { ::tzset(); }
    };
    Restore m_restore; // destroyed after m_env: the library reads TZ again once it is back
    ScopedEnv m_env;
};

// Polls pred() every stepMs until it holds or timeoutMs have passed; returns pred()'s last answer.
template <typename Pred> bool waitUntil(Pred pred, int timeoutMs, int stepMs = 5)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return true;
}

} // namespace orvalink::test
