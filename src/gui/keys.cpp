#include "gui/keys.h"

#include <QLineEdit>

#include <QKeyEvent>

QChar typedCharacter(const QKeyEvent *key)
{
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return QChar();
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        return QChar(13);
    if (key->text().size() != 1)
        return QChar();
    const QChar c = key->text().front();
    return (c.unicode() < 32 && c.unicode() != 8) ? QChar() : c;
}

QString textBeforeTyping(const QLineEdit *box)
{
    QString text = box->text();
    if (box->hasSelectedText())
        text.remove(box->selectionStart(), box->selectedText().size());
    return text;
}
