// sedimetra-batch level: the digital level's raw files checked and
// adjusted; with --into, the heights of the project's points go into an
// epoch as an import does, and the report beside the project.
#include "batch/commandline.h"

#include "base/outputguard.h"
#include "base/programfiles.h"
#include "base/savefile.h"
#include "project/settingsstore.h"
#include "project/projectdb.h"
#include "project/serverstore.h"
#include "report/levelreport.h"
#include "survey/levelling.h"
#include "survey/observationimport.h"
#include "domain/settlementrules.h"
#include "survey/domaininputs.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace {

// What the command line asks.
struct LevelRequest
{
    LevelSettings settings;
    QStringList paths;
    QString format, into, report;
    std::optional<int> epoch;
    bool newEpoch = false;
};

// The command line read into `asked`; an exit code when it is wrong or
// asked for help.
std::optional<int> readLevelLine(CommandLine &line, const QStringList &args, const std::vector<LevelGrade> &grades,
                                 LevelRequest &asked)
{
    LevelSettings &settings = asked.settings;
    line.option(QStringLiteral("fixed"), QStringLiteral("ID=H"), QStringLiteral("a fixed point and its height, m (again for more)"));
    line.option(QStringLiteral("grade"), QStringLiteral("NAME"), QStringLiteral("the levelling grade (its name or the start of it)"));
    line.option(QStringLiteral("distribute"), QStringLiteral("stations|distance"), QStringLiteral("how corrections are shared"));
    line.option(QStringLiteral("format"), QStringLiteral("text|json"), QStringLiteral("the output's form"));
    line.option(QStringLiteral("into"), QStringLiteral("PROJECT.mdb"), QStringLiteral("the project the heights go into"));
    line.option(QStringLiteral("epoch"), QStringLiteral("N"), QStringLiteral("the epoch they go into"));
    line.option(QStringLiteral("report"), QStringLiteral("FILE.xlsx"), QStringLiteral("the adjustment report"));
    line.flag(QStringLiteral("new-epoch"), QStringLiteral("make the epoch the heights go into, in one transaction with them"));
    line.option(QStringLiteral("date"), QStringLiteral("YYYY-MM-DD"), QStringLiteral("the new epoch's date"));
    line.option(QStringLiteral("name"), QStringLiteral("NAME"), QStringLiteral("the new epoch's name"));
    line.option(QStringLiteral("layers"), QStringLiteral("N"), QStringLiteral("the new epoch's load floors"));
    if (const auto done = line.parse(args, 0, -1))
        return done;
    asked.paths = line.positional();
    for (const QString &value : line.values(QStringLiteral("fixed"))) {
        const qsizetype equals = value.lastIndexOf(QLatin1Char('='));
        bool ok = false;
        const double h = equals > 0 ? value.mid(equals + 1).toDouble(&ok) : 0;
        if (!ok || !usableElevation(h) || equals <= 0)
            return line.wrong(QStringLiteral("--fixed takes ID=HEIGHT (metres, a usable elevation)"));
        settings.fixed[value.left(equals)] = h;
    }
    if (line.isSet(QStringLiteral("grade"))) {
        const QString value = line.value(QStringLiteral("grade"));
        const auto chosen = std::find_if(grades.begin(), grades.end(), [&](const LevelGrade &grade) {
            return grade.name == value || grade.name.startsWith(value);
        });
        if (chosen == grades.end())
            return line.wrong(QStringLiteral("no grade %1").arg(value));
        settings.grade = *chosen;
    }
    const QString distribute = line.value(QStringLiteral("distribute"), QStringLiteral("stations"));
    if (distribute != QLatin1String("stations") && distribute != QLatin1String("distance"))
        return line.wrong(QStringLiteral("--distribute takes stations or distance"));
    settings.byDistance = distribute == QLatin1String("distance");
    asked.format = line.value(QStringLiteral("format"), QStringLiteral("text"));
    if (asked.format != QLatin1String("text") && asked.format != QLatin1String("json"))
        return line.wrong(QStringLiteral("--format must be text or json"));
    asked.into = line.value(QStringLiteral("into"));
    asked.report = line.value(QStringLiteral("report"));
    std::optional<int> &epoch = asked.epoch;
    const QString &into = asked.into;
    if (line.isSet(QStringLiteral("epoch"))) {
        bool ok = false;
        epoch = line.value(QStringLiteral("epoch")).toInt(&ok);
        if (!ok)
            return line.wrong(QStringLiteral("--epoch takes an epoch number"));
    }
    if (asked.paths.isEmpty())
        return line.wrong(QStringLiteral("no level file given"));
    const bool newEpoch = asked.newEpoch = line.isSet(QStringLiteral("new-epoch"));
    if (newEpoch && (into.isEmpty() || epoch || !line.isSet(QStringLiteral("date")) || !line.isSet(QStringLiteral("name"))
                     || !line.isSet(QStringLiteral("layers"))))
        return line.wrong(QStringLiteral("--new-epoch goes with --into, --date, --name and --layers, not --epoch"));
    if (!newEpoch && into.isEmpty() != !epoch.has_value())
        return line.wrong(QStringLiteral("--into and --epoch go together"));
    return std::nullopt;
}


// The project the heights go into, opened through its session: its points
// are those the adjustment knows, and its reference point the fixed one
// unless others are given.
Result<std::unique_ptr<ProjectSession>> openTarget(SettingsStore &programSettings, const QString &programDir,
                                                   LevelRequest &asked)
{
    if (auto opened = programSettings.open(systemDatabasePath(programDir)); !opened)
        return opened.failure();
    auto session = openSession(asked.into, &programSettings);
    if (!session)
        return session.failure();
    for (const Point &point : (*session)->snapshot().points())
        asked.settings.knownPoints.insert(point.name);
    if (asked.settings.fixed.empty())
        asked.settings.fixed = projectBenchmark((*session)->fields());
    return session;
}

