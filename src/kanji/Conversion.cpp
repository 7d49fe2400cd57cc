#include "kanji/Conversion.h"

#include "kanji/JisArithmetic_p.h"
#include "kanji/KatakanaTable_p.h"

namespace orvalink::kanji {

namespace {

constexpr int kSo = 0x0E;
constexpr int kSi = 0x0F;
constexpr int kEsc = 0x1B;
constexpr int kSs2 = 0x8E;

// Control characters and the space end an encoded word; the end of input counts as one too.
constexpr bool isControlOrSpace(int c)
{
    return c <= 0x20;
}

constexpr int toUpper(int c)
{
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

constexpr bool isHalfWidthKatakana(int k)
{
    return k >= KatakanaTable::kFirst && k <= KatakanaTable::kLast;
}

// The characters a "B" word may hold between its pattern and the closing "?=".
constexpr bool isBWordCharacter(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=' || c == '?';
}

constexpr int base64Value(int c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return 0;
}

constexpr int hexValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

// Tried in this order. The mode letter is the second last character.
constexpr const char* kPatterns[] = {"=?ISO-8859-1?Q?", "=?ISO-2022-JP?B?", "=?ISO-2022-JP?Q?"};
constexpr std::size_t kPatternCount = 3;
constexpr std::size_t kLongestPattern = 16;

// Tables of the fast path.
struct FastTables {
    // ASCII-mode bytes copied as they are: below 0x7F, except those that start something, LF, and
    // SI, which is never written (not even where there is no shift to end).
    bool copy[256] = {};
    // Bytes of a JIS X 0208 pair; with missing-escape recovery "(" does not start a pair here.
    bool jisByte[256] = {};
    bool jisFirstRecovering[256] = {};
    // Bytes of an EUC pair that the writer takes (0xA0-0xFE), and a table for "no such pair".
    bool eucByte[256] = {};
    bool never[256] = {};
    // JIS X 0208 to Shift-JIS by table: the first byte from j1, the second from j2 and j1's parity.
    std::uint8_t shiftJisFirst[128] = {};
    std::uint8_t shiftJisSecond[2][128] = {};

    constexpr FastTables()
    {
        for (int c = 0; c < 0x7F; ++c)
            copy[c] = c != '=' && c != '$' && c != kSo && c != kSi && c != kEsc && c != '\n';
        for (int c = 0xA0; c <= 0xFE; ++c)
            eucByte[c] = true;
        for (int c = 0x21; c <= 0x7E; ++c) {
            jisByte[c] = true;
            jisFirstRecovering[c] = c != '(';
        }
        for (int j = 0x20; j <= 0x7E; ++j) {
            shiftJisFirst[j] = jisToShiftJis(j, 0x21).first;
            shiftJisSecond[0][j] = jisToShiftJis(0x22, j).second;
            shiftJisSecond[1][j] = jisToShiftJis(0x21, j).second;
        }
    }
};
constexpr FastTables kFast;

} // namespace

Conversion::Conversion(InputReader& in, LineStore& out, const KanjiConverter::Options& options, bool fastPath)
    : m_in(in), m_out(out), m_options(options), m_fastPath(fastPath)
{
}

// ---- reading -------------------------------------------------------------------------------

int Conversion::readInput()
{
    if (m_inputBackCount > 0)
        return m_inputBack[--m_inputBackCount];
    return m_in.get();
}

void Conversion::ungetInput(int c)
{
    if (c != kEnd && m_inputBackCount < m_inputBack.size())
        m_inputBack[m_inputBackCount++] = c;
}

int Conversion::get()
{
    if (m_backCount > 0)
        return m_back[--m_backCount];
    if (m_mime == MimeMode::None)
        return readInput();
    return decodeMime();
}

// Every caller puts back at most what it has just read, so the stack never holds more than two.
void Conversion::unget(int c)
{
    if (c != kEnd && m_backCount < m_back.size())
        m_back[m_backCount++] = c;
}

// A checked "B" word is read from the queue only: its text ends with the queue, even where its
// closing "?=" fell inside a group of four, so the decoder never takes text after the word.
int Conversion::readMimeRaw()
{
    if (m_mime == MimeMode::B)
        return m_queuePos < m_queueLen ? m_queue[m_queuePos++] : kWordEnd;
    return readInput();
}

int Conversion::decodeMime()
{
    switch (m_mime) {
    case MimeMode::Raw:
        if (m_queuePos < m_queueLen)
            return m_queue[m_queuePos++];
        m_mime = MimeMode::None;
        return readInput();
    case MimeMode::Q:
        return decodeQ();
    case MimeMode::B:
        if (m_decodedPos < m_decodedLen)
            return m_decoded[m_decodedPos++];
        return decodeB();
    case MimeMode::None:
        break;
    }
    return readInput();
}

// Whatever way a word ends, the text after it is read as it stands: ASCII, unshifted, and with
// the Latin-1 flag it had before the word.
void Conversion::endEncodedWord()
{
    m_mime = MimeMode::None;
    m_inputMode = InputMode::Ascii;
    m_shift = ShiftState::Off;
    m_latin1 = m_savedLatin1;
    m_decodedLen = m_decodedPos = 0;
    m_queueLen = m_queuePos = 0;
}

// A "Q" word holds no space or control character; one ends the word, so that a word that is never
// closed does not go on decoding the text after it.
int Conversion::decodeQ()
{
    const int r = readMimeRaw();
    if (r == '_')
        return ' ';
    if (isControlOrSpace(r)) {
        endEncodedWord();
        return r;
    }
    if (r != '=' && r != '?')
        return r;
    const int n = readMimeRaw();
    if (isControlOrSpace(n)) {
        endEncodedWord();
        return n;
    }
    if (r == '?') {
        if (n == '=') {
            endEncodedWord();
            return readInput();
        }
        ungetInput(n);
        return '?';
    }
    const int n2 = readMimeRaw();
    if (isControlOrSpace(n2)) {
        endEncodedWord();
        ungetInput(n2);
    }
    return hexValue(n) << 4 | hexValue(n2);
}

// Spaces after a "B" word go, so that adjacent words join and the word meets the text after it.
int Conversion::endBWord()
{
    endEncodedWord();
    int c;
    do {
        c = readInput();
    } while (c == ' ');
    return c;
}

int Conversion::decodeB()
{
    int c1;
    do {
        c1 = readMimeRaw();
    } while (c1 >= 0 && isControlOrSpace(c1));
    if (c1 == kWordEnd)
        return endBWord();
    if (c1 == kEnd) {
        endEncodedWord();
        return kEnd;
    }
    const int c2 = readMimeRaw();
    if (c2 == kWordEnd)
        return endBWord();
    if (isControlOrSpace(c2)) {
        endEncodedWord();
        return c2;
    }
    if (c1 == '?' && c2 == '=')
        return endBWord();
    const int c3 = readMimeRaw();
    if (c3 == kWordEnd)
        return endBWord();
    if (isControlOrSpace(c3)) {
        endEncodedWord();
        return c3;
    }
    const int c4 = readMimeRaw();
    if (c4 == kWordEnd)
        return endBWord();
    if (isControlOrSpace(c4)) {
        endEncodedWord();
        return c4;
    }
    if (c2 == '=')
        return c1;
    const int v1 = base64Value(c1);
    const int v2 = base64Value(c2);
    const int v3 = base64Value(c3);
    const int v4 = base64Value(c4);
    m_decodedLen = m_decodedPos = 0;
    m_decoded[m_decodedLen++] = static_cast<std::uint8_t>(v1 << 2 | v2 >> 4);
    if (c3 != '=')
        m_decoded[m_decodedLen++] = static_cast<std::uint8_t>((v2 & 0x0F) << 4 | v3 >> 2);
    if (c4 != '=')
        m_decoded[m_decodedLen++] = static_cast<std::uint8_t>((v3 & 0x03) << 6 | v4);
    return m_decoded[m_decodedPos++];
}

// ---- main loop -----------------------------------------------------------------------------

// The fast path covers the common runs without the per-character state checks: plain ASCII in
// ASCII mode, JIS X 0208 pairs in kanji mode, EUC or Shift-JIS pairs once the code is decided, line
// ends and the usual designations ESC $ B, ESC $ @, ESC ( B, ESC ( J, ESC ( H. It does exactly
// what the steps below would do, and leaves every other byte to them.
bool Conversion::fastPathApplies() const
{
    return m_pending == 0 && m_shift == ShiftState::Off && m_mime == MimeMode::None && !m_latin1 &&
           m_inputMode != InputMode::Katakana && m_backCount == 0 && m_inputBackCount == 0;
}

void Conversion::fastRun()
{
    const bool* const eucByte = m_decided && m_decoder == Decoder::Euc ? kFast.eucByte : kFast.never;
    const bool shiftJis = m_decided && m_decoder == Decoder::ShiftJis;
    const bool* const jisFirst = m_options.recoverMissingEscapes ? kFast.jisFirstRecovering : kFast.jisByte;
    bool kanjiMode = m_inputMode == InputMode::Kanji;
    for (;;) {
        const std::uint8_t* p = m_in.peekBegin();
        const std::uint8_t* const inEnd = m_in.peekEnd();
        if (p == inEnd)
            break;
        if (m_out.limit() - m_out.cursor() < 16)
            m_out.makeRoom();
        // No input byte gives more than two output bytes, so up to `end` the store cannot fill.
        std::uint8_t* o = m_out.cursor();
        const std::size_t room = static_cast<std::size_t>(m_out.limit() - o) / 2;
        const std::uint8_t* const end = static_cast<std::size_t>(inEnd - p) < room ? inEnd : p + room;
        bool stopped = false;
        while (p < end) {
            if (kanjiMode) {
                while (p + 1 < end && jisFirst[p[0]] && kFast.jisByte[p[1]]) {
                    o[0] = kFast.shiftJisFirst[p[0]];
                    o[1] = kFast.shiftJisSecond[p[0] & 1][p[1]];
                    o += 2;
                    p += 2;
                }
            } else {
                for (;;) {
                    if (p < end && kFast.copy[*p]) {
                        *o++ = *p++;
                    } else if (p + 1 < end && eucByte[p[0]] && eucByte[p[1]]) {
                        const int j1 = p[0] & 0x7F;
                        o[0] = kFast.shiftJisFirst[j1];
                        o[1] = kFast.shiftJisSecond[j1 & 1][p[1] & 0x7F];
                        o += 2;
                        p += 2;
                    } else {
                        break;
                    }
                }
            }
            if (p == end)
                break;
            const std::uint8_t c = *p;
            if (c == '\n') {
                o[0] = '\r';
                o[1] = '\n';
                o += 2;
                ++p;
                continue;
            }
            if (!kanjiMode && shiftJis && ((c >= 0x81 && c <= 0x9F) || c >= 0xE0) && p + 1 < end && p[1] >= 0x40) {
                const BytePair j = shiftJisToJis(c, p[1]);
                const int j1 = j.first & 0x7F;
                const int j2 = j.second & 0x7F;
                if (j1 >= 0x20 && j1 <= 0x7E && j2 >= 0x20 && j2 <= 0x7E) {
                    o[0] = kFast.shiftJisFirst[j1];
                    o[1] = kFast.shiftJisSecond[j1 & 1][j2];
                    o += 2;
                    p += 2;
                    continue;
                }
            }
            if (c == kEsc && end - p >= 3) {
                if (p[1] == '$' && (p[2] == 'B' || p[2] == '@')) {
                    kanjiMode = true;
                    p += 3;
                    continue;
                }
                if (p[1] == '(' && (p[2] == 'B' || p[2] == 'J' || p[2] == 'H')) {
                    kanjiMode = false;
                    p += 3;
                    continue;
                }
            }
            // A pair or an escape cut by the end of the window is taken up by the next one.
            if (end != inEnd && end - p < 3)
                break;
            stopped = true;
            break;
        }
        m_out.advanceTo(o);
        m_in.consumeTo(p);
        if (stopped)
            break;
    }
    m_inputMode = kanjiMode ? InputMode::Kanji : InputMode::Ascii;
}

void Conversion::run()
{
    for (;;) {
        if (m_fastPath && fastPathApplies())
            fastRun();
        const int c = get();
        if (c == kEnd)
            break;
        if (m_pending != 0)
            secondByte(c);
        else if (c >= 0x80)
            eightBit(c);
        else if (c < 0x21 || c == 0x7F)
            control(c);
        else
            printable(c);
    }
    // A first byte still pending at the end has no partner and is dropped.
    m_pending = 0;
}

// A byte that cannot complete the pending first byte is not lost with it: the stray first byte
// is dropped and the byte is read again on its own (a line break after a cut character stays).
void Conversion::secondByte(int c)
{
    const int p = m_pending;
    m_pending = 0;
    if (p >= 0x80) {
        if (!m_decided && c > 0xA0) {
            hold(p, c);
            return;
        }
        if (c < 0x40) {
            unget(c);
            return;
        }
        if (!m_decided) {
            m_decoder = Decoder::ShiftJis;
            m_decided = true;
        }
        emitPair(p, c);
        return;
    }
    if (c <= 0x20 || c == 0x7F) {
        unget(c);
        return;
    }
    emitPair(p, c);
}

void Conversion::eightBit(int c)
{
    if (m_latin1) {
        emitSingle(c);
        return;
    }
    if (!m_decided) {
        if (c < 0xA0) {
            m_decoder = Decoder::ShiftJis;
            m_decided = true;
        } else if (c <= 0xDF) {
            m_decoder = Decoder::Euc;
            m_decided = true;
        }
        m_pending = c;
        return;
    }
    if (m_decoder == Decoder::ShiftJis && c >= 0xA0 && c <= 0xDF) {
        // Half-width katakana are not taken from Shift-JIS input: such a byte starts an EUC pair.
        m_decoder = Decoder::Euc;
        m_pending = c;
        return;
    }
    if (m_decoder == Decoder::Euc && c == kSs2) {
        const int k = get();
        if (isHalfWidthKatakana(k))
            katakana(k, true);
        else
            unget(k);
        return;
    }
    if (c < 0xA0 && m_decoder == Decoder::Euc)
        m_decoder = Decoder::ShiftJis;
    m_pending = c;
}

void Conversion::control(int c)
{
    if (c == kSi) {
        m_shift = ShiftState::Off;
    } else if (c == kSo) {
        m_shift = ShiftState::ShiftOut;
    } else if (c == kEsc) {
        escape();
    } else {
        emitSingle(c);
    }
}

// An unknown sequence is written as it stands, and the byte that did not fit is read again.
void Conversion::escape()
{
    const int c1 = get();
    if (c1 == '$') {
        const int c2 = get();
        if (c2 == '@' || c2 == 'B') {
            m_inputMode = InputMode::Kanji;
            m_shift = ShiftState::Off;
            return;
        }
        emitSingle(kEsc);
        emitSingle('$');
        unget(c2);
        return;
    }
    if (c1 == '(') {
        const int c2 = get();
        if (c2 == 'B' || c2 == 'J' || c2 == 'H') {
            m_inputMode = InputMode::Ascii;
            m_shift = ShiftState::Off;
            return;
        }
        if (c2 == 'I') {
            m_inputMode = InputMode::Katakana;
            m_shift = ShiftState::EscKatakana;
            return;
        }
        emitSingle(kEsc);
        emitSingle('(');
        unget(c2);
        return;
    }
    emitSingle(kEsc);
    unget(c1);
}

void Conversion::printable(int c)
{
    if (m_shift != ShiftState::Off) {
        const int k = c | 0x80;
        if (isHalfWidthKatakana(k))
            katakana(k, false);
        else
            emitSingle(k);
        return;
    }
    if (m_inputMode == InputMode::Kanji) {
        if (c == '(' && m_options.recoverMissingEscapes && m_mime == MimeMode::None) {
            // "(B", "(J" and "(H" are not JIS X 0208 characters; any other "(" starts one of the
            // row 8 box-drawing characters and pairs with the next byte as usual.
            const int c2 = get();
            if (c2 == 'B' || c2 == 'J' || c2 == 'H') {
                m_inputMode = InputMode::Ascii;
                return;
            }
            if (c2 == kEnd) {
                emitSingle('(');
                return;
            }
            unget(c2);
        }
        m_pending = c;
        return;
    }
    if (c == '=' && m_options.decodeEncodedWords && m_mime == MimeMode::None) {
        const int c2 = get();
        if (c2 == '?') {
            startEncodedWord();
            return;
        }
        emitSingle('=');
        unget(c2);
        return;
    }
    if (c == '$' && m_options.recoverMissingEscapes && m_mime == MimeMode::None) {
        const int c2 = get();
        if (c2 == '@' || c2 == 'B') {
            m_inputMode = InputMode::Kanji;
            return;
        }
        emitSingle('$');
        unget(c2);
        return;
    }
    emitSingle(c);
}

// Two bytes that are EUC and Shift-JIS alike (a first byte 0xE0 or above, a second above 0xA0):
// read on until a byte settles the code, the hold is full or the input ends, then write all that
// was held through the decoder now in force. A byte that means something to the main loop (an
// escape, a shift, the start of an encoded word or of a missing-escape sequence) ends the hold
// unread, so that it keeps its meaning; so does any byte below 0x40 after an 8-bit first byte.
void Conversion::hold(int first, int second)
{
    std::array<BytePair, kHoldPairs> held{};
    std::size_t count = 0;
    held[count++] = {static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second)};
    bool settled = false;
    while (count < held.size() && !settled) {
        const int c = get();
        if (c == kEnd)
            break;
        if (c < 0x80) {
            const bool meaningful = c == kEsc || c == kSo || c == kSi ||
                                    (c == '=' && m_options.decodeEncodedWords && m_mime == MimeMode::None) ||
                                    (c == '$' && m_options.recoverMissingEscapes && m_mime == MimeMode::None);
            if (meaningful) {
                unget(c);
                break;
            }
            held[count++] = {0, static_cast<std::uint8_t>(c)};
            continue;
        }
        if (c < 0xA0) {
            m_decoder = Decoder::ShiftJis;
            settled = true;
        } else if (c <= 0xDF) {
            m_decoder = Decoder::Euc;
            settled = true;
        }
        const int d = get();
        if (d == kEnd)
            break;
        if (d < 0x40) {
            // No second byte: the stray first byte is dropped and the byte is read again after the
            // hold, as anywhere else, so that an escape, a shift, "=" or "$" keeps its meaning.
            unget(d);
            break;
        }
        if (!settled && d <= 0xA0) {
            m_decoder = Decoder::ShiftJis;
            settled = true;
        }
        held[count++] = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d)};
    }
    if (settled)
        m_decided = true;
    for (std::size_t i = 0; i < count; ++i) {
        if (held[i].first == 0)
            emitSingle(held[i].second);
        else
            emitPair(held[i].first, held[i].second);
    }
}

