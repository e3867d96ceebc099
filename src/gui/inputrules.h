#pragma once

class QLineEdit;

// Digits-only rule: a typed character enters the box only when it is a digit
// or Backspace; every other character, Enter, "-" and "." included, is
// discarded. Editing keys and shortcuts (arrows, Delete, Ctrl+V) still work,
// and pasted text is not filtered. The input method is switched off so that
// no composed text gets past the rule.
void applyDigitsOnly(QLineEdit *box);
// The same rule with one decimal point allowed in the box, for a range such
// as 0.2 mm/d.
void applyDecimalDigits(QLineEdit *box);

// Select-all-on-focus rule: when the box gets the focus, by keyboard or mouse,
// its whole text is selected.
void applySelectAllOnFocus(QLineEdit *box);
