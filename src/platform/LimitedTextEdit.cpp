#include "platform/LimitedTextEdit.h"

#include "platform/TextCodec.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <algorithm>

namespace orvalink::platform {

LimitedTextEdit::LimitedTextEdit(int maxCharacters, QWidget* parent) : QPlainTextEdit(parent), m_max(maxCharacters) {}

std::string LimitedTextEdit::text() const
{
    const std::string lf = fromQString(toPlainText());
    std::string out;
    out.reserve(lf.size() + lf.size() / 16);
    for (char c : lf) {
        if (c == '\n')
            out += "\r\n";
        else
            out += c;
    }
    return out;
}

void LimitedTextEdit::setText(std::string_view cp932)
{
    std::string lf;
    lf.reserve(cp932.size());
    for (std::size_t i = 0; i < cp932.size(); ++i) {
        if (cp932[i] == '\r' && i + 1 < cp932.size() && cp932[i + 1] == '\n')
            continue;
        lf += cp932[i];
    }
    setPlainText(toQString(lf));
}

int LimitedTextEdit::characterCount() const
{
    return document()->characterCount() - 1;
}

int LimitedTextEdit::room() const
{
    const QTextCursor c = textCursor();
    return m_max - characterCount() + static_cast<int>(c.selectionEnd() - c.selectionStart());
}

void LimitedTextEdit::keyPressEvent(QKeyEvent* event)
{
    if (!isReadOnly()) {
        const bool lineBreak = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
                               (event->key() == Qt::Key_Tab && event->modifiers() == Qt::NoModifier);
        const bool printable = !event->text().isEmpty() && event->text().at(0).isPrint() &&
                               !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        const int adds = lineBreak ? 1 : (printable ? static_cast<int>(event->text().size()) : 0);
        if (adds > 0 && adds > room()) {
            QApplication::beep();
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

void LimitedTextEdit::insertFromMimeData(const QMimeData* source)
{
    if (!source || !source->hasText())
        return;
    QString t = source->text();
    const int r = room();
    const auto offered = t.size();
    if (t.size() > r) {
        QApplication::beep();
        t.truncate(std::max(r, 0));
        if (!t.isEmpty() && t.back().isHighSurrogate())
            t.chop(1);
    }
    if (!t.isEmpty())
        textCursor().insertText(t);
    if (t.size() < offered)
        emit textCut(static_cast<int>(t.size()), static_cast<int>(offered - t.size()));
}

void LimitedTextEdit::inputMethodEvent(QInputMethodEvent* event)
{
    const int r = room();
    if (!isReadOnly() && event->commitString().size() > r) {
        QApplication::beep();
        QString cut = event->commitString().left(std::max(r, 0));
        if (!cut.isEmpty() && cut.back().isHighSurrogate())
            cut.chop(1);
        QInputMethodEvent trimmed(event->preeditString(), event->attributes());
        trimmed.setCommitString(cut, event->replacementStart(), event->replacementLength());
        QPlainTextEdit::inputMethodEvent(&trimmed);
        emit textCut(static_cast<int>(cut.size()), static_cast<int>(event->commitString().size() - cut.size()));
        return;
    }
    QPlainTextEdit::inputMethodEvent(event);
}

} // namespace orvalink::platform
