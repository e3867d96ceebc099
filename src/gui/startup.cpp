#include "gui/startup.h"

#include "gui/mainwindow.h"
#include "gui/session.h"
#include "gui/messages.h"
#include "base/programfiles.h"
#include "project/settingsstore.h"
#include "project/serverstore.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
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

// The program's icon, as packaging/sedimetra.svg draws it: a building
// leaning with the baseline that settled under one side, and the arrow of
// the settlement.
static QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xf4, 0xf6, 0xf8));
        p.drawRoundedRect(QRectF(0, 0, 64, 64), 10, 10);
        p.setPen(QPen(QColor(0x3b, 0x4a, 0x5a), 2.5));
        p.drawLine(QPointF(6, 50), QPointF(58, 56));
        p.save();
        p.translate(32, 53);
        p.rotate(6.6);
        p.translate(-32, -53);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x2f, 0x6d, 0xb5));
        p.drawRect(QRectF(20, 14, 24, 38));
        p.setBrush(QColor(0xdc, 0xe9, 0xf7));
        for (const double y : {19.0, 28.0, 37.0})
            for (const double x : {24.0, 35.0})
                p.drawRect(QRectF(x, y, 5, 5));
        p.drawRect(QRectF(29, 44, 6, 8));
        p.restore();
        p.setPen(QPen(QColor(0xd2, 0x34, 0x2b), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(53, 30), QPointF(53, 44));
        const QPointF head[] = {{49, 40}, {53, 45}, {57, 40}};
        p.drawPolyline(head, 3);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

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
    QApplication::setWindowIcon(programIcon());

    const auto window = startup(programDir.isEmpty()
                                    ? locateProgram(QApplication::applicationDirPath(), defaultUserDataDir())
                                    : programDirectoryOf(programDir));
    if (!window)
        return 1;
    if (onShown)
        onShown(*window);
    return app.exec();
}
