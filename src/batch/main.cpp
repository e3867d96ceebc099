// sedimetra-batch: the program's outputs from the command line, a thin
// adapter over the same runs the window uses (cad/curvesrun,
// report/resultsrun). Uses every core folder, never a widget.
//
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
#include "base/outputguard.h"
#include "base/programfiles.h"
#include "base/savefile.h"
#include "base/settings.h"
#include "base/textnumber.h"
#include "cad/curvesrun.h"
#include "cad/drawing.h"
#include "cad/dxffile.h"
#include "project/projectdb.h"
#include "project/serverstore.h"
#include "report/levelreport.h"
#include "report/resultsrun.h"
#include "survey/observationimport.h"
#include "survey/projectsnapshot.h"
#include "survey/levelling.h"
#include "survey/stability.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <cstdio>
#include <set>

namespace {

const char *usage =
    "usage: sedimetra-batch curves PROJECT.mdb --kind settlement|rate|load [--frame NAME]\n"
    "       [--base X,Y] [--time T] [--curve S] [--aux A] [--lines N | --no-split]\n"
    "       [--per-row R] [--out FILE.dxf]\n"
    "       sedimetra-batch table PROJECT.mdb [--template NAME] [--out FILE.xlsx]\n"
    "       sedimetra-batch import PROJECT.mdb --epoch N FILE.xls|FILE.xlsx\n"
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
    "       (PROJECT.mdb may be postgresql://[user@]host[:port]/database?project=NAME;\n"
    "       give the password in PGPASSWORD or ~/.pgpass, not in the URL, where\n"
    "       other users of the computer could see it)\n"
    "Exit status: 0 done, 1 failed, 2 usage error, 3 pushed but not confirmed by\n"
    "the read-back check.\n";

int usageError(const QString &why)
{
    std::fprintf(stderr, "sedimetra-batch: %s\n%s", qPrintable(why), usage);
    return 2;
}

int failure(const QString &why)
{
    std::fprintf(stderr, "sedimetra-batch: %s\n",
                 qPrintable(QString(why).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    return 1;
}

// The settings beside the program and the whole project of a run, with the
// header fields its outputs carry: a project that cannot be read whole is a
// failure, never a run on half of it.
Result<ProjectSnapshot> openInputs(const QString &programDir, const QString &projectPath,
                                   SettingsStore *settings,
                                   std::map<QString, QString> *headerFields)
{
    QString reason;
    if (!settings->open(systemDatabasePath(programDir), &reason))
        return fail(QStringLiteral("cannot open the system database %1: %2")
                        .arg(QDir::toNativeSeparators(systemDatabasePath(programDir)), reason));
    ProjectDatabase project;
    if (auto opened = project.open(projectPath); !opened)
        return fail(QStringLiteral("cannot open the project %1: %2")
                        .arg(QDir::toNativeSeparators(shownProjectPath(projectPath)), opened.error()));
    auto snapshot = loadSnapshot(project);
    *headerFields = effectiveHeaderFields(*settings, &project);
    if (snapshot)
        for (const QString &warning : snapshot->warnings())
            std::fprintf(stderr, "sedimetra-batch: warning: %s\n", qPrintable(warning));
    return snapshot;
}

// A subcommand's project and its options, each of `valued` followed by its
// value; the reason when the command line is not of that form.
std::optional<QString> readOptions(const QStringList &args, const QStringList &valued,
                                   QString *projectPath, QMap<QString, QString> *options)
{
    if (args.isEmpty() || args.front().startsWith(QLatin1String("--")))
        return QStringLiteral("no project given");
    *projectPath = args.front();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (!valued.contains(arg) || i + 1 >= args.size())
            return QStringLiteral("unknown or incomplete option %1").arg(arg);
        (*options)[arg] = args[++i];
    }
    return std::nullopt;
}

int curves(const QStringList &args)
{
    if (args.isEmpty() || args.front().startsWith(QLatin1String("--")))
        return usageError(QStringLiteral("no project given"));
    const QString projectPath = args.front();
    QMap<QString, QString> options;
    bool split = true;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--no-split")) {
            split = false;
            continue;
        }
        static const QStringList valued{"--kind", "--frame", "--base",    "--time", "--curve",
                                        "--aux",  "--lines", "--per-row", "--out"};
        if (!valued.contains(arg) || i + 1 >= args.size())
            return usageError(QStringLiteral("unknown or incomplete option %1").arg(arg));
        options[arg] = args[++i];
    }
    const QString kindName = options.value(QStringLiteral("--kind"));
    CurveKind kind;
    if (kindName == QLatin1String("settlement"))
        kind = CurveKind::Settlement;
    else if (kindName == QLatin1String("rate"))
        kind = CurveKind::Rate;
    else if (kindName == QLatin1String("load"))
        kind = CurveKind::Load;
    else
        return usageError(QStringLiteral("--kind must be settlement, rate or load"));
    CadPoint base;
    if (options.contains(QStringLiteral("--base"))) {
        const QStringList xy = options[QStringLiteral("--base")].split(QLatin1Char(','));
        bool okX = false, okY = false;
        if (xy.size() == 2) {
            base = {xy[0].trimmed().toDouble(&okX), xy[1].trimmed().toDouble(&okY)};
        }
        if (!okX || !okY)
            return usageError(QStringLiteral("--base takes X,Y"));
        if (!std::isfinite(base.x) || !std::isfinite(base.y)
            || std::fabs(base.x) > maxBaseCoordinate || std::fabs(base.y) > maxBaseCoordinate)
            return failure(QStringLiteral("the base point %1 is not a point on a sheet "
                                          "(finite, within ±1e9)")
                               .arg(options[QStringLiteral("--base")]));
    }

