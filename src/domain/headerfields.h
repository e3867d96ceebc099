#pragma once

// The building's header fields as people type them, read one way wherever
// they are read: the plan settings dialog, `header`, the readers of the
// limits (建筑高度 chooses the tilt limit, 结构形式 and 地基土 the
// differential one).

#include <QString>

#include <optional>

// 建筑高度 in metres: "30", "30米", "24m", "24 m", "２４ｍ"; none for
// anything else or a height of 0 or less.
std::optional<double> buildingHeightOf(const QString &text);

// 地基土 as the limits table's classes name it: "中、低压缩性土" for
// 中压缩性土, 低压缩性土, 中等压缩性土, 中、低压缩性, 中低压缩性土 …;
// "高压缩性土" for 高压缩性土, 高压缩性 …; empty when the words name
// neither class, or both (中高压缩性土).
QString soilClassOf(const QString &text);
inline const QString LowSoil = QStringLiteral("中、低压缩性土");
inline const QString HighSoil = QStringLiteral("高压缩性土");

// 结构形式 with its short names written out, so that the limits table's
// rows find it: "框剪结构" → "框架剪力墙结构", "砖混结构" → "砌体承重结构（砖混）".
// Anything else as typed (trimmed).
QString structureOf(const QString &text);
