#include "mail/CSendView.h"

CSendView::CSendView(QWidget* parent) : platform::LimitedTextEdit(kMaxCharacters, parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
}
