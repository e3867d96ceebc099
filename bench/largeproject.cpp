#include "largeproject.h"

#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>

#include "project/settingsstore.h"
#include "project/projectdb.h"
#include "domain/pointstyle.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <cmath>
#include <random>

bool makeLargeProject(const QString &templatePath, const QString &path, int points, int epochs,
                      QString *error)
{
    if (auto made = ProjectDatabase::createFromTemplate(templatePath, path); !made) {
        *error = made.error();
        return false;
    }
    ProjectDatabase project;
    if (auto opened = project.open(path); !opened) {
        *error = opened.error();
        return false;
    }
    std::mt19937 random(20180301);
    std::uniform_real_distribution<double> spread(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.0001);

    const Result<void> done = project.inTransaction([&]() -> Result<void> {
        std::vector<double> first(size_t(points) + 1), total(size_t(points) + 1);
        for (int n = 1; n <= points; ++n) {
            first[size_t(n)] = 100.0 + 2.0 * spread(random);
            total[size_t(n)] = 0.015 + 0.03 * spread(random); // 15 to 45 mm in the end
            const PointStyle style = defaultPointStyle(n);
            if (auto added = project.addPoint({n, QStringLiteral("J%1").arg(n), style.aci, style.mark});
                !added)
                return added;
        }
        QDate date(2018, 3, 1);
        for (int k = 0; k < epochs; ++k) {
            if (k > 0)
                date = date.addDays(5 + int(spread(random) * 11));
            const int days = int(QDate(2018, 3, 1).daysTo(date));
            const QString layers = QString::number(std::min(30, k / 3));
            if (auto added = project.addEpoch({k, date.toString(QStringLiteral("yyyy-MM-dd")),
                                               QStringLiteral("第%1次").arg(k + 1), layers});
                !added)
                return added;
            for (int n = 1; n <= points; ++n) {
                const double sunk = total[size_t(n)] * (1.0 - std::exp(-days / 400.0));
                const double h = first[size_t(n)] - sunk + (k > 0 ? noise(random) : 0.0);
                if (auto stored = project.setElevation(k, n, std::round(h * 100000.0) / 100000.0);
                    !stored)
                    return stored;
            }
        }
        return success();
    });
    if (!done)
        *error = done.error();
    return done.ok();
}

bool copyProgramDirectory(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to)
        || !QFile::copy(from + QStringLiteral("/Sdmx.mdb"), to + QStringLiteral("/Sdmx.mdb")))
        return false;
    const QString support = from + QStringLiteral("/Support");
    QDirIterator it(support, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + QStringLiteral("/Support") + path.mid(support.size());
        if (it.fileInfo().isDir() ? !QDir().mkpath(target) : !QFile::copy(path, target))
            return false;
    }
    return true;
}

bool setPointCount(const QString &sdmx, int count, QString *error)
{
    SettingsStore settings;
    auto done = settings.open(sdmx);
    if (done)
        done = settings.writeSetting(SettingKey::PointCount, QString::number(count));
    if (!done)
        *error = done.error();
    return done.ok();
}

bool prepareBatchBenchmark(const QString &dir, QString *program, QString *project, QString *error)
{
    *program = dir + QStringLiteral("/program");
    *project = dir + QStringLiteral("/large.mdb");
    if (!copyProgramDirectory(QStringLiteral(SEDIMETRA_BIN_DIR), *program)
        || !QFile::copy(QStringLiteral(SEDIMETRA_BIN_DIR "/sedimetra-batch"),
                        *program + QStringLiteral("/sedimetra-batch"))) {
        *error = QStringLiteral("cannot copy the program directory");
        return false;
    }
    return makeLargeProject(*program + QStringLiteral("/Support/Db/数据库模板.mdb"), *project, 150,
                            300, error)
           && setPointCount(*program + QStringLiteral("/Sdmx.mdb"), 150, error);
}

std::vector<double> timeBatchRuns(const QString &program, const QStringList &arguments, int runs,
                                  QString *error)
{
    std::vector<double> times;
    for (int i = 0; i < runs + 1; ++i) {
        QProcess batch;
        QElapsedTimer timer;
        timer.start();
        batch.start(program + QStringLiteral("/sedimetra-batch"), arguments);
        if (!batch.waitForFinished(60000) || batch.exitStatus() != QProcess::NormalExit
            || batch.exitCode() != 0) {
            *error = QString::fromUtf8(batch.readAllStandardError());
            return {};
        }
        if (i > 0)
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times;
}
