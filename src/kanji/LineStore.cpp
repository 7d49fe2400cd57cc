#include "kanji/LineStore.h"

namespace kanji {

void LineStore::writeOut(const std::uint8_t* p, std::size_t n)
{
    if (n == 0)
        return;
    if (m_memory) {
        m_memory->append(reinterpret_cast<const char*>(p), n);
    } else if (!m_failed && std::fwrite(p, 1, n, m_file) != n) {
        m_failed = true;
    }
}

void LineStore::writeStore()
{
    writeOut(m_store.data(), m_len);
    m_len = 0;
}

void LineStore::endLine()
{
    if (m_len + 2 > kCapacity)
        writeStore();
    m_store[m_len++] = '\r';
    m_store[m_len++] = '\n';
    writeStore();
}

void LineStore::putRun(const std::uint8_t* p, std::size_t n)
{
    const std::uint8_t* const end = p + n;
    while (p < end) {
        const auto* lf = static_cast<const std::uint8_t*>(std::memchr(p, '\n', end - p));
        const std::uint8_t* runEnd = lf ? lf : end;
        while (p < runEnd) {
            if (m_len == kCapacity)
                writeStore();
            const std::size_t room = kCapacity - m_len;
            const std::size_t take = static_cast<std::size_t>(runEnd - p) < room ? runEnd - p : room;
            std::memcpy(m_store.data() + m_len, p, take);
            m_len += take;
            p += take;
        }
        if (lf) {
            endLine();
            ++p;
        }
    }
}

void LineStore::finish()
{
    writeStore();
    if (m_file && !m_failed && std::fflush(m_file) != 0)
        m_failed = true;
}

} // namespace kanji