// The report put in place (after the transaction, with a new epoch), and
// what was done told on standard output.
int finishLevel(const LevelRequest &asked, const std::optional<NewEpoch> &made, LevelWrite &write,
                const std::optional<Result<ImportResult>> &written, QByteArray out)
{
    if (made && write.report) {
        if (auto placed = write.report->commit(); !placed)
            write.reportError = placed.error();
        write.report.reset();
    }
    if (!asked.into.isEmpty()) {
        if (made)
            out += (newEpochText(*made) + QLatin1Char('\n')).toUtf8();
        out += (importSummary(asked.paths.join(QStringLiteral("、")), **written) + QLatin1Char('\n')).toUtf8();
        if (!write.reportError.isEmpty()) {
            std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
            return failure(QStringLiteral("高程已写入，但平差报告未能保存：%1").arg(write.reportError));
        }
    } else if (write.report) {
        if (auto placed = write.report->commit(); !placed)
            return failure(placed.error());
    }
    if (!asked.report.isEmpty() && asked.format != QLatin1String("json"))
        out += QStringLiteral("平差报告：%1\n").arg(QDir::toNativeSeparators(asked.report)).toUtf8();
    if (std::fwrite(out.constData(), 1, size_t(out.size()), stdout) != size_t(out.size()))
        return failure(QStringLiteral("cannot write to standard output"));
    return 0;
}

} // namespace

int levelCommand(const QStringList &args)
{
    const QString programDir = ::programDir();
    const auto grades = readGrades(levelGradesPath(programDir));
    if (!grades)
        return failure(grades.error());
    CommandLine line(QStringLiteral(
        "level FILE... [--fixed ID=H ...] [--grade NAME] [--distribute stations|distance]\n"
        "       [--format text|json] [--into PROJECT.mdb --epoch N | --into PROJECT.mdb --new-epoch\n"
        "       --date YYYY-MM-DD --name NAME --layers N] [--report FILE.xlsx]"));
    LevelRequest asked;
    asked.settings.grade = grades->front();
    if (const auto done = readLevelLine(line, args, *grades, asked))
        return *done;
    LevelSettings &settings = asked.settings;
    const QStringList &paths = asked.paths;
    const QString &format = asked.format, &into = asked.into;
    QString &report = asked.report;
    std::optional<int> &epoch = asked.epoch;
    const bool newEpoch = asked.newEpoch;
    // Every write goes through the project's session; the adjustment reads
    // the project through its store.
    SettingsStore programSettings;
    std::unique_ptr<ProjectSession> session;
    if (!into.isEmpty()) {
        auto opened = openTarget(programSettings, programDir, asked);
        if (!opened)
            return failure(opened.error());
        session = std::move(*opened);
    }
    std::optional<NewEpoch> made;
    if (newEpoch) {
        bool malformed = false;
        auto planned = newEpochOf(session->snapshot().epochs(), line.value(QStringLiteral("date")),
                                  line.value(QStringLiteral("name")),
                                  line.value(QStringLiteral("layers")), &malformed);
        if (!planned)
            return malformed ? line.wrong(planned.error()) : failure(planned.error());
        made = *planned;
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
    // A new epoch, the heights and the report are one piece of work: the
    // epoch is made in the transaction that writes the heights, and nothing
    // stays of it when any part fails.
    std::optional<Result<ImportResult>> written;
    const auto prepareAndWrite = [&](ProjectDatabase *project) -> Result<void> {
        if (made) {
            if (auto added = writeNewEpoch(*project, *made); !added)
                return fail(QStringLiteral("调入失败，工程未作任何修改：%1").arg(added.error()));
            epoch = made->epoch.cjNo;
        }
        if (!into.isEmpty()) {
            auto prepared = prepareLevelWrite(*project, *epoch, *result, files, plausibilityLimits(programSettings));
            if (!prepared)
                return fail(QStringLiteral("调入失败，工程未作任何修改：%1 %2")
                                .arg(shownProjectPath(into), prepared.error()));
            write = std::move(*prepared);
            // The adjustment report goes beside the project, named after the epoch.
            if (report.isEmpty())
                if (const auto known = project->epochByNumber(*epoch); known && *known)
                    report = levelReportPath(outputPathOf(into, QString()), (*known)->name);
        }
        if (!report.isEmpty())
            if (auto ready = prepareLevelReport(write, *result, settings.grade,
                                                into.isEmpty() ? QString()
                                                               : QFileInfo(outputPathOf(into, QString())).fileName(),
                                                report, keep);
                !ready)
                return fail(into.isEmpty() ? ready.error()
                                           : QStringLiteral("调入失败，工程未作任何修改：%1").arg(ready.error()));
        if (into.isEmpty())
            return success();
        // With a new epoch the heights join its transaction, and the report
        // is put in place once that is committed.
        written = made ? writeImport(*project, write.plan)
                       : commitLevelWrite(write, [&](const ImportPlan &plan) { return session->writeImport(plan); });
        if (!*written)
            return fail(QStringLiteral("%1 %2").arg(shownProjectPath(into), written->error()));
        return success();
    };
    if (auto done = made ? session->writeTogether([&](ProjectDatabase &project) { return prepareAndWrite(&project); })
                         : prepareAndWrite(session ? session->store() : nullptr);
        !done) {
        write.report.reset();
        return failure(done.error());
    }
    return finishLevel(asked, made, write, written, std::move(out));
}
