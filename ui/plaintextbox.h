// SPDX-License-Identifier: MIT
#pragma once

#include <QTextEdit>

// The identifier, Min and Max boxes: a text edit that holds plain text only. Whatever is pasted
// or dropped arrives as its text, even from a source that offers only HTML; and once the box
// loses focus it shows the start of its text, where a number's sign is.
class PlainTextBox : public QTextEdit
{
    Q_OBJECT

public:
    using QTextEdit::QTextEdit;

protected:
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
    void focusOutEvent(QFocusEvent *event) override;
};
