#include "chat/CSendChatView.h"

CSendChatView::CSendChatView(QWidget* parent) : platform::LimitedTextEdit(kMaxCharacters, parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

bool CSendChatView::isBlank() const
{
    return toPlainText().trimmed().isEmpty();
}
