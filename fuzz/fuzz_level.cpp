// The digital level's raw files: any bytes as GSI and as DiNi M5, and what
// reads through the station building and the adjustment.
#include "survey/levelling.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    for (auto parse : {parseGsi, parseDini}) {
        const auto file = parse(content, QStringLiteral("fuzz"));
        if (!file)
            continue;
        LevelSettings settings;
        // The first point read is fixed, so that the adjustment runs.
        settings.fixed[file->readings.front().point] = 10.0;
        const auto result = adjustLevelling({*file}, settings);
        if (result)
            (void)levelJson(*result);
    }
    return 0;
}
