#pragma once

#include <QChar>
#include <QString>

#include <optional>

// The rules for characters typed into the epoch and grid boxes. Each looks at
// the box's whole text as if the character were appended at its end, wherever
// the caret is. Backspace is the character 8.

// Date box (yyyy-mm-dd): the year's four digits, "-", the month (tens digit 0
// or 1, then 1-9 after 0 and 0-2 after 1), "-", the day (tens digit 0-3, then
// 1-9 after 0 and 0-1 after 3).
bool dateKeyAccepted(const QString &text, QChar c);

// True when typing the text character by character into an empty date box
// would have let every character through: what a pasted date must pass.
bool isTypeableDate(const QString &text);

// A point name as every import matches it (a workbook's rows, a level's
// point ids, a second point of one name): without case, without the zeros
// that pad it on the left ("0000A12" is "A12") or that lead a number in it
// ("J06" is "J6").
QString pointNameKey(const QString &name);

// A date as people write it, in the box's form: "2025/03/10", "2025.3.10"
// and "20250310" are "2025-03-10"; a text already in that form is itself;
// anything else is none.
std::optional<QString> normalisedDate(const QString &text);

// Epoch-name box: everything but a blank.
bool epochNameKeyAccepted(QChar c);

// Load-floor box: digits and Backspace only.
bool loadFloorKeyAccepted(QChar c);

// Elevation box: digits, Backspace, and one "." (a minus sign cannot be typed).
bool elevationKeyAccepted(const QString &text, QChar c);

// True when the text is what the elevation box lets a user type: digits with
// at most one "." and at least one digit. Pasted text must pass it too.
bool isTypeableElevation(const QString &text);

// Point-name box, for a box that already holds text: the blank and the
// punctuation !"#$%&'()*+, and :;<=>?@ are refused (nothing); a lowercase
// letter becomes its capital; everything else, Chinese included, is taken.
std::optional<QChar> pointNameKey(QChar c);

// The longest point name (the sheets' and the drawing's layers hold it).
constexpr int maxPointNameLength = 40;

// True when no character of the name is one the name box refuses (nor a
// control character such as a pasted tab), and it has at most
// maxPointNameLength.
bool isAcceptablePointName(const QString &name);
