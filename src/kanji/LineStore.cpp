#include "kanji/LineStore.h"

namespace orvalink::kanji {

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

void LineStore::finish()
{
    writeStore();
    if (m_file && !m_failed && std::fflush(m_file) != 0)
        m_failed = true;
}

} // namespace orvalink::kanji
