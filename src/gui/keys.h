#pragma once

#include <QChar>

class QKeyEvent;

// The character a key press types, as the key rules judge it: Enter gives
// CR (13), Backspace 8, a printable key its character; keys that type none
// (arrows, Delete, Tab, Escape) and shortcuts give a null character.
QChar typedCharacter(const QKeyEvent *key);
