// The layout file parser: any bytes, every section.
#include "layout/curvelayout.h"

#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const CurveKind kind : {CurveKind::Settlement, CurveKind::Rate, CurveKind::Load}) {
        const CurveLayout layout = parseCurveLayout(content, layoutSection(kind));
        // Whatever was read is a plain number or 0, never something half-read.
        volatile double sum = layout.SheetWidth + layout.TimeRange + layout.LegendY;
        (void)sum;
    }
    return 0;
}
