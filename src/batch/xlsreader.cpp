// sedimetra-xlsreader: reads the observation rows of an .xls workbook with
// FreeXL, in a process of its own, so that whatever a damaged file does to the
// library (a crash, an endless loop, a read out of bounds) ends here and
// never in the program. The import starts it and reads back what it prints.
//
//   sedimetra-xlsreader FILE.xls
//
// Prints one line a data row (every row after the first of the sheet
// "Sheet1"): the row number, the name, the elevation and 1 when the
// elevation is a finite number, 2 when it is a number cell of no finite
// value, 0 otherwise, separated by tabs, the two
// texts in Base64 (UTF-8). Exit 0 with rows, 4 when the sheet has no data
// row, 3 when the file cannot be read (the reason, UTF-8, on stderr).
// Limits itself to 512 MB of memory and 20 s of processor time.
#include <freexl.h>

#include <QByteArray>
#include <QString>

#include <sys/resource.h>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

int refuse(const char *reason)
{
    std::fprintf(stderr, "%s\n", reason);
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

void limitSelf()
{
    const rlimit memory{512ul << 20, 512ul << 20};
    setrlimit(RLIMIT_AS, &memory);
    const rlimit processor{20, 20};
    setrlimit(RLIMIT_CPU, &processor);
}

} // namespace

int main(int argc, char *argv[])
{
    limitSelf();
    if (argc != 2)
        return refuse("usage: sedimetra-xlsreader FILE.xls");
    const void *handle = nullptr;
    if (freexl_open(argv[1], &handle) != FREEXL_OK) {
        if (handle)
            freexl_close(handle);
        return refuse("不是可读的 .xls 工作簿");
    }
    struct Closer
    {
        const void *h;
        ~Closer() { freexl_close(h); }
    } closer{handle};
    unsigned int password = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK
        && password == FREEXL_BIFF_OBFUSCATED)
        return refuse("工作簿有密码保护");
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
        return refuse("工作簿中没有工作表 Sheet1");
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
        std::printf("%u\t%s\t%s\t%d\n", r + 1, name.toBase64().constData(),
                    elevation.toBase64().constData(), numeric);
    }
    return rows > 1 ? 0 : 4;
}
