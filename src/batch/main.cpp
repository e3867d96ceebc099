// sedimetra-batch: the program's outputs from the command line, a thin
// adapter over the same runs the window uses (cad/curvesrun,
// report/resultsrun). Uses every core folder, never a widget.
//
//   sedimetra-batch --help | --version | COMMAND --help
//   sedimetra-batch curves PROJECT.mdb --kind settlement|rate|load [--frame NAME]
//       [--base X,Y] [--time T] [--curve S] [--aux A] [--lines N | --no-split]
//       [--per-row R] [--out FILE.dxf]
//   sedimetra-batch table PROJECT.mdb [--template NAME] [--out FILE.xlsx]
//   sedimetra-batch import PROJECT.mdb --epoch N FILE.xls|FILE.xlsx
//       the elevations of a workbook into epoch N, as the window's "调入数据"
//       does it (one transaction), the summary on stdout
//   sedimetra-batch analyse PROJECT.mdb [--window D] [--limit R] [--step D]
//       [--format text|csv|json]
//       the stability verdict and the settlement prediction on stdout
//   sedimetra-batch level FILE... [--fixed ID=H ...] [--grade NAME]
//       [--distribute stations|distance] [--format text|json] [--into PROJECT.mdb --epoch N]
//       [--report FILE.xlsx]
//       the digital level's raw files checked and adjusted; with --into the
//       heights of the project's points go into epoch N as an import does,
//       and the report beside the project
//   sedimetra-batch server init URL
//   sedimetra-batch server push FILE.mdb URL [--replace]
//   sedimetra-batch server pull URL FILE.mdb
//   sedimetra-batch server grant URL USER read|write|none
//   sedimetra-batch server members URL
//       projects on a PostgreSQL server (URL: postgresql://[user@]host[:port]/
//       database?project=NAME); every PROJECT.mdb above may be such a URL.
//       The password comes from PGPASSWORD or ~/.pgpass; one written in the
//       URL is hidden from the process list at start, with a warning.
//
// Defaults are what the window would use: the settings of Sdmx.mdb beside the
// program (unit, point count, fonts, templates, header fields), the layout of
// the chosen kind for the axis boxes, base 0,0.
// Exit 0 on success, 2 on a usage error, 1 on a failure (reason on stderr),
// 3 when a push wrote the project but could not confirm it by its check.
#include "batch/commandline.h"

#include "base/programfiles.h"
#include "project/settingsstore.h"
#include "project/serverstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringDecoder>
#include <QGuiApplication>

#include <cstdio>
#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *usage =
    "usage: sedimetra-batch --help | --version | COMMAND --help\n"
    "       sedimetra-batch curves PROJECT.mdb --kind settlement|rate|load [--frame NAME]\n"
    "       [--base X,Y] [--time T] [--curve S] [--aux A] [--lines N | --no-split]\n"
    "       [--per-row R] [--out FILE.dxf]\n"
    "       sedimetra-batch curves PROJECT.mdb --kind plan [--epoch N] [--scale 200]\n"
    "       [--frame NAME] [--out FILE.dxf]\n"
    "       sedimetra-batch table PROJECT.mdb [--template NAME] [--out FILE.xlsx]\n"
    "       sedimetra-batch import PROJECT.mdb --epoch N FILE.xls|FILE.xlsx\n"
    "       sedimetra-batch coords PROJECT.mdb FILE.csv|FILE.xlsx|FILE.dat|FILE.dxf [--axes ne|en] [--unit mm|cm|m]\n"
    "       sedimetra-batch new PROJECT.mdb [--template FILE.mdb]\n"
    "       sedimetra-batch epoch PROJECT.mdb add --date YYYY-MM-DD --name NAME --layers N\n"
    "       sedimetra-batch epoch PROJECT.mdb list [--format text|json] | remove N\n"
    "       sedimetra-batch points PROJECT.mdb add NAME... | list [--format text|json]\n"
    "       sedimetra-batch header PROJECT.mdb [KEY=VALUE ...] [--format text|json]\n"
    "       sedimetra-batch history PROJECT.mdb [--epoch N] [--point NAME] [--format text|json]\n"
    "       sedimetra-batch verify PROJECT.mdb   (exit 1: changes made outside the program)\n"
    "       sedimetra-batch plan PROJECT.mdb [--epoch N] [--step MM] --format json\n"
    "       sedimetra-batch report PROJECT.mdb [--out FILE.pdf] [--epoch N] [--date YYYY-MM-DD]\n"
    "       sedimetra-batch analyse PROJECT.mdb [--window D] [--limit R] [--step D]\n"
    "       [--format text|csv|json]\n"
    "       sedimetra-batch level FILE... [--fixed ID=H ...] [--grade NAME]\n"
    "       [--distribute stations|distance] [--format text|json] [--into PROJECT.mdb --epoch N]\n"
    "       [--report FILE.xlsx]\n"
    "       sedimetra-batch server init URL\n"
    "       sedimetra-batch server push FILE.mdb URL [--replace]\n"
    "       sedimetra-batch server pull URL FILE.mdb\n"
    "       sedimetra-batch server grant URL USER read|write|none\n"
    "       sedimetra-batch server members URL\n"
    "       sedimetra-batch serve postgresql://HOST:PORT/DATABASE [--listen 127.0.0.1:8470]\n"
    "       (PROJECT.mdb may be postgresql://[user@]host[:port]/database?project=NAME;\n"
    "       give the password in PGPASSWORD or ~/.pgpass, not in the URL, where\n"
    "       other users of the computer could see it)\n"
    "Exit status: 0 done, 1 failed, 2 usage error, 3 pushed but not confirmed by\n"
    "the read-back check.\n";

} // namespace

