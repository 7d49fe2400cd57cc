#include "chat/CSendChatView.h"

namespace orvalink::chat {

CSendChatView::CSendChatView(QWidget* parent) : platform::LimitedTextEdit(kMaxCharacters, parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

bool CSendChatView::isBlank() const
{
    return toPlainText().trimmed().isEmpty();
}

} // namespace orvalink::chat
