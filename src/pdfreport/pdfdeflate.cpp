#include "pdfreport/pdfdeflate.h"

#include <zlib.h>

#include <atomic>

namespace {

std::atomic<int> active{0};
std::atomic<long> started{0};

} // namespace

FastPdfDeflate::FastPdfDeflate()
{
    ++active;
}

FastPdfDeflate::~FastPdfDeflate()
{
    --active;
}

long FastPdfDeflate::fastStreams()
{
    return started.load();
}

// zlib's deflateInit() is this function; it is defined here so that the
// program's own definition is the one the Qt library calls (ELF symbol
// interposition). It does exactly what zlib's does: deflateInit2_ with the
// default window and memory level, only with level 1 for a default level
// while a report is written. Where the platform does not interpose, zlib's
// own is called and the report is only slower.
extern "C" int deflateInit_(z_streamp stream, int level, const char *version, int streamSize)
{
    if (level == Z_DEFAULT_COMPRESSION && active.load() > 0) {
        level = 1;
        ++started;
    }
    return deflateInit2_(stream, level, Z_DEFLATED, MAX_WBITS, 8, Z_DEFAULT_STRATEGY, version, streamSize);
}
