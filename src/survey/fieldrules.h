#pragma once

// What each field a surveyor enters may hold, one rule a field, shared by
// the window and the script commands; a refusal names the field and its
// range. Names are compared as they are read: NFKC, blanks trimmed.

#include "base/result.h"

#include <QString>

#include <map>

// Characters no name may hold: control characters, and those that show as
// nothing (zero-width spaces and joiners, direction marks, the byte-order
// mark), by which two names that look alike would differ.
bool hasInvisibleCharacters(const QString &text);

// A name as it is compared and stored: NFKC (full-width letters and digits
// as plain ones), blanks at either end trimmed.
QString normalisedName(const QString &text);

// An epoch's name: normalised; not empty; no blank inside; no invisible
// character; at most maxEpochNameLength characters.
constexpr int maxEpochNameLength = 40;
Result<QString> epochNameRule(const QString &text);

// The load floors built by an epoch: a whole number of 0 to maxLoadFloors
// (the window's box takes three digits).
constexpr int maxLoadFloors = 999;
Result<int> loadFloorsRule(const QString &text);

// A point's name: normalised, in capitals, the characters the name box
// takes (isAcceptablePointName), at most maxPointNameLength of them.
Result<QString> pointNameRule(const QString &text);

// A header field's value as stored (an empty value clears the field): a
// number within the field's range where the field holds a number, and no
// control character in any; the sentence names the field and its range.
Result<void> headerFieldRule(const QString &key, const QString &value);
Result<void> headerFieldsRule(const std::map<QString, QString> &fields);
