#include "chat/SendErrorText.h"

#include "platform/AsyncSocket.h"
#include "platform/text/Cp932.h"

namespace orvalink::chat {

namespace {

struct Reason {
    int error;
    const char* text;
};

constexpr Reason kReasons[] = {
    {platform::WSAENETUNREACH, "ネットワークに到達できません"},
    {platform::WSAEHOSTUNREACH, "相手のコンピュータに到達できません"},
    {platform::WSAENETDOWN, "ネットワークが停止しています"},
    {platform::WSAEACCES, "送信が許可されていません"},
    {platform::WSAENOBUFS, "送信に使えるメモリが足りません"},
    {platform::WSAEMSGSIZE, "メッセージが大きすぎます"},
    {platform::WSAENOTSOCK, "グループのソケットが開いていません"},
    {platform::WSAEDESTADDRREQ, "送信先のアドレスが正しくありません"},
};

} // namespace

std::string sendErrorText(int wsaError)
{
    for (const Reason& r : kReasons)
        if (r.error == wsaError)
            return platform::utf8ToCp932(r.text);
    return platform::utf8ToCp932("送信できないエラーです(エラー番号 ") + std::to_string(wsaError) + ")";
}

std::string messageNotSentText(int wsaError)
{
    return platform::utf8ToCp932("送信できませんでした: ") + sendErrorText(wsaError);
}

std::string announceFailedText(std::string_view groupName, int wsaError)
{
    return std::string(groupName) + platform::utf8ToCp932(": 参加の通知を送信できませんでした: ") +
           sendErrorText(wsaError);
}

std::string announceFailedTip(int wsaError)
{
    return platform::utf8ToCp932("送信できません(") + sendErrorText(wsaError) + ") ";
}

} // namespace orvalink::chat