    const QString programDir = programDirectoryOf(QCoreApplication::applicationDirPath());
    SettingsStore settings;
    std::map<QString, QString> headerFields;
    const auto snapshot = openInputs(programDir, projectPath, &settings, &headerFields);
    if (!snapshot)
        return failure(snapshot.error());
    // Epochs of an unusable date stay off the sheets (the loader said so).
    const ProjectSnapshot sheets = snapshot->withUsableDates();

    CurveRunSettings in;
    in.kind = kind;
    in.pointCount = pointCountFromSetting(settings.readSetting(SettingKey::PointCount));
    const QString frame =
        options.value(QStringLiteral("--frame"),
                      settings.readSetting(SettingKey::FrameTemplate)
                          .value_or(frameTemplateEntries(frameTemplatesDir(programDir)).value(0)));
    if (!frame.isEmpty()) {
        const QString folder = findIgnoringCase(frameTemplatesDir(programDir), frame);
        if (folder.isEmpty())
            return failure(
                QStringLiteral("no frame template %1 in %2")
                    .arg(frame, QDir::toNativeSeparators(frameTemplatesDir(programDir))));
        in.frameDir = folder;
        in.layout = LoadCurveLayout(frameLayoutFile(programDir, frame), kind);
    }
    in.marks.supportDir = programDir + QStringLiteral("Support/");
    // An axis not given takes the range fitted to the data, as the window's
    // boxes show it for the project.
    const AxisRanges fitted = fittedAxisRanges(in.layout, kind, sheets, in.pointCount);
    const int curveDecimals = curveAxisDecimals(kind);
    CurveBoxTexts texts;
    texts.time = options.value(QStringLiteral("--time"), formatFixed(fitted.time, 0));
    texts.curve =
        options.value(QStringLiteral("--curve"), formatFixed(fitted.curve, curveDecimals));
    texts.aux = options.value(QStringLiteral("--aux"), formatFixed(fitted.aux, 0));
    texts.split = split;
    texts.lines =
        options.value(QStringLiteral("--lines"), settings.readSettingOr(SettingKey::LinesPerSheet));
    texts.perRow = options.value(QStringLiteral("--per-row"),
                                 settings.readSettingOr(SettingKey::SheetsPerRow));
    applyBoxTexts(in, texts);
    if (auto sane = checkCurveNumbers(in); !sane)
        return failure(sane.error());
    in.font = settings.readSettingOr(SettingKey::Font1).trimmed();
    in.bigFont = settings.readSettingOr(SettingKey::Font2).trimmed();
    in.titleValues = titleBlockValues(headerFields, sheets);
    if (sheets.hasElevations()) {
        // A range given too small is drawn as asked, with a word.
        for (const AxisShortfall &s : axisShortfalls(in, sheets)) {
            const char *option = s.axis == AxisShortfall::Time    ? "--time"
                                 : s.axis == AxisShortfall::Curve ? "--curve"
                                                                  : "--aux";
            const int decimals = s.axis == AxisShortfall::Curve ? curveDecimals : 0;
            std::fprintf(stderr,
                         "sedimetra-batch: warning: the data reach %s on the axis of %s, "
                         "beyond its range %s; %s %s would hold them\n",
                         qPrintable(formatFixed(s.extent, decimals ? decimals + 1 : 0)), option,
                         qPrintable(formatFixed(s.range, decimals)), option,
                         qPrintable(formatFixed(s.fitted, decimals)));
        }
    }

