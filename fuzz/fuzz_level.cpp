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
        // As read (each part resting on an entered height or relative),
        // and with the first point read fixed.
        LevelSettings settings;
        for (int fixedFirst = 0; fixedFirst < 2; ++fixedFirst) {
            const auto result = adjustLevelling({*file}, settings);
            if (result) {
                (void)levelJson(*result);
                (void)levelText(*result);
            }
            for (const RecordedLine &line : file->lines)
                if (!line.readings.empty()) {
                    settings.fixed[line.readings.front().point] = 10.0;
                    break;
                }
        }
    }
    return 0;
}
