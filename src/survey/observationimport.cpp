#include "survey/observationimport.h"

#include "project/projectdb.h"
#include "xlsx/workbook.h"
#include "survey/settlement.h"
#include "base/textnumber.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <freexl.h>

#include <charconv>
#include <cmath>
#include <unordered_map>

namespace {

// A number read from a cell, as text: whole numbers without decimals.
QString numberText(double value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return QString::fromLatin1(text, int(result.ptr - text));
}

ImportSource readXls(const QString &path, std::vector<ImportRow> *rows, QString *error)
{
    const void *handle = nullptr;
    if (freexl_open(QFile::encodeName(path).constData(), &handle) != FREEXL_OK) {
        if (handle)
            freexl_close(handle);
        *error = QStringLiteral("无法读取工作簿 %1").arg(QDir::toNativeSeparators(path));
        return ImportSource::NotFound;
    }
    struct Closer
    {
        const void *h;
        ~Closer() { freexl_close(h); }
    } closer{handle};
    unsigned int password = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK
        && password == FREEXL_BIFF_OBFUSCATED) {
        *error = QStringLiteral("工作簿 %1 有密码保护").arg(QDir::toNativeSeparators(path));
        return ImportSource::NotFound;
    }
    unsigned int sheets = 0;
    freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &sheets);
    int found = -1;
    for (unsigned int i = 0; i < sheets && found < 0; ++i) {
        const char *name = nullptr;
        if (freexl_get_worksheet_name(handle, (unsigned short)i, &name) == FREEXL_OK && name
            && QString::fromUtf8(name).compare(QLatin1String("Sheet1"), Qt::CaseInsensitive) == 0)
            found = int(i);
    }
    if (found < 0 || freexl_select_active_worksheet(handle, (unsigned short)found) != FREEXL_OK) {
        *error =
            QStringLiteral("工作簿 %1 中没有工作表 Sheet1").arg(QDir::toNativeSeparators(path));
        return ImportSource::NotFound;
    }
    unsigned int rowCount = 0;
    unsigned short columnCount = 0;
    freexl_worksheet_dimensions(handle, &rowCount, &columnCount);
    auto cell = [&](unsigned int r, unsigned short c, bool *numeric) {
        *numeric = false;
        FreeXL_CellValue value;
        if (c >= columnCount || freexl_get_cell_value(handle, r, c, &value) != FREEXL_OK)
            return QString();
        switch (value.type) {
        case FREEXL_CELL_INT:
            *numeric = true;
            return QString::number(value.value.int_value);
        case FREEXL_CELL_DOUBLE:
            *numeric = true;
            return numberText(value.value.double_value);
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
            return QString::fromUtf8(value.value.text_value);
        default:
            return QString();
        }
    };
    for (unsigned int r = 1; r < rowCount; ++r) {
        ImportRow row;
        row.row = int(r) + 1;
        bool numeric = false;
        row.name = cell(r, 0, &numeric).trimmed();
        row.elevation = cell(r, 1, &numeric).trimmed();
        row.numeric = numeric || isNumeric(row.elevation);
        rows->push_back(row);
    }
    return rows->empty() ? ImportSource::Empty : ImportSource::Read;
}

ImportSource readXlsx(const QString &path, std::vector<ImportRow> *rows, QString *error)
{
    XlsxWorkbook workbook;
    if (!workbook.open(path, error))
        return ImportSource::NotFound;
    QString name;
    for (const QString &sheet : workbook.sheetNames())
        if (sheet.compare(QLatin1String("Sheet1"), Qt::CaseInsensitive) == 0) {
            name = sheet;
            break;
        }
    XlsxSheet *sheet = name.isEmpty() ? nullptr : workbook.sheet(name, error);
    if (!sheet) {
        *error =
            QStringLiteral("工作簿 %1 中没有工作表 Sheet1").arg(QDir::toNativeSeparators(path));
        return ImportSource::NotFound;
    }
    const int last = sheet->lastRow();
    for (int r = 2; r <= last; ++r) {
        ImportRow row;
        row.row = r;
        const XlsxSheet::Value name = sheet->value(r, 1);
        row.name =
            (name.kind == XlsxSheet::Value::Number ? numberText(name.text.toDouble()) : name.text)
                .trimmed();
        const XlsxSheet::Value elevation = sheet->value(r, 2);
        row.elevation = elevation.text.trimmed();
        row.numeric = elevation.kind == XlsxSheet::Value::Number
                      || (elevation.kind == XlsxSheet::Value::Text && isNumeric(row.elevation));
        rows->push_back(row);
    }
    return rows->empty() ? ImportSource::Empty : ImportSource::Read;
}

} // namespace

ImportSource readObservationRows(const QString &path, std::vector<ImportRow> *rows, QString *error)
{
    rows->clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法打开 %1：%2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return ImportSource::NotFound;
    }
    // The content decides, not the name: a zip is an .xlsx, an OLE file an .xls.
    const QByteArray magic = file.read(8);
    file.close();
    if (magic.startsWith("PK"))
        return readXlsx(path, rows, error);
    if (magic.startsWith("\xD0\xCF\x11\xE0"))
        return readXls(path, rows, error);
    *error = QStringLiteral("%1 不是 Excel 工作簿").arg(QDir::toNativeSeparators(path));
    return ImportSource::NotFound;
}

ImportResult importObservations(ProjectDatabase &project, int epoch,
                                const std::vector<ImportRow> &rows, const QString &unit)
{
    ImportResult result;
    std::unordered_map<QString, std::optional<int>> pointOf; // name -> CjdNo, looked up once
    const Result<void> written = project.inTransaction([&]() -> Result<void> {
        for (const ImportRow &row : rows) {
            if (row.name.isEmpty() || row.elevation.isEmpty() || !row.numeric) {
                ++result.skipped;
                continue;
            }
            auto found = pointOf.find(row.name);
            if (found == pointOf.end()) {
                const auto point = project.pointByName(row.name);
                if (!point)
                    return point.failure();
                found = pointOf
                            .emplace(row.name, *point ? std::optional<int>((*point)->cjdNo)
                                                      : std::nullopt)
                            .first;
            }
            if (!found->second) {
                if (!result.unmatched.contains(row.name))
                    result.unmatched << row.name;
                continue;
            }
            if (auto stored = project.setElevation(epoch, *found->second,
                                                   ParseElevation(row.elevation, unit));
                !stored)
                return stored;
            ++result.imported;
        }
        return success();
    });
    result.written = written.ok();
    if (!written) {
        result.error = written.error();
        result.imported = 0;
    }
    return result;
}
