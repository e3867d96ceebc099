// The rows of an .xls workbook's sheet "Sheet1" read with FreeXL and
// printed as sedimetra-xlsreader prints them (see xlsreader.cpp).
#include "batch/xlsrows.h"

#include <freexl.h>

#include <QByteArray>
#include <QString>

#include <charconv>
#include <cmath>

namespace {

int refuse(FILE *errors, const char *reason)
{
    std::fprintf(errors, "%s\n", reason);
    return 3;
}

// A number read from a cell, as text: whole numbers without decimals.
QByteArray numberText(double value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        return QByteArray::number(qint64(value));
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return QByteArray(text, int(result.ptr - text));
}

} // namespace

int readXlsRows(const char *path, FILE *out, FILE *errors)
{
    const void *handle = nullptr;
    if (freexl_open(path, &handle) != FREEXL_OK) {
        if (handle)
            freexl_close(handle);
        return refuse(errors, "不是可读的 .xls 工作簿");
    }
    struct Closer
    {
        const void *h;
        ~Closer() { freexl_close(h); }
    } closer{handle};
    unsigned int password = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK
        && password == FREEXL_BIFF_OBFUSCATED)
        return refuse(errors, "工作簿有密码保护");
    unsigned int sheets = 0;
    freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &sheets);
    int found = -1;
    for (unsigned int i = 0; i < sheets && i < 65536 && found < 0; ++i) {
        const char *name = nullptr;
        if (freexl_get_worksheet_name(handle, (unsigned short)i, &name) == FREEXL_OK && name
            && QString::fromUtf8(name).compare(QLatin1String("Sheet1"), Qt::CaseInsensitive) == 0)
            found = int(i);
    }
    if (found < 0 || freexl_select_active_worksheet(handle, (unsigned short)found) != FREEXL_OK)
        return refuse(errors, "工作簿中没有工作表 Sheet1");
    unsigned int rowCount = 0;
    unsigned short columnCount = 0;
    freexl_worksheet_dimensions(handle, &rowCount, &columnCount);
    auto cell = [&](unsigned int r, unsigned short c, int *numeric) {
        *numeric = 0;
        FreeXL_CellValue value;
        if (c >= columnCount || freexl_get_cell_value(handle, r, c, &value) != FREEXL_OK)
            return QByteArray();
        switch (value.type) {
        case FREEXL_CELL_INT:
            *numeric = 1;
            return QByteArray::number(value.value.int_value);
        case FREEXL_CELL_DOUBLE:
            *numeric = std::isfinite(value.value.double_value) ? 1 : 2;
            return numberText(value.value.double_value);
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
            return value.value.text_value ? QByteArray(value.value.text_value) : QByteArray();
        default:
            return QByteArray();
        }
    };
    // A sheet has at most 65,536 rows in the .xls format.
    const unsigned int rows = rowCount < 65536 ? rowCount : 65536;
    for (unsigned int r = 1; r < rows; ++r) {
        int numericName = 0, numeric = 0;
        const QByteArray name = cell(r, 0, &numericName);
        const QByteArray elevation = cell(r, 1, &numeric);
        std::fprintf(out, "%u\t%s\t%s\t%d\n", r + 1, name.toBase64().constData(),
                    elevation.toBase64().constData(), numeric);
    }
    return rows > 1 ? 0 : 4;
}
