#include "gui/startup.h"

#include "gui/mainwindow.h"
#include "gui/session.h"
#include "gui/messages.h"
#include "base/programfiles.h"
#include "base/settings.h"
#include "project/serverstore.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QFont>
#include <QString>

#include <cstdio>
#include <cstdlib>

std::unique_ptr<MainWindow> startup(const QString &programDir)
{
    auto settings = std::make_unique<SettingsStore>();
    if (!settings->open(systemDatabasePath(programDir))) {
        showMessage(nullptr, QStringLiteral("系统文件不全！"), QStringLiteral("Sedimetra"),
                    QMessageBox::Critical);
        return nullptr;
    }
    setServerWaits(*settings);
    const QString unit = unitFromSetting(settings->readSetting(SettingKey::ElevationUnit));
    const int pointCount = pointCountFromSetting(settings->readSetting(SettingKey::PointCount));

    auto window = std::make_unique<MainWindow>(programDir, std::move(settings));
    window->session().setUnit(unit);
    window->session().setPointCount(pointCount);
    window->loadMainWindow();
    window->show();
    return window;
}

namespace {

// A window needs a display. Say so in plain words rather than let the toolkit
// abort with a platform-plugin error.
bool haveDisplay()
{
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    const auto set = [](const char *name) {
        const char *value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

} // namespace

int runSedimetra(int argc, char *argv[], const QString &programDir,
                 const std::function<void(MainWindow &)> &onShown)
{
    if (!haveDisplay()) {
        std::fprintf(stderr,
                     "Sedimetra needs a graphical display, and none is set (DISPLAY is empty).\n"
                     "Start it from a desktop session, or on a machine without one under a "
                     "virtual display:\n  xvfb-run -a %s\n",
                     argc > 0 ? argv[0] : "sedimetra");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sedimetra"));
    // Qt's own texts (file dialogs, their questions, buttons) in Chinese,
    // as the window is.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(12);
    QApplication::setFont(font);

    const auto window = startup(
        programDirectoryOf(programDir.isEmpty() ? QApplication::applicationDirPath() : programDir));
    if (!window)
        return 1;
    if (onShown)
        onShown(*window);
    return app.exec();
}
