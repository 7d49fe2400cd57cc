#pragma once

// Conversion of one received mail message to Shift-JIS (code page 932) with CR LF line ends.
//
// The input may mix 7-bit JIS (ISO-2022-JP escapes, SO/SI katakana), EUC-JP and Shift-JIS; header
// encoded words of the forms "=?ISO-2022-JP?B?", "=?ISO-2022-JP?Q?" and "=?ISO-8859-1?Q?" are
// decoded where they stand. The input is read as text: a CR LF pair counts as one LF, and every LF
// is written as CR LF. All state is per conversion; nothing carries over between calls.

#include <string>
#include <string_view>
#include <vector>

namespace orvalink::kanji {

class KanjiConverter {
public:
    struct Options {
        // "$B", "$@" without the leading ESC switch to kanji, and "(B", "(J", "(H" back to ASCII.
        bool recoverMissingEscapes = true;
        // Decode the three encoded-word forms above.
        bool decodeEncodedWords = true;
    };

    KanjiConverter() = default;
    explicit KanjiConverter(Options options) : m_options(options) {}

    // Bytes in, bytes out; the same result as convertFile on a file holding `input`.
    std::string convert(std::string_view input) const;

    // Returns 0 when done; -1 when the input cannot be opened (no output file is made), the output
    // cannot be created, or reading or writing fails (the incomplete output file is removed).
    int convertFile(const std::string& inputPath, const std::string& outputPath) const;

private:
    Options m_options;
};

// Command-line style entry point: args[0] is skipped, then option words, then the input path and
// the output path (the last two words). Options: "-B" missing-escape recovery, "-m" encoded-word
// decoding, "-s" Shift-JIS output (the only output code). Other option words are ignored. Returns
// 0 when done and -1 on failure, as KanjiConverter::convertFile.
int convertFile(const std::vector<std::string>& args);

} // namespace orvalink::kanji
