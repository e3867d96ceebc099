#include "gui/inputrules.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

namespace {

class DigitsOnlyFilter : public QObject
{
public:
    DigitsOnlyFilter(QLineEdit *box, bool decimalPoint)
        : QObject(box)
        , m_box(box)
        , m_decimalPoint(decimalPoint)
    {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            return true;
        const QString text = key->text();
        if (text.size() != 1)
            return false;
        const char16_t c = text.front().unicode();
        if (c == 8 || (c >= u'0' && c <= u'9'))
            return false;
        if (c == u'.' && m_decimalPoint) {
            // One point in the box: the one typed replaces a selected one.
            QString rest = m_box->text();
            if (m_box->hasSelectedText())
                rest.remove(m_box->selectionStart(), m_box->selectedText().size());
            return rest.contains(QLatin1Char('.'));
        }
        // Other control characters (Delete, Escape, Tab) are editing keys,
        // not characters typed into the box.
        return c >= 32 && c != 127;
    }

private:
    QLineEdit *m_box;
    bool m_decimalPoint;
};

class SelectAllFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn) {
            // After the event: a mouse click that gave the focus would
            // otherwise put the cursor back and clear the selection.
            QPointer<QLineEdit> box = qobject_cast<QLineEdit *>(watched);
            box->selectAll();
            QTimer::singleShot(0, box, [box] {
                if (box && box->hasFocus())
                    box->selectAll();
            });
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void applyDigitsOnly(QLineEdit *box)
{
    box->installEventFilter(new DigitsOnlyFilter(box, false));
    box->setAttribute(Qt::WA_InputMethodEnabled, false);
}

void applyDecimalDigits(QLineEdit *box)
{
    box->installEventFilter(new DigitsOnlyFilter(box, true));
    box->setAttribute(Qt::WA_InputMethodEnabled, false);
}

void applySelectAllOnFocus(QLineEdit *box)
{
    box->installEventFilter(new SelectAllFilter(box));
}
