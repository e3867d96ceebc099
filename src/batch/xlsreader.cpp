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
#include "batch/xlsrows.h"

#include <sys/resource.h>

#include <cstdio>

#ifndef __has_feature
#define __has_feature(x) 0
#endif

namespace {

void limitSelf()
{
#if !defined(__SANITIZE_ADDRESS__) && !__has_feature(address_sanitizer)
    // (A memory checker maps terabytes of shadow: no address-space limit then.)
    const rlimit memory{512ul << 20, 512ul << 20};
    setrlimit(RLIMIT_AS, &memory);
#endif
    const rlimit processor{20, 20};
    setrlimit(RLIMIT_CPU, &processor);
}

} // namespace

int main(int argc, char *argv[])
{
    limitSelf();
    if (argc != 2) {
        std::fprintf(stderr, "usage: sedimetra-xlsreader FILE.xls\n");
        return 3;
    }
    return readXlsRows(argv[1], stdout, stderr);
}