int main(int argc, char *argv[])
{
    // An argument that is no UTF-8 text would be read with U+FFFD in place
    // of its bytes, silently another name or number: refused instead.
    for (int i = 1; i < argc; ++i) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8(QByteArrayView(argv[i]));
        Q_UNUSED(decoded);
        if (utf8.hasError()) {
            std::fprintf(stderr, "sedimetra-batch: 第 %d 个参数不是有效的 UTF-8 文本，未作任何修改\n", i);
            return 2;
        }
    }
    // Before anything else: a password in an address stops being visible in
    // the process list (it was until now).
    bool passwordShown = false;
    const QStringList args = takeArgumentsHidingPasswords(argc, argv, &passwordShown).mid(1);
    if (passwordShown)
        std::fprintf(stderr, "%s\n",
                     qPrintable(QStringLiteral("sedimetra-batch: 警告：地址中的密码在命令启动时可被本机"
                                               "其他用户看到（进程列表），现已隐去；请改用 PGPASSWORD "
                                               "或 ~/.pgpass")));
    // The report paints its pages with fonts: that takes a GUI application,
    // on the offscreen platform where there is no display.
    const bool paints = argc > 1 && (std::strcmp(argv[1], "report") == 0 || std::strcmp(argv[1], "serve") == 0);
    if (paints && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The runtime folder Qt wants, made private as it expects, so that a
    // run from cron or a shell without a session says nothing of it.
    if (paints && !qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        const QByteArray runtime = QDir::tempPath().toLocal8Bit() + "/runtime-" + QByteArray::number(getuid());
        if (::mkdir(runtime.constData(), 0700) == 0 || errno == EEXIST)
            qputenv("XDG_RUNTIME_DIR", runtime);
    }
    std::unique_ptr<QCoreApplication> application =
        paints ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sedimetra-batch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SEDIMETRA_VERSION));
    if (args.isEmpty()) {
        std::fprintf(stderr, "sedimetra-batch: no command given\n%s", usage);
        return 2;
    }
    const QString command = args.front();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::printf("%s", usage);
        return 0;
    }
    if (command == QLatin1String("--version")) {
        std::printf("sedimetra-batch %s\n", SEDIMETRA_VERSION);
        return 0;
    }
    {
        // The server waits as the settings say, when there are settings.
        SettingsStore settings;
        if (settings.open(systemDatabasePath(programDir())))
            setServerWaits(settings);
    }
    const std::pair<const char *, int (*)(const QStringList &)> commands[] = {
        {"curves", curvesCommand}, {"table", tableCommand},   {"import", importCommand},
        {"analyse", analyseCommand}, {"level", levelCommand}, {"server", serverCommand},
        {"coords", coordsCommand}, {"plan", planCommand}, {"report", reportCommand}, {"serve", serveCommand},
        {"new", newCommand}, {"epoch", epochCommand}, {"points", pointsCommand}, {"header", headerCommand},
        {"history", historyCommand}, {"verify", verifyCommand}};
    for (const auto &[name, run] : commands)
        if (command == QLatin1String(name))
            return run(args.mid(1));
    std::fprintf(stderr, "sedimetra-batch: unknown command %s\n%s", qPrintable(command), usage);
    return 2;
}
