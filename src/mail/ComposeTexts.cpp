#include "mail/ComposeTexts.h"

#include "platform/text/Cp932.h"

namespace orvalink::mail {

std::string captionText()
{
    return platform::utf8ToCp932("メッセージ");
}

std::string tooManyWindowsText()
{
    return platform::utf8ToCp932("これ以上メールウィンドウを開けません");
}

std::string saveQuestionText()
{
    return platform::utf8ToCp932("保存しますか？");
}

} // namespace orvalink::mail
