// sedimetra-make-large-project OUTPUT [POINTS [EPOCHS]]
// Writes a large realistic project (150 points × 300 epochs unless told).
#include "largeproject.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: sedimetra-make-large-project OUTPUT [POINTS [EPOCHS]]\n");
        return 2;
    }
    const int points = args.size() > 2 ? args[2].toInt() : 150;
    const int epochs = args.size() > 3 ? args[3].toInt() : 300;
    QString error;
    if (!makeLargeProject(QStringLiteral(SEDIMETRA_BIN_DIR "/Support/Db/数据库模板.mdb"), args[1],
                          points, epochs, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s: %d points × %d epochs\n", qPrintable(args[1]), points, epochs);
    return 0;
}