    const QString out = options.value(QStringLiteral("--out"), drawingPathOf(projectPath));
    const ProtectedFiles keep = curveRunProtectedFiles(programDir, projectPath, in, sheets);
    if (auto allowed = keep.checkOutput(out); !allowed)
        return failure(allowed.error());
    Drawing drawing(readDxfFile, [base](const QString &, CadPoint) { return std::optional<CadPoint>(base); });
    drawing.setOutputPath(out);
    const auto status = runCurveSheets(drawing, sheets, in);
    if (!status)
        return failure(status.error());
    switch (*status) {
    case CurveRunStatus::FontMissing:
        return failure(QStringLiteral("对不起，字库没找到！ (font settings 字体1/字体2)"));
    case CurveRunStatus::NoElevations:
        return failure(QStringLiteral("the project %1 has no elevations")
                           .arg(QDir::toNativeSeparators(shownProjectPath(projectPath))));
    case CurveRunStatus::Cancelled:
    case CurveRunStatus::Drawn:
        break;
    }
    std::set<QString> written;
    if (auto saved = writeDxfFile(drawing, out, &written); !saved)
        return failure(saved.error());
    return 0;
}

int table(const QStringList &args)
{
    QString projectPath;
    QMap<QString, QString> options;
    if (const auto wrong = readOptions(args, {"--template", "--out"}, &projectPath, &options))
        return usageError(*wrong);
    const QString programDir = programDirectoryOf(QCoreApplication::applicationDirPath());
    SettingsStore settings;
    std::map<QString, QString> headerFields;
    const auto snapshot = openInputs(programDir, projectPath, &settings, &headerFields);
    if (!snapshot)
        return failure(snapshot.error());
    const QString name =
        options.value(QStringLiteral("--template"),
                      settings.readSetting(SettingKey::TableTemplate)
                          .value_or(tableTemplateEntries(tableTemplatesDir(programDir)).value(0)));
    const QString output = options.value(QStringLiteral("--out"), resultsPathOf(projectPath));
    const ResultsSettings tableSettings{
        pointCountFromSetting(settings.readSetting(SettingKey::PointCount)),
        unitFromSetting(settings.readSetting(SettingKey::ElevationUnit)), resultsHeader(headerFields),
        stabilitySettingsFrom(settings)};
    const QString templatePath = tableTemplatePath(programDir, name);
    ProtectedFiles keep = programFiles(programDir, projectPath);
    keep.add(QStringLiteral("表格模板"), templatePath);
    if (auto allowed = keep.checkOutput(output); !allowed)
        return failure(allowed.error());
    const auto status =
        runResultsTable(snapshot->withUsableDates(), tableSettings, templatePath, output);
    if (!status)
        return failure(status.error());
    switch (*status) {
    case ResultsRunStatus::Written:
        return 0;
    case ResultsRunStatus::NothingToWrite:
        return failure(QStringLiteral("the project %1 has no epochs or no elevations")
                           .arg(QDir::toNativeSeparators(shownProjectPath(projectPath))));
    case ResultsRunStatus::TemplateMissing:
        return failure(QStringLiteral("表格模板被删除，请重新安装！ (no table template %1 in %2)")
                           .arg(name, QDir::toNativeSeparators(tableTemplatesDir(programDir))));
    }
    return 0;
}

