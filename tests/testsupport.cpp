#include "testsupport.h"

#include "project/sqlscript.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>
#include <QUuid>

namespace testsupport {

namespace {

template<typename Work>
auto withConnection(const QString &path, Work work)
{
    const QString name = QUuid::createUuid().toString();
    auto result = [&] {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
        auto value = work(db);
        db.close();
        return value;
    }();
    QSqlDatabase::removeDatabase(name);
    return result;
}

} // namespace

bool makeSystemDatabase(const QString &dir)
{
    return withConnection(dir + QStringLiteral("/Sdmx.mdb"), [](QSqlDatabase &db) {
        QString error;
        const bool ok = runSqlScript(
            db, QStringLiteral(SEDIMETRA_SOURCE_DIR "/Support/Db/sdmx.sql"), &error);
        if (!ok)
            qWarning("%s", qPrintable(error));
        return ok;
    });
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

std::optional<QString> storedSetting(const QString &sdmxPath, const QString &key)
{
    return withConnection(sdmxPath, [&](QSqlDatabase &db) -> std::optional<QString> {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("SELECT Value FROM Para1 WHERE Name = ?"));
        query.addBindValue(key);
        if (!query.exec() || !query.next())
            return std::nullopt;
        return query.value(0).toString();
    });
}

bool storeSettingDirectly(const QString &sdmxPath, const QString &key, const QString &value)
{
    return withConnection(sdmxPath, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO Para1 (Name, Value) VALUES (?, ?)"));
        query.addBindValue(key);
        query.addBindValue(value);
        return query.exec();
    });
}

void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClick(widget, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c),
                                Qt::NoModifier);
    }
}

MessageWatcher::MessageWatcher(QWidget *window)
    : m_window(window)
    , m_timer(new QTimer)
{
    m_timer->setInterval(10);
    QObject::connect(m_timer, &QTimer::timeout, [this] { poll(); });
    m_timer->start();
}

MessageWatcher::~MessageWatcher()
{
    delete m_timer;
}

void MessageWatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    SeenMessage seen{box->windowTitle(), box->text(), box->icon(),
                     m_window ? m_window->pos() : QPoint()};
    m_seen << seen;
    if (QAbstractButton *ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}

} // namespace testsupport
