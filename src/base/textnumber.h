#pragma once

#include <QString>

// Numbers as the program reads them from text and writes them as text.

// The leading decimal number of a text: blanks (space, tab, CR, LF) are skipped
// wherever they occur, a sign, digits, one "." and an exponent ("e" or "E" with
// optional sign and digits) are taken, and reading stops at the first other
// character. A text that does not begin with a number gives 0.
// "12abc" -> 12, " 1 2" -> 12, ".5" -> 0.5, "1e3" -> 1000, "-" -> 0, "abc" -> 0.
double leadingNumber(const QString &text);

// True when the whole text, blanks around it aside, is one decimal number:
// optional sign, digits with at most one ".", at least one digit, optional
// exponent. "12", " 7 ", "-1.5", "1e3" are numeric; "", "12a", "." are not.
bool isNumeric(const QString &text);

// Fixed-point text with exactly `decimals` decimals and at least one digit
// before the point ("#0", "#0.0", "#0.00" ...). Rounds half away from zero on
// the shortest decimal form of the value, so 2.675 gives "2.68" at two
// decimals. A negative value that rounds to zero is written without a minus
// sign. Non-finite values give an empty text.
QString formatFixed(double value, int decimals);

// Nearest whole number, a half going to the even one (2.5 -> 2, 3.5 -> 4),
// clamped to the range of int.
int roundHalfEven(double value);