int import(const QStringList &args)
{
    if (args.size() != 4 || args[1] != QLatin1String("--epoch"))
        return usageError(QStringLiteral("import takes PROJECT.mdb --epoch N FILE"));
    const QString projectPath = args[0];
    bool isNumber = false;
    const int epoch = args[2].toInt(&isNumber);
    if (!isNumber)
        return usageError(QStringLiteral("--epoch takes an epoch number"));
    const QString workbook = args[3];

    const QString programDir = programDirectoryOf(QCoreApplication::applicationDirPath());
    SettingsStore settings;
    QString reason;
    if (!settings.open(systemDatabasePath(programDir), &reason))
        return failure(QStringLiteral("cannot open the system database %1: %2")
                           .arg(QDir::toNativeSeparators(systemDatabasePath(programDir)), reason));
    ProjectDatabase project;
    if (auto opened = project.open(projectPath); !opened)
        return failure(QStringLiteral("cannot open the project %1: %2")
                           .arg(QDir::toNativeSeparators(shownProjectPath(projectPath)), opened.error()));
    const auto known = project.epochByNumber(epoch);
    if (!known)
        return failure(known.error());
    if (!*known)
        return failure(QStringLiteral("the project %1 has no epoch %2")
                           .arg(QDir::toNativeSeparators(shownProjectPath(projectPath)))
                           .arg(epoch));

    std::vector<ImportRow> rows;
    QString error;
    switch (readObservationRows(workbook, &rows, &error)) {
    case ImportSource::NotFound:
        return failure(QStringLiteral("找不到数据源！ (%1)").arg(error));
    case ImportSource::Empty:
        return failure(QStringLiteral("数据源为空！ (%1)").arg(QDir::toNativeSeparators(workbook)));
    case ImportSource::Unreadable:
        return failure(error);
    case ImportSource::Read:
        break;
    }
    const ImportResult result =
        importObservations(project, epoch, rows, unitFromSetting(settings.readSetting(SettingKey::ElevationUnit)),
                           ChangeLimit(settings));
    if (!result.written)
        return failure(QStringLiteral("调入失败，工程未作任何修改：%1 %2")
                           .arg(QDir::toNativeSeparators(shownProjectPath(projectPath)), result.error));
    std::printf("%s\n", qPrintable(importSummary(QFileInfo(workbook).fileName(), result)));
    return 0;
}

// Columns padded to the widest entry, a Chinese character counting as two.
QString alignedTable(const QStringList &headings, const std::vector<QStringList> &rows)
{
    const auto width = [](const QString &text) {
        int w = 0;
        for (const QChar c : text)
            w += c.unicode() >= 0x1100 ? 2 : 1;
        return w;
    };
    std::vector<int> widths(size_t(headings.size()), 0);
    const auto measure = [&](const QStringList &row) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[size_t(i)] = std::max(widths[size_t(i)], width(row[i]));
    };
    measure(headings);
    for (const QStringList &row : rows)
        measure(row);
    QString text;
    const auto line = [&](const QStringList &row) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            const QString pad(widths[size_t(i)] - width(row[i]), QLatin1Char(' '));
            // Names and words to the left, figures to the right.
            text += i == 1 || i == 6 ? row[i] + pad : pad + row[i];
            text += i + 1 < row.size() ? QStringLiteral("  ") : QStringLiteral("\n");
        }
    };
    line(headings);
    for (const QStringList &row : rows)
        line(row);
    return text;
}

QString csvField(const QString &field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"'))
        && !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    return QLatin1Char('"') + QString(field).replace(QLatin1Char('"'), QStringLiteral("\"\""))
           + QLatin1Char('"');
}

