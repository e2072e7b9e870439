// SPDX-License-Identifier: MIT
#include "plaintextbox.h"

#include <QMimeData>
#include <QTextDocumentFragment>

namespace {

QString plainText(const QMimeData *source)
{
    if (source->hasText())
        return source->text();
    if (!source->hasHtml())
        return QString();
    // Images and other objects in the HTML leave a placeholder character each.
    return QTextDocumentFragment::fromHtml(source->html())
        .toPlainText()
        .remove(QChar::ObjectReplacementCharacter);
}

} // namespace

bool PlainTextBox::canInsertFromMimeData(const QMimeData *source) const
{
    return source->hasText() || source->hasHtml();
}

void PlainTextBox::insertFromMimeData(const QMimeData *source)
{
    textCursor().insertText(plainText(source));
    ensureCursorVisible();
}

void PlainTextBox::focusOutEvent(QFocusEvent *event)
{
    QTextEdit::focusOutEvent(event);
    QTextCursor start = textCursor();
    start.movePosition(QTextCursor::Start);
    setTextCursor(start);
}
