#pragma once

// The state and the single forward pass of one conversion. Characters come from the input (or
// from the encoded-word decoder), are classified with one pending byte of look-back, and leave
// through the Shift-JIS writer into the line store.

#include "kanji/InputReader.h"
#include "kanji/KanjiConverter.h"
#include "kanji/LineStore.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvalink::kanji {

class Conversion {
public:
    // Without the fast path every byte takes the general steps; the output is the same (the
    // fuzz target checks that).
    Conversion(InputReader& in, LineStore& out, const KanjiConverter::Options& options, bool fastPath = true);

    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    void run();

private:
    static constexpr int kEnd = InputReader::kEnd;
    // The raw text of a checked "B" word is used up.
    static constexpr int kWordEnd = -2;
    static constexpr std::size_t kQueueSize = 1024;
    static constexpr std::size_t kHoldPairs = 32;

    enum class InputMode { Ascii, Kanji, Katakana };
    enum class ShiftState { Off, ShiftOut, EscKatakana };
    enum class Decoder { ShiftJis, Euc };
    enum class MimeMode { None, B, Q, Raw };

    // Reading, in layers: put-back characters of the main loop, then the encoded-word decoder or
    // the input. The decoder reads its raw characters from the queue or from the input.
    int get();
    void unget(int c);
    int readInput();
    void ungetInput(int c);
    int readMimeRaw();
    int decodeMime();
    int decodeQ();
    int decodeB();
    int endBWord();
    void endEncodedWord();

    bool fastPathApplies() const;
    void fastRun();

    void secondByte(int c);
    void eightBit(int c);
    void control(int c);
    void escape();
    void printable(int c);
    void hold(int first, int second);
    void katakana(int k, bool euc);
    void startEncodedWord();

    void emitSingle(int c) { m_out.put(static_cast<std::uint8_t>(c)); }
    void emitPair(int a, int b);
    void writePair(int j1, int j2);

    InputReader& m_in;
    LineStore& m_out;
    const KanjiConverter::Options m_options;
    const bool m_fastPath;

    InputMode m_inputMode = InputMode::Ascii;
    ShiftState m_shift = ShiftState::Off;
    Decoder m_decoder = Decoder::Euc;
    bool m_decided = false;
    int m_pending = 0;
    MimeMode m_mime = MimeMode::None;
    bool m_latin1 = false;
    bool m_savedLatin1 = false;

    // At most three characters are ever put back at once (the katakana look-ahead puts back two).
    std::array<int, 4> m_back{};
    std::size_t m_backCount = 0;
    std::array<int, 2> m_inputBack{};
    std::size_t m_inputBackCount = 0;

    // The encoded-word queue: the raw text of a checked "B" word (or the kept text of a broken
    // one), and the read position within it. Decoded bytes wait in m_decoded.
    std::array<std::uint8_t, kQueueSize> m_queue;
    std::size_t m_queueLen = 0;
    std::size_t m_queuePos = 0;
    std::array<std::uint8_t, 3> m_decoded{};
    std::size_t m_decodedLen = 0;
    std::size_t m_decodedPos = 0;
};

} // namespace orvalink::kanji
