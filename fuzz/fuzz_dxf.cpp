// The frame and mark drawing reader: any bytes as a .dxf, inserted into a
// drawing, exploded with title values, and the drawing written out.
#include "cad/drawing.h"
#include "cad/dxffile.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzzsupport::asFile(data, size, QStringLiteral("frame.dxf"));
    Drawing drawing(readDxfFile);
    const int frame = drawing.insertBlock({10, 20}, path);
    if (frame != 0) {
        drawing.explode(frame, {{QStringLiteral("工程名称"), QStringLiteral("楼")}});
        drawing.erase(frame);
        drawing.insertBlock({30, 40}, path);
    }
    const QByteArray text = dxfText(drawing);
    (void)text;
    return 0;
}