void Conversion::katakana(int k, bool euc)
{
    std::uint16_t code = KatakanaTable::plain(k);
    const std::uint16_t voiced = KatakanaTable::voiced(k);
    const std::uint16_t semiVoiced = KatakanaTable::semiVoiced(k);
    if (voiced != 0 || semiVoiced != 0) {
        const int n = get();
        if (euc) {
            if (n == kSs2) {
                const int mark = get();
                if (mark == 0xDE && voiced != 0) {
                    code = voiced;
                } else if (mark == 0xDF && semiVoiced != 0) {
                    code = semiVoiced;
                } else {
                    unget(mark);
                    unget(n);
                }
            } else {
                unget(n);
            }
        } else if (n == '^' && voiced != 0) {
            code = voiced;
        } else if (n == '_' && semiVoiced != 0) {
            code = semiVoiced;
        } else {
            unget(n);
        }
    }
    writePair(code >> 8, code & 0xFF);
}

void Conversion::startEncodedWord()
{
    std::array<std::uint8_t, kLongestPattern> kept{'=', '?'};
    std::size_t pattern = 0;
    std::size_t i = 2;
    for (; kPatterns[pattern][i] != '\0'; ++i) {
        const int c = get();
        const int upper = toUpper(c);
        if (c == kEnd || upper != kPatterns[pattern][i]) {
            // Move on to a later pattern that agrees with everything read so far.
            std::size_t next = pattern + 1;
            for (; next < kPatternCount && c != kEnd; ++next) {
                bool same = kPatterns[next][i] == upper;
                for (std::size_t k = 2; same && k < i; ++k)
                    same = kPatterns[next][k] == kPatterns[pattern][k];
                if (same)
                    break;
            }
            if (c == kEnd || next == kPatternCount) {
                unget(c);
                for (std::size_t k = 0; k < i; ++k)
                    emitSingle(kept[k]);
                return;
            }
            pattern = next;
        }
        kept[i] = static_cast<std::uint8_t>(c);
    }
    const std::size_t length = i;
    if (kPatterns[pattern][length - 2] == 'Q') {
        m_savedLatin1 = m_latin1;
        m_latin1 = pattern == 0;
        m_mime = MimeMode::Q;
        return;
    }
    // A "B" word is decoded only once it is known to be whole: its closing "?=" must come before
    // any other character, the end of input, or the end of the queue.
    for (std::size_t k = 0; k < length; ++k)
        m_queue[k] = kept[k];
    m_queueLen = length;
    int previous = 0;
    bool whole = false;
    while (m_queueLen < m_queue.size()) {
        const int c = get();
        if (c == kEnd)
            break;
        m_queue[m_queueLen++] = static_cast<std::uint8_t>(c);
        if (c == '=' && previous == '?') {
            whole = true;
            break;
        }
        if (!isBWordCharacter(c))
            break;
        previous = c;
    }
    m_savedLatin1 = m_latin1;
    if (whole) {
        m_mime = MimeMode::B;
        m_queuePos = length;
        m_decodedLen = m_decodedPos = 0;
    } else {
        // Handed back unchanged, and read as ordinary text: the "=?" in it starts nothing.
        m_mime = MimeMode::Raw;
        m_queuePos = 0;
    }
}

// ---- writing -------------------------------------------------------------------------------

void Conversion::emitPair(int a, int b)
{
    if (m_inputMode != InputMode::Kanji && m_decoder == Decoder::ShiftJis) {
        const BytePair j = shiftJisToJis(a, b);
        writePair(j.first, j.second);
        return;
    }
    writePair(a, b);
}

void Conversion::writePair(int j1, int j2)
{
    j1 &= 0x7F;
    j2 &= 0x7F;
    if (j1 < 0x20 || j1 > 0x7E || j2 < 0x20 || j2 > 0x7E) {
        // Not a JIS X 0208 code: dropped, and the next 8-bit byte starts detection again.
        m_decided = false;
        return;
    }
    const BytePair s = jisToShiftJis(j1, j2);
    m_out.putPair(s.first, s.second);
}

} // namespace orvalink::kanji
