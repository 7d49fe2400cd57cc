#include "mail/CSendView.h"

namespace orvalink::mail {

CSendView::CSendView(QWidget* parent) : platform::LimitedTextEdit(kMaxCharacters, parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
}

} // namespace orvalink::mail
