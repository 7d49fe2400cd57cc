#pragma once

// The output side of a conversion: the bytes of the current line are kept in a 10,000-byte store;
// a LF writes the stored line followed by CR LF. A line that does not fit is written out in pieces
// as the store fills, so the output is the same as with an unbounded store.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace kanji {

class LineStore {
public:
    static constexpr std::size_t kCapacity = 10000;

    explicit LineStore(std::string& memory) : m_memory(&memory) {}
    explicit LineStore(std::FILE* file) : m_file(file) {}

    LineStore(const LineStore&) = delete;
    LineStore& operator=(const LineStore&) = delete;

    void put(std::uint8_t c)
    {
        if (c == '\n') {
            endLine();
            return;
        }
        if (m_len == kCapacity)
            writeStore();
        m_store[m_len++] = c;
    }

    void putPair(std::uint8_t a, std::uint8_t b)
    {
        if (m_len + 2 > kCapacity)
            writeStore();
        m_store[m_len++] = a;
        m_store[m_len++] = b;
    }

    // A run of bytes, LFs included.
    void putRun(const std::uint8_t* p, std::size_t n);

    // Writes what is left in the store (without a line end) and everything buffered for the file.
    void finish();

    bool writeFailed() const { return m_failed; }

private:
    void endLine();
    void writeStore();
    void writeOut(const std::uint8_t* p, std::size_t n);

    std::string* m_memory = nullptr;
    std::FILE* m_file = nullptr;
    bool m_failed = false;
    std::size_t m_len = 0;
    std::array<std::uint8_t, kCapacity> m_store{};
};

} // namespace kanji
