// sedimetra-batch analyse: the stability verdict and the settlement
// prediction of a project, as text, CSV or JSON.
#include "batch/commandline.h"

#include "base/programfiles.h"
#include "project/settingsstore.h"
#include "domain/buildingdeformation.h"
#include "domain/monitoringmodel.h"
#include "domain/stability.h"
#include "survey/domaininputs.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

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

} // namespace

int analyseCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral(
        "analyse PROJECT.mdb [--window D] [--limit R] [--step D] [--format text|csv|json]"));
    line.option(QStringLiteral("window"), QStringLiteral("D"), QStringLiteral("the days the rate is judged over"));
    line.option(QStringLiteral("limit"), QStringLiteral("R"), QStringLiteral("the stable rate, mm/d"));
    line.option(QStringLiteral("step"), QStringLiteral("D"), QStringLiteral("the step of the Asaoka prediction, days"));
    line.option(QStringLiteral("format"), QStringLiteral("text|csv|json"), QStringLiteral("the output's form"));
    if (const auto done = line.parse(args, 1, 1))
        return *done;
    const QString projectPath = line.positional().front();
    const QString format = line.value(QStringLiteral("format"), QStringLiteral("text"));
    if (format != QLatin1String("text") && format != QLatin1String("csv")
        && format != QLatin1String("json"))
        return line.wrong(QStringLiteral("--format must be text, csv or json"));

    SettingsStore settings;
    std::map<QString, QString> headerFields;
    const auto snapshot = openInputs(projectPath, &settings, &headerFields);
    if (!snapshot)
        return failure(snapshot.error());
    StabilitySettings chosen = stabilitySettingsFrom(settings, headerFields);
    // Whole days of at least one, and a limit above zero.
    const auto days = [&](const char *option, int *value) {
        if (!line.isSet(QLatin1String(option)))
            return true;
        bool ok = false;
        const int given = line.value(QLatin1String(option)).toInt(&ok);
        if (!ok || given < 1)
            return false;
        *value = given;
        return true;
    };
    if (!days("window", &chosen.window))
        return line.wrong(QStringLiteral("--window takes a whole number of days, at least 1"));
    if (!days("step", &chosen.step))
        return line.wrong(QStringLiteral("--step takes a whole number of days, at least 1"));
    if (line.isSet(QStringLiteral("limit"))) {
        bool ok = false;
        const double limit = line.value(QStringLiteral("limit")).toDouble(&ok);
        if (!ok || !std::isfinite(limit) || !(limit > 0))
            return line.wrong(QStringLiteral("--limit takes a rate in mm/d above 0"));
        chosen.limit = limit;
    }
    // The one model of the project; the deformation of every epoch only for
    // the JSON, which gives it.
    MonitoringRequest asked;
    asked.stability = chosen;
    asked.lastPoint = pointCountFromSetting(settings.readSetting(SettingKey::PointCount));
    asked.history = format == QLatin1String("json");
    const DeformationSettings deformation =
        deformationSettings(deformationLimitsPath(programDir()), headerFields, *snapshot);
    if (asked.history && !deformation.problem.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(deformation.problem));
    const MonitoringModel model = monitoringModel(*snapshot, deformation, asked);
    const StabilityAnalysis &analysis = *model.stability;

    QByteArray out;
    if (format == QLatin1String("json") && model.history) {
        // The building's deformation and the alarms beside the stability.
        out = QJsonDocument(analysisJson(model, *snapshot)).toJson(QJsonDocument::Indented);
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
    if (!writeOut(out))
        return failure(QStringLiteral("cannot write the analysis to standard output"));
    return 0;
}
