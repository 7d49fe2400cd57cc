#include "mail/ConnectErrorText.h"

#include "platform/AsyncSocket.h"
#include "platform/text/Cp932.h"

#include <cstdio>

namespace orvalink::mail {

std::string connectErrorText(int wsaError)
{
    struct Entry {
        int error;
        const char* text;
    };
    static constexpr Entry kTable[] = {
        {platform::WSAEADDRINUSE, "指定したアドレスは使用中です。"},
        {platform::WSAEADDRNOTAVAIL, "指定したアドレスはローカル マシンからは利用できません。"},
        {platform::WSAEAFNOSUPPORT, "指定したファミリのアドレスは、このソケットでは使えません。"},
        {platform::WSAECONNREFUSED, "接続を試みましたが、強制的にリジェクトされました。"},
        {platform::WSAEDESTADDRREQ, "宛先アドレスが必要です。"},
        {platform::WSAEFAULT, "引数 lpSockAddrLen が不正です。"},
        {platform::WSAEINVAL, "ソケットは既にアドレスにバインドされています。"},
        {platform::WSAEISCONN, "ソケットは既に接続されています。"},
        {platform::WSAEMFILE, "利用できるファイル ディスクリプタがありません。"},
        {platform::WSAENETUNREACH, "現時点では、このホストからネットワークに到達できません。"},
        {platform::WSAENOBUFS, "利用できるバッファ領域がありません。ソケットが接続できません。"},
        {platform::WSAENOTCONN, "ソケットは接続されていません。"},
        {platform::WSAENOTSOCK, "ディスクリプタがソケットではありません。"},
        {platform::WSAETIMEDOUT, "接続を試みましたが、タイムアウトしました。接続は確立していません。"},
    };
    for (const Entry& e : kTable)
        if (e.error == wsaError)
            return platform::utf8ToCp932(e.text);
    char number[32];
    std::snprintf(number, sizeof number, "%d", wsaError);
    return platform::utf8ToCp932("接続できませんでした。(エラー ") + number + ")";
}

std::string invalidHostText()
{
    return platform::utf8ToCp932("ホスト アドレスが無効です。");
}

} // namespace orvalink::mail
