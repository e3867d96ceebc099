// The program as it starts, ending as soon as its window has been painted for
// the first time. Run by bench_startup, which times whole processes.
//
//   sedimetra-startup-probe PROGRAM_DIR
#include "gui/mainwindow.h"
#include "gui/startup.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

namespace {

class FirstPaint : public QObject
{
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

} // namespace

int main(int argc, char *argv[])
{
    const QString programDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    FirstPaint firstPaint;
    return runSedimetra(argc, argv, programDir, [&firstPaint](MainWindow &window) {
        window.installEventFilter(&firstPaint);
    });
}
