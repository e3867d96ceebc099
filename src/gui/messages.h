#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;
class Session;

// The one way the program talks to the user in a message box: an OK button,
// the exclamation icon unless another is given, the title "Sedimetra" unless
// another is given. The main window is topmost at the right edge of the
// screen, so it is moved aside (left edge at screen width - 300 twips) while
// the box is up and back (screen width - window width - 300 twips) after it;
// its top and size are kept. `window` may be null before the window exists.
void showMessage(QWidget *window, const QString &text,
                 const QString &title = QStringLiteral("Sedimetra"),
                 QMessageBox::Icon icon = QMessageBox::Warning);

// A question with 是 and 否, the window moved aside as for a message; true
// for 是. Enter gives the preset answer (否 unless another is given), Esc 否.
enum class Answer { Yes, No };
bool askYesNo(QWidget *window, const QString &text,
              const QString &title = QStringLiteral("Sedimetra"), Answer preset = Answer::No);
// A question with two or three answers named by `choices` (the Yes, No and
// Cancel buttons of the box, so named), `preset` the one Enter gives; Esc
// gives the last. Returns the index of the answer.
int askChoice(QWidget *window, const QString &text, const QStringList &choices, int preset,
              const QString &title = QStringLiteral("Sedimetra"));

// The main window moved aside (its left edge 300 twips from the screen's
// right edge) while a point is picked, and back to where it stood (the
// place moveAside returned) after it; its top and size are kept.
QPoint moveAside(QWidget *window);
void moveBack(QWidget *window, QPoint place);

// Tells the user that a change could not be written to the project.
void reportWriteFailure(QWidget *window, const QString &projectPath, const QString &reason);

// Stores a setting at once; a failed write is told to the user with the key,
// the reason and the system database. True when it was stored.
bool storeSettingOrTell(QWidget *window, Session &session, const QString &key,
                        const QString &value);

// Outer size of a top-level window, frame included once the window system
// has made the window (before, it has no frame yet).
QSize outerSize(const QWidget *window);

// Geometry of the screen the window is on (the primary screen without one).
QRect screenRect(const QWidget *window);
