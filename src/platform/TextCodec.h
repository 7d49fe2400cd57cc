#pragma once

// Where the program's code page 932 text meets Qt (widgets) and the file system (UTF-8 names).
// Conversion goes through glibc iconv ("CP932") so that the mapping is the same everywhere in the
// program; a character that code page 932 cannot hold becomes "?".

#include <QString>
#include <string>
#include <string_view>

namespace orvalink::platform {

QString toQString(std::string_view cp932);
std::string fromQString(const QString& text);

// The program's own texts (UTF-8 literals in its source) for widgets, in one of two ways:
// uiText takes the text as written: labels, titles and buttons that only Qt shows.
QString uiText(std::string_view utf8);
// uiTextThroughCp932 takes it as code page 932 holds it (utf8ToCp932, then toQString): for texts
// that stand beside stored or received code page 932 text and are read back as such bytes, so a
// character code page 932 cannot hold shows as "?" there too.
QString uiTextThroughCp932(std::string_view utf8);

// Code page 932 path text -> UTF-8 bytes for the file system, and back.
std::string toFileName(std::string_view cp932);
std::string fromFileName(std::string_view utf8);

} // namespace orvalink::platform
