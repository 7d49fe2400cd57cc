#include "platform/TextCodec.h"

#include "platform/text/Cp932.h"

namespace orvalink::platform {

QString toQString(std::string_view cp932)
{
    const std::string utf8 = platform::cp932ToUtf8(cp932);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string fromQString(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return platform::utf8ToCp932(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

QString uiText(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString uiTextThroughCp932(std::string_view utf8)
{
    return toQString(platform::utf8ToCp932(utf8));
}

std::string toFileName(std::string_view cp932)
{
    return platform::cp932ToUtf8(cp932);
}

std::string fromFileName(std::string_view utf8)
{
    return platform::utf8ToCp932(utf8);
}

} // namespace orvalink::platform