int analyse(const QStringList &args)
{
    QString projectPath;
    QMap<QString, QString> options;
    if (const auto wrong = readOptions(args, {"--window", "--limit", "--step", "--format"},
                                       &projectPath, &options))
        return usageError(*wrong);
    const QString format = options.value(QStringLiteral("--format"), QStringLiteral("text"));
    if (format != QLatin1String("text") && format != QLatin1String("csv")
        && format != QLatin1String("json"))
        return usageError(QStringLiteral("--format must be text, csv or json"));

    const QString programDir = programDirectoryOf(QCoreApplication::applicationDirPath());
    SettingsStore settings;
    std::map<QString, QString> headerFields;
    const auto snapshot = openInputs(programDir, projectPath, &settings, &headerFields);
    if (!snapshot)
        return failure(snapshot.error());
    StabilitySettings chosen = stabilitySettingsFrom(settings);
    // Whole days of at least one, and a limit above zero.
    const auto days = [&](const char *option, int *value) {
        if (!options.contains(QLatin1String(option)))
            return true;
        bool ok = false;
        const int given = options.value(QLatin1String(option)).toInt(&ok);
        if (!ok || given < 1)
            return false;
        *value = given;
        return true;
    };
    if (!days("--window", &chosen.window))
        return usageError(QStringLiteral("--window takes a whole number of days, at least 1"));
    if (!days("--step", &chosen.step))
        return usageError(QStringLiteral("--step takes a whole number of days, at least 1"));
    if (options.contains(QStringLiteral("--limit"))) {
        bool ok = false;
        const double limit = options.value(QStringLiteral("--limit")).toDouble(&ok);
        if (!ok || !std::isfinite(limit) || !(limit > 0))
            return usageError(QStringLiteral("--limit takes a rate in mm/d above 0"));
        chosen.limit = limit;
    }
    const StabilityAnalysis analysis = analyseStability(
        *snapshot, chosen, pointCountFromSetting(settings.readSetting(SettingKey::PointCount)));

    QByteArray out;
    if (format == QLatin1String("json")) {
        out = stabilityJson(analysis);
    } else if (format == QLatin1String("csv")) {
        // With a byte-order mark, so that spreadsheet programs read it as UTF-8.
        out = "\xEF\xBB\xBF";
        const auto csvLine = [](const QStringList &row) {
            QStringList fields;
            for (const QString &field : row)
                fields << csvField(field);
            return fields.join(QLatin1Char(','));
        };
        QStringList lines{csvLine(stabilityHeadings())};
        for (const QStringList &row : stabilityRows(analysis))
            lines << csvLine(row);
        out += (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
    } else {
        out = (QStringLiteral("建筑物稳定性：%1\n%2\n\n")
                   .arg(verdictText(analysis.building), stabilitySettingsLine(analysis.settings))
               + alignedTable(stabilityHeadings(), stabilityRows(analysis)))
                  .toUtf8();
        for (const QString &note : analysis.notes)
            out += QStringLiteral("注意：%1\n").arg(note).toUtf8();
    }
    if (std::fwrite(out.constData(), 1, size_t(out.size()), stdout) != size_t(out.size())
        || std::fflush(stdout) != 0)
        return failure(QStringLiteral("cannot write the analysis to standard output"));
    return 0;
}

int level(const QStringList &args)
{
    QStringList paths;
    LevelSettings settings;
    const QString programDir = programDirectoryOf(QCoreApplication::applicationDirPath());
    const auto grades = readGrades(levelGradesPath(programDir));
    if (!grades)
        return failure(grades.error());
    settings.grade = grades->front();
    QString format = QStringLiteral("text"), into, report;
    std::optional<int> epoch;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (!arg.startsWith(QLatin1String("--"))) {
            paths << arg;
            continue;
        }
        if (i + 1 >= args.size())
            return usageError(QStringLiteral("incomplete option %1").arg(arg));
        const QString value = args[++i];
        if (arg == QLatin1String("--fixed")) {
            const qsizetype equals = value.lastIndexOf(QLatin1Char('='));
            bool ok = false;
            const double h = equals > 0 ? value.mid(equals + 1).toDouble(&ok) : 0;
            if (!ok || !usableElevation(h) || equals <= 0)
                return usageError(QStringLiteral("--fixed takes ID=HEIGHT (metres, a usable elevation)"));
            settings.fixed[value.left(equals)] = h;
        } else if (arg == QLatin1String("--grade")) {
            bool found = false;
            for (const LevelGrade &grade : *grades)
                if (grade.name == value || grade.name.startsWith(value)) {
                    settings.grade = grade;
                    found = true;
                    break;
                }
            if (!found)
                return usageError(QStringLiteral("no grade %1").arg(value));
        } else if (arg == QLatin1String("--distribute")) {
            if (value != QLatin1String("stations") && value != QLatin1String("distance"))
                return usageError(QStringLiteral("--distribute takes stations or distance"));
            settings.byDistance = value == QLatin1String("distance");
        } else if (arg == QLatin1String("--format")) {
            if (value != QLatin1String("text") && value != QLatin1String("json"))
                return usageError(QStringLiteral("--format must be text or json"));
            format = value;
        } else if (arg == QLatin1String("--into")) {
            into = value;
        } else if (arg == QLatin1String("--report")) {
            report = value;
        } else if (arg == QLatin1String("--epoch")) {
            bool ok = false;
            epoch = value.toInt(&ok);
            if (!ok)
                return usageError(QStringLiteral("--epoch takes an epoch number"));
        } else {
            return usageError(QStringLiteral("unknown option %1").arg(arg));
        }
    }
    if (paths.isEmpty())
        return usageError(QStringLiteral("no level file given"));
    if (into.isEmpty() != !epoch.has_value())
        return usageError(QStringLiteral("--into and --epoch go together"));

    ProjectDatabase project;
    SettingsStore programSettings;
    if (!into.isEmpty()) {
        QString reason;
        if (!programSettings.open(systemDatabasePath(programDir), &reason))
            return failure(reason);
        if (auto opened = project.open(into); !opened)
            return failure(QStringLiteral("cannot open the project %1: %2")
                               .arg(shownProjectPath(into), opened.error()));
        const auto points = project.points();
        if (!points)
            return failure(points.error());
        for (const Point &point : *points)
            settings.knownPoints.insert(point.name);
        // The project's reference point is the fixed one unless others are given.
        if (settings.fixed.empty())
            settings.fixed = projectBenchmark(effectiveHeaderFields(programSettings, &project));
    }
    std::vector<LevelFile> files;
    for (const QString &path : paths) {
        auto file = readLevelFile(path);
        if (!file)
            return failure(file.error());
        files.push_back(std::move(*file));
    }
    const auto result = adjustLevelling(files, settings);
    if (!result)
        return failure(result.error());

    QByteArray out = format == QLatin1String("json") ? levelJson(*result) : levelText(*result).toUtf8();
    // Everything is checked and the report made before the project is
    // touched: a failure leaves it as it was.
    ProtectedFiles keep = programFiles(programDir, into);
    for (const QString &path : paths)
        keep.add(QStringLiteral("水准原始数据"), path);
    LevelWrite write;
    if (!into.isEmpty()) {
        auto prepared = prepareLevelWrite(project, *epoch, *result, ChangeLimit(programSettings));
        if (!prepared)
            return failure(QStringLiteral("调入失败，工程未作任何修改：%1 %2")
                               .arg(shownProjectPath(into), prepared.error()));
        write = std::move(*prepared);
        // The adjustment report goes beside the project, named after the epoch.
        if (report.isEmpty())
            if (const auto known = project.epochByNumber(*epoch); known && *known)
                report = levelReportPath(outputPathOf(into, QString()), (*known)->name);
    }
    if (!report.isEmpty())
        if (auto ready = prepareLevelReport(write, *result, settings.grade,
                                            into.isEmpty() ? QString() : QFileInfo(outputPathOf(into, QString())).fileName(),
                                            report, keep);
            !ready)
            return failure(into.isEmpty() ? ready.error()
                                          : QStringLiteral("调入失败，工程未作任何修改：%1").arg(ready.error()));
    if (!into.isEmpty()) {
        const auto written = commitLevelWrite(project, write);
        if (!written)
            return failure(QStringLiteral("%1 %2").arg(shownProjectPath(into), written.error()));
        out += (importSummary(paths.join(QStringLiteral("、")), *written) + QLatin1Char('\n')).toUtf8();
        if (!write.reportError.isEmpty()) {
            std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
            return failure(QStringLiteral("高程已写入，但平差报告未能保存：%1").arg(write.reportError));
        }
    } else if (write.report) {
        if (auto placed = write.report->commit(); !placed)
            return failure(placed.error());
    }
    if (!report.isEmpty() && format != QLatin1String("json"))
        out += QStringLiteral("平差报告：%1\n").arg(QDir::toNativeSeparators(report)).toUtf8();
    if (std::fwrite(out.constData(), 1, size_t(out.size()), stdout) != size_t(out.size()))
        return failure(QStringLiteral("cannot write to standard output"));
    return 0;
}

