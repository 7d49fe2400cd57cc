#pragma once

// The output side of a conversion: output bytes are kept in a 10,000-byte store, and every LF is
// stored as CR LF. The store is written out whenever it fills, and at the end; a line longer than
// the store is thereby written in pieces, and the output is the same as with an unbounded store.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace orvalink::kanji {

class LineStore {
public:
    static constexpr std::size_t kCapacity = 10000;

    explicit LineStore(std::string& memory) : m_memory(&memory) {}
    explicit LineStore(std::FILE* file) : m_file(file) {}

    LineStore(const LineStore&) = delete;
    LineStore& operator=(const LineStore&) = delete;

    void put(std::uint8_t c)
    {
        if (m_len + 2 > kCapacity)
            writeStore();
        if (c == '\n')
            m_store[m_len++] = '\r';
        m_store[m_len++] = c;
    }

    void putPair(std::uint8_t a, std::uint8_t b)
    {
        if (m_len + 2 > kCapacity)
            writeStore();
        m_store[m_len++] = a;
        m_store[m_len++] = b;
    }

    // Direct access for the converter's fast paths: free room is [cursor(), limit()); after writing
    // the caller moves the cursor with advanceTo(), and calls makeRoom() when the room runs short.
    std::uint8_t* cursor() { return m_store.data() + m_len; }
    std::uint8_t* limit() { return m_store.data() + kCapacity; }
    void advanceTo(const std::uint8_t* p) { m_len = static_cast<std::size_t>(p - m_store.data()); }
    void makeRoom() { writeStore(); }

    // Writes what is left in the store (without a line end) and everything buffered for the file.
    void finish();

    bool writeFailed() const { return m_failed; }

private:
    void writeStore();
    void writeOut(const std::uint8_t* p, std::size_t n);

    std::string* m_memory = nullptr;
    std::FILE* m_file = nullptr;
    bool m_failed = false;
    std::size_t m_len = 0;
    std::array<std::uint8_t, kCapacity> m_store;
};

} // namespace orvalink::kanji
