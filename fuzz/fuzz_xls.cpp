// The .xls child reader: any bytes as an .xls, its rows read with FreeXL as
// sedimetra-xlsreader reads them.
#include "batch/xlsrows.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FILE *sink = std::fopen("/dev/null", "w");
    const QString path = fuzzsupport::asFile(data, size, QStringLiteral("in.xls"));
    readXlsRows(QFile::encodeName(path).constData(), sink, sink);
    return 0;
}