int server(const QStringList &args)
{
    const QString programDir = programDirectoryOf(QCoreApplication::applicationDirPath());
    const auto say = [](const Result<QString> &done) {
        if (!done)
            return failure(done.error());
        std::printf("%s\n", qPrintable(*done));
        return 0;
    };
    if (args.size() == 2 && args[0] == QLatin1String("init")) {
        const auto address = parseServerUrl(args[1]);
        if (!address)
            return usageError(address.error());
        return say(initialiseServer(*address, projectTemplatePath(programDir)));
    }
    if ((args.size() == 3 || (args.size() == 4 && args[3] == QLatin1String("--replace")))
        && args[0] == QLatin1String("push")) {
        const auto address = parseServerUrl(args[2]);
        if (!address)
            return usageError(address.error());
        const auto pushed = pushProject(args[1], *address, args.size() == 4);
        if (!pushed)
            return failure(pushed.error());
        if (!pushed->checked) {
            std::fprintf(stderr, "sedimetra-batch: %s\n", qPrintable(pushed->message));
            return 3;
        }
        std::printf("%s\n", qPrintable(pushed->message));
        return 0;
    }
    if (args.size() == 4 && args[0] == QLatin1String("grant")) {
        const auto address = parseServerUrl(args[1]);
        if (!address)
            return usageError(address.error());
        if (!QStringList{QStringLiteral("read"), QStringLiteral("write"), QStringLiteral("none")}
                 .contains(args[3]))
            return usageError(QStringLiteral("server grant takes read, write or none"));
        return say(grantProject(*address, args[2], args[3]));
    }
    if (args.size() == 2 && args[0] == QLatin1String("members")) {
        const auto address = parseServerUrl(args[1]);
        if (!address)
            return usageError(address.error());
        const auto members = projectMembers(*address);
        if (!members)
            return failure(members.error());
        for (const ProjectMember &m : *members)
            std::printf("%s\t%s\n", qPrintable(m.member), m.canWrite ? "write" : "read");
        if (members->empty())
            std::printf("%s\n", qPrintable(QStringLiteral("（没有成员；sedimetra_read 读、"
                                                          "sedimetra_admin 管理全部工程）")));
        return 0;
    }
    if (args.size() == 3 && args[0] == QLatin1String("pull")) {
        const auto address = parseServerUrl(args[1]);
        if (!address)
            return usageError(address.error());
        // Never over a file of the program.
        if (auto allowed = programFiles(programDir, QString()).checkOutput(args[2]); !allowed)
            return failure(allowed.error());
        return say(pullProject(*address, projectTemplatePath(programDir), args[2]));
    }
    return usageError(QStringLiteral("server takes init URL, push FILE URL [--replace], pull URL "
                                     "FILE, grant URL USER read|write|none or members URL"));
}

} // namespace

