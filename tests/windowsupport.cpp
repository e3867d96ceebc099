#include "windowsupport.h"

#include "gui/mainwindow.h"
#include "gui/projectcommands.h"
#include "gui/startup.h"
#include "project/projectdb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>

namespace testsupport {

void click(QWidget *window, const char *button)
{
    QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
}

QList<SeenMessage> messagesWithoutProject(const char *button)
{
    TestProgram program;
    if (!program.make())
        return {};
    const auto window = startup(program.programDir());
    if (!window)
        return {};
    DialogWatcher watcher(window.get());
    click(window.get(), button);
    return watcher.seen();
}

WindowSession::WindowSession() = default;
WindowSession::~WindowSession() = default;

bool WindowSession::makeProgram(const QList<std::pair<QString, QString>> &settings,
                                const QStringList &support)
{
    if (!program.make(settings))
        return false;
    for (const QString &file : support) {
        const QString relative = QStringLiteral("Support/") + file;
        QDir().mkpath(QFileInfo(program.programDir() + relative).absolutePath());
        if (!QFile::copy(QStringLiteral(SEDIMETRA_BIN_DIR "/") + relative,
                         program.programDir() + relative))
            return false;
    }
    return true;
}

bool WindowSession::makeProjectFile(const QString &name,
                                    const std::function<Result<void>(ProjectDatabase &)> &fill)
{
    project = program.projects() + name;
    if (!makeProject(project))
        return false;
    ProjectDatabase db;
    return db.open(project) && db.addEpoch({0, "2018-01-01", "A", "2"})
           && db.addEpoch({1, "2018-01-11", "B", "4"}) && (!fill || fill(db));
}

bool WindowSession::openWindow()
{
    window = startup(program.programDir());
    if (!window || !QTest::qWaitForWindowExposed(window.get())
        || !window->projectCommands().openProjectFile(project))
        return false;
    // What the window does once the project is shown (its record checked).
    QCoreApplication::processEvents();
    return true;
}

QString WindowSession::besideProject(const QString &extension) const
{
    const QFileInfo info(project);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + extension;
}

} // namespace testsupport
