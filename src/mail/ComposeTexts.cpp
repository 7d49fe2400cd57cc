#include "mail/ComposeTexts.h"

#include "platform/text/Cp932.h"

namespace compose {

std::string captionText()
{
    return text::utf8ToCp932("メッセージ");
}

std::string tooManyWindowsText()
{
    return text::utf8ToCp932("これ以上メールウィンドウを開けません");
}

std::string saveQuestionText()
{
    return text::utf8ToCp932("保存しますか？");
}

} // namespace compose
