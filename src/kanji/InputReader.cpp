#include "kanji/InputReader.h"

#include <cstring>

namespace orvalink::kanji {

std::size_t InputReader::readRaw(std::uint8_t* to, std::size_t max)
{
    if (m_file) {
        const std::size_t n = std::fread(to, 1, max, m_file);
        if (n < max && std::ferror(m_file))
            m_failed = true;
        return n;
    }
    const std::size_t n = m_memory.size() < max ? m_memory.size() : max;
    if (n == 0)
        return 0;
    std::memcpy(to, m_memory.data(), n);
    m_memory.remove_prefix(n);
    return n;
}

bool InputReader::refill()
{
    if (!m_file && !m_heldCr && !m_memory.empty()) {
        // Text in memory without a CR in the next chunk is read where it lies.
        const std::size_t n = m_memory.size() < kChunk ? m_memory.size() : kChunk;
        if (!std::memchr(m_memory.data(), '\r', n)) {
            m_cur = reinterpret_cast<const std::uint8_t*>(m_memory.data());
            m_end = m_cur + n;
            m_memory.remove_prefix(n);
            return true;
        }
    }
    std::uint8_t* out = m_buf.data();
    while (out == m_buf.data() && !m_atEnd) {
        const std::size_t n = readRaw(m_raw.data(), m_raw.size());
        if (n == 0) {
            m_atEnd = true;
            if (m_heldCr) {
                *out++ = '\r';
                m_heldCr = false;
            }
            break;
        }
        const std::uint8_t* in = m_raw.data();
        const std::uint8_t* const inEnd = in + n;
        if (m_heldCr) {
            m_heldCr = false;
            if (*in != '\n')
                *out++ = '\r';
        }
        while (in < inEnd) {
            const auto* cr = static_cast<const std::uint8_t*>(std::memchr(in, '\r', inEnd - in));
            const std::uint8_t* runEnd = cr ? cr : inEnd;
            std::memcpy(out, in, runEnd - in);
            out += runEnd - in;
            in = runEnd;
            if (!cr)
                break;
            ++in;
            if (in == inEnd)
                m_heldCr = true;
            else if (*in != '\n')
                *out++ = '\r';
        }
    }
    m_cur = m_buf.data();
    m_end = out;
    return m_cur != m_end;
}

} // namespace orvalink::kanji
