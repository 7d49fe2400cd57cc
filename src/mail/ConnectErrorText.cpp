#include "mail/ConnectErrorText.h"

#include "platform/AsyncSocket.h"
#include "platform/text/Cp932.h"

#include <string_view>

namespace orvalink::mail {

std::string connectErrorText(int wsaError)
{
    struct Entry {
        int error;
        const char* words;
    };
    // What a user can act on: whether the server said no, did not answer, cannot be reached or has
    // no address, before the socket layer's rarer complaints.
    static constexpr Entry kTable[] = {
        {platform::WSAECONNREFUSED, "接続が拒否されました"},
        {platform::WSAETIMEDOUT, "時間切れです。サーバーが応答しません"},
        {platform::WSAEHOSTUNREACH, "ホストに到達できません"},
        {platform::WSAEHOSTDOWN, "ホストが停止しています"},
        {platform::WSAENETUNREACH, "ネットワークに到達できません"},
        {platform::WSAENETDOWN, "ネットワークが使えません"},
        {platform::WSAHOST_NOT_FOUND, "サーバー名が見つかりません"},
        {platform::WSANO_DATA, "サーバー名が見つかりません"},
        {platform::WSATRY_AGAIN, "サーバー名を調べられません"},
        {platform::WSANO_RECOVERY, "サーバー名を調べられません"},
        {platform::WSAECONNRESET, "接続がリセットされました"},
        {platform::WSAECONNABORTED, "接続が中断されました"},
        {platform::WSAENETRESET, "接続がリセットされました"},
        {platform::WSAEACCES, "接続が許可されていません"},
        {platform::WSAEADDRINUSE, "指定したアドレスは使用中です"},
        {platform::WSAEADDRNOTAVAIL, "指定したアドレスはローカル マシンからは利用できません"},
        {platform::WSAEAFNOSUPPORT, "指定したファミリのアドレスは、このソケットでは使えません"},
        {platform::WSAEDESTADDRREQ, "宛先アドレスが必要です"},
        {platform::WSAEFAULT, "アドレスの指定が不正です"},
        {platform::WSAEINVAL, "ソケットは既にアドレスにバインドされています"},
        {platform::WSAEISCONN, "ソケットは既に接続されています"},
        {platform::WSAEMFILE, "利用できるファイル ディスクリプタがありません"},
        {platform::WSAENOBUFS, "利用できるバッファ領域がありません"},
        {platform::WSAENOTCONN, "ソケットは接続されていません"},
        {platform::WSAENOTSOCK, "ディスクリプタがソケットではありません"},
    };
    std::string_view words = "予期しないエラーです";
    for (const Entry& e : kTable)
        if (e.error == wsaError) {
            words = e.words;
            break;
        }
    return platform::utf8ToCp932("接続できませんでした。" + std::string(words) + " (エラー " +
                                 std::to_string(wsaError) + ")");
}

std::string invalidHostText()
{
    return platform::utf8ToCp932("ホスト アドレスが無効です。");
}

} // namespace orvalink::mail
