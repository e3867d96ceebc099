// The workbook reader as the import and the results table use it: any bytes
// as an .xlsx, its sheets read cell by cell, rows copied, the workbook saved.
#include "fuzzsupport.h"
#include "survey/observationimport.h"
#include "xlsx/workbook.h"

#include <QFile>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzzsupport::asFile(data, size, QStringLiteral("in.xlsx"));
    (void)readObservationRows(path);

    XlsxWorkbook workbook;
    if (!workbook.open(path))
        return 0;
    for (const QString &name : workbook.sheetNames()) {
        const auto found = workbook.sheet(name);
        if (!found)
            continue;
        XlsxSheet *sheet = *found;
        const int last = std::min(sheet->lastRow(), 200);
        for (int r = 1; r <= last; ++r)
            for (int c = 1; c <= 16; ++c)
                sheet->value(r, c);
        sheet->setShownNumber(QStringLiteral("B4"), QStringLiteral("+1.25"), QStringLiteral("0.00"));
        sheet->copyRows(1, 5, 30);
    }
    workbook.save(path + QStringLiteral(".out.xlsx"));
    return 0;
}
