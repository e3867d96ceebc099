// sedimetra-batch import: the elevations of a workbook into one epoch, as
// the window's "调入数据" takes them (one transaction).
#include "batch/commandline.h"

#include "base/programfiles.h"
#include "project/settingsstore.h"
#include "project/projectdb.h"
#include "project/serverstore.h"
#include "survey/observationimport.h"
#include "domain/settlementrules.h"
#include "survey/domaininputs.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

int importCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("import PROJECT.mdb --epoch N FILE.xls|FILE.xlsx"));
    line.option(QStringLiteral("epoch"), QStringLiteral("N"), QStringLiteral("the epoch the elevations go into"));
    if (const auto done = line.parse(args, 2, 2))
        return *done;
    if (!line.isSet(QStringLiteral("epoch")))
        return line.wrong(QStringLiteral("import takes --epoch N"));
    const QString projectPath = line.positional()[0];
    bool isNumber = false;
    const int epoch = line.value(QStringLiteral("epoch")).toInt(&isNumber);
    if (!isNumber)
        return line.wrong(QStringLiteral("--epoch takes an epoch number"));
    const QString workbook = line.positional()[1];

    const QString programDir = ::programDir();
    SettingsStore settings;
    if (auto opened = settings.open(systemDatabasePath(programDir)); !opened)
        return failure(QStringLiteral("cannot open the system database %1: %2")
                           .arg(QDir::toNativeSeparators(systemDatabasePath(programDir)),
                                opened.error()));
    ProjectDatabase project;
    auto session = openSession(projectPath, &settings);
    if (!session)
        return failure(session.error());
    const auto known = (*session)->store()->epochByNumber(epoch);
    if (!known)
        return failure(known.error());
    if (!*known)
        return failure(QStringLiteral("the project %1 has no epoch %2")
                           .arg(QDir::toNativeSeparators(shownProjectPath(projectPath)))
                           .arg(epoch));

    const auto read = readObservationRows(workbook);
    if (!read)
        return failure(read.error());
    switch (read->source) {
    case ImportSource::NotFound:
        return failure(QStringLiteral("找不到数据源！ (%1)").arg(read->detail));
    case ImportSource::Empty:
        return failure(QStringLiteral("数据源为空！ (%1)").arg(QDir::toNativeSeparators(workbook)));
    case ImportSource::Read:
        break;
    }
    const auto result = (*session)->importObservations(
        epoch, read->rows, unitFromSetting(settings.readSetting(SettingKey::ElevationUnit)),
        plausibilityLimits(settings), read->provenance);
    if (!result)
        return failure(QStringLiteral("调入失败，工程未作任何修改：%1 %2")
                           .arg(QDir::toNativeSeparators(shownProjectPath(projectPath)), result.error()));
    std::printf("%s\n", qPrintable(importSummary(QFileInfo(workbook).fileName(), *result)));
    // Nothing imported is no success: a script must not go on as if it were.
    if (const QString why = nothingImportedReason(*result); !why.isEmpty())
        return failure(QStringLiteral("没有调入任何高程：%1").arg(why));
    return 0;
}