int main(int argc, char *argv[])
{
    // Before anything else: a password in an address stops being visible in
    // the process list (it was until now).
    bool passwordShown = false;
    const QStringList args = takeArgumentsHidingPasswords(argc, argv, &passwordShown).mid(1);
    if (passwordShown)
        std::fprintf(stderr, "%s\n",
                     qPrintable(QStringLiteral("sedimetra-batch: 警告：地址中的密码在命令启动时可被本机"
                                               "其他用户看到（进程列表），现已隐去；请改用 PGPASSWORD "
                                               "或 ~/.pgpass")));
    QCoreApplication app(argc, argv);
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));
    if (args.front() == QLatin1String("--help") || args.front() == QLatin1String("-h")) {
        std::printf("%s", usage);
        return 0;
    }
    {
        // The server waits as the settings say, when there are settings.
        SettingsStore settings;
        QString ignored;
        if (settings.open(systemDatabasePath(programDirectoryOf(QCoreApplication::applicationDirPath())),
                          &ignored))
            setServerWaits(settings);
    }
    if (args.front() == QLatin1String("curves"))
        return curves(args.mid(1));
    if (args.front() == QLatin1String("import"))
        return import(args.mid(1));
    if (args.front() == QLatin1String("table"))
        return table(args.mid(1));
    if (args.front() == QLatin1String("analyse"))
        return analyse(args.mid(1));
    if (args.front() == QLatin1String("server"))
        return server(args.mid(1));
    if (args.front() == QLatin1String("level"))
        return level(args.mid(1));
    return usageError(QStringLiteral("unknown command %1").arg(args.front()));
}
