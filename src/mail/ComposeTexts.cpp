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

std::string saveFailureText(orvalink::folders::StoreResult result)
{
    using orvalink::folders::StoreResult;
    switch (result) {
    case StoreResult::Stored:
        return {};
    case StoreResult::NoMailDirectory:
        return text::utf8ToCp932("メールの保存フォルダが設定されていないため保存できません");
    case StoreResult::CannotOpen:
        return text::utf8ToCp932("保存したメールのファイルを開けないため保存できません");
    case StoreResult::WriteFailed:
        return text::utf8ToCp932("保存したメールのファイルに書き込めないため保存できません");
    }
    return text::utf8ToCp932("メールを保存できません");
}

} // namespace compose
