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

// Code page 932 path text -> UTF-8 bytes for the file system, and back.
std::string toFileName(std::string_view cp932);
std::string fromFileName(std::string_view utf8);

} // namespace orvalink::platform
