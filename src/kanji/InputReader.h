#pragma once

// The converter's input, read as text: a CR LF pair is delivered as a single LF, a lone CR stays.
// Bytes come from memory or from a file through a 16 KiB buffer, so a message of any size streams.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace orvalink::kanji {

class InputReader {
public:
    static constexpr int kEnd = -1;

    explicit InputReader(std::string_view bytes) : m_memory(bytes) {}
    explicit InputReader(std::FILE* file) : m_file(file) {}

    InputReader(const InputReader&) = delete;
    InputReader& operator=(const InputReader&) = delete;

    int get()
    {
        if (m_cur == m_end && !refill())
            return kEnd;
        return *m_cur++;
    }

    // The translated bytes not yet consumed; empty only at the end of the input.
    const std::uint8_t* peekBegin()
    {
        if (m_cur == m_end)
            refill();
        return m_cur;
    }
    const std::uint8_t* peekEnd() const { return m_end; }
    void consumeTo(const std::uint8_t* p) { m_cur = p; }

    bool readFailed() const { return m_failed; }

private:
    static constexpr std::size_t kChunk = 16 * 1024;

    bool refill();
    std::size_t readRaw(std::uint8_t* to, std::size_t max);

    std::string_view m_memory;
    std::FILE* m_file = nullptr;
    bool m_failed = false;
    bool m_atEnd = false;
    // A CR at the end of one raw chunk waits for the first byte of the next.
    bool m_heldCr = false;
    std::array<std::uint8_t, kChunk> m_raw;
    std::array<std::uint8_t, kChunk + 1> m_buf;
    const std::uint8_t* m_cur = m_buf.data();
    const std::uint8_t* m_end = m_buf.data();
};

} // namespace orvalink::kanji
