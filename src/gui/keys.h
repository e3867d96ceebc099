#pragma once

#include <QChar>

#include <QString>

class QKeyEvent;
class QLineEdit;

// The character a key press types, as the key rules judge it: Enter gives
// CR (13), Backspace 8, a printable key its character; keys that type none
// (arrows, Delete, Tab, Escape) and shortcuts give a null character.
QChar typedCharacter(const QKeyEvent *key);

// The box's text as it will be when a typed character replaces the
// selection: what the key rules judge the character against.
QString textBeforeTyping(const QLineEdit *box);
