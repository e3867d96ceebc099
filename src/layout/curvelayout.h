#pragma once

// layout/: the layout files of the frame templates. Uses base/.

#include <QByteArray>
#include <QString>

// The three curve kinds, and the layout a frame template gives each of them.
enum class CurveKind { Settlement, Rate, Load };

// The layout-file section of a curve kind: "沉降曲线", "速率曲线", "荷载曲线".
QString layoutSection(CurveKind kind);

// One curve sheet of a frame template, in drawing units of its frames.
struct CurveLayout
{
    double SheetWidth = 0, SheetHeight = 0;  // 图幅大小
    double BaseOffsetX = 0, BaseOffsetY = 0; // 基点位置: insertion point to sheet origin
    double TimeRange = 0, TimeLength = 0;    // 时间轴: days, length
    double CurveRange = 0, CurveLength = 0;  // 曲线轴: mm, mm/d or floors, length
    double AuxRange = 0, AuxLength = 0;      // 辅助轴: floors (0: none), length
    double LegendX = 0, LegendY = 0;         // 图例位置: from the sheet origin

    bool operator==(const CurveLayout &) const = default;
};

// Reads the section `section` of a layout file's bytes. The text is UTF-8
// (a BOM is dropped) when it is valid UTF-8, and GBK otherwise, so that files
// written on Windows and on Linux both read. Lines end at CR LF, CR or LF and
// are trimmed of blanks (U+0020 only). "[name]" starts a section; in the
// wanted one, "key = first , second" sets the two numbers of a known key,
// later lines winning. Lines without "=", values without "," and unknown keys
// are skipped. Numbers are leading decimal numbers (exponent allowed; none
// reads 0). A missing key leaves its fields at 0.
CurveLayout parseCurveLayout(const QByteArray &content, const QString &section);

// Reads the layout of `kind` from the file at `path`: all zeros when the path
// is empty or the file cannot be read.
CurveLayout LoadCurveLayout(const QString &path, CurveKind kind);
