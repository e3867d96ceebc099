#include "testsupport.h"

#include <algorithm>

#include "project/sqlscript.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTableWidget>
#include <QTimer>
#include <QUuid>

namespace testsupport {

ProjectSnapshot snapshotOf(const Records &records)
{
    auto elevations = records.elevations;
    std::stable_sort(elevations.begin(), elevations.end(), [](const Elevation &a, const Elevation &b) {
        return a.cjNo != b.cjNo ? a.cjNo < b.cjNo : a.cjdNo < b.cjdNo;
    });
    auto snapshot =
        ProjectSnapshot::fromRecords(records.epochs, records.points, elevations, records.colours);
    Q_ASSERT(snapshot.ok());
    return std::move(*snapshot);
}


namespace {

template <typename Work> auto withConnection(const QString &path, Work work)
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

QString projectTemplate()
{
    return QStringLiteral(SEDIMETRA_BIN_DIR "/Support/Db/数据库模板.mdb");
}

bool makeProject(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    return QFile::copy(projectTemplate(), path)
           && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                              | QFile::ReadOther);
}

bool makeSystemDatabase(const QString &dir)
{
    return withConnection(dir + QStringLiteral("/Sdmx.mdb"), [](QSqlDatabase &db) {
        const auto ran =
            runSqlScript(db, QStringLiteral(SEDIMETRA_SOURCE_DIR "/Support/Db/sdmx.sql"));
        if (!ran)
            qWarning("%s", qPrintable(ran.error()));
        return ran.ok();
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

QByteArray runPython(const QString &script, const QStringList &arguments, int timeoutMs)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), script} + arguments);
    if (!python.waitForFinished(timeoutMs) || python.exitCode() != 0) {
        qWarning("python3: %s", python.readAllStandardError().constData());
        return QByteArray();
    }
    return python.readAllStandardOutput().trimmed();
}

QJsonArray readWithPython(const QString &path, const QString &sql)
{
    return QJsonDocument::fromJson(
               runPython(QStringLiteral(
                             "import json, sqlite3, sys\n"
                             "db = sqlite3.connect('file:' + sys.argv[1] + '?mode=ro', uri=True)\n"
                             "print(json.dumps(db.execute(sys.argv[2]).fetchall()))\n"),
                         {path, sql}))
        .array();
}

bool TestProgram::make(const QList<std::pair<QString, QString>> &settings)
{
    if (!QDir().mkpath(programDir() + QStringLiteral("Support/Db")) || !QDir().mkpath(projects())
        || !makeSystemDatabase(QDir::cleanPath(programDir()))
        || !QFile::copy(projectTemplate(), templatePath()))
        return false;
    // The odd-change question belongs to the tests about it: wide limits
    // unless the settings give them.
    if (!storeSettingDirectly(sdmx(), QStringLiteral("高程突变限值"), QStringLiteral("1000000"))
        || !storeSettingDirectly(sdmx(), QStringLiteral("首次高程偏差限值"), QStringLiteral("1000000")))
        return false;
    for (const auto &[key, value] : settings)
        if (!storeSettingDirectly(sdmx(), key, value))
            return false;
    return true;
}

bool TestProgram::addFile(const QString &relative, const QByteArray &content)
{
    return writeFile(programDir() + relative, content);
}

QByteArray digestOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

ExclusiveLock::ExclusiveLock(const QString &path)
    : m_connection(QUuid::createUuid().toString())
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path);
    m_locked = db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE"));
}

ExclusiveLock::~ExclusiveLock()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClick(widget, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

DialogWatcher::DialogWatcher(QWidget *window)
    : m_window(window)
    , m_timer(new QTimer)
{
    m_timer->setInterval(10);
    QObject::connect(m_timer, &QTimer::timeout, [this] { poll(); });
    m_timer->start();
}

DialogWatcher::~DialogWatcher()
{
    delete m_timer;
}

void DialogWatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) {
        m_answering = nullptr;
        return;
    }
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        m_answering = nullptr;
        m_seen << SeenMessage{box->windowTitle(), box->text(), box->icon(),
                              m_window ? m_window->pos() : QPoint()};
        if (!m_typed.isEmpty())
            QTest::keyClicks(box, m_typed);
        if (m_key)
            QTest::keyClick(box, *m_key);
        else if (QAbstractButton *answer = box->button(m_answer))
            answer->click();
        else if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
        return;
    }
    if (modal->objectName() == QLatin1String("QuestionableDialog")) {
        // Seen as its points and reasons, one per line.
        QStringList lines;
        if (auto *table = modal->findChild<QTableWidget *>(QStringLiteral("QuestionableTable")))
            for (int row = 0; row < table->rowCount(); ++row)
                lines << table->item(row, 0)->text() + QLatin1Char(' ') + table->item(row, 2)->text();
        m_seen << SeenMessage{modal->windowTitle(), lines.join(QLatin1Char('\n')), QMessageBox::NoIcon,
                              m_window ? m_window->pos() : QPoint()};
        QPointer<QWidget> dialog = modal;
        if (!m_typed.isEmpty())
            QTest::keyClicks(modal, m_typed);
        if (m_key && dialog)
            QTest::keyClick(modal, *m_key);
        if (!dialog || !dialog->isVisible())
            return;
        for (QPushButton *button : modal->findChildren<QPushButton *>())
            if (button->text() == m_questionableButton) {
                button->click();
                break;
            }
        // Answered in full: a confirmation that leaves points open is
        // answered again with the button that closes.
        if (dialog && dialog->isVisible())
            qobject_cast<QDialog *>(modal)->reject();
        return;
    }
    if (modal->objectName() == QLatin1String("PointPickDialog")) {
        auto *dialog = qobject_cast<QDialog *>(modal);
        auto *x = modal->findChild<QLineEdit *>(QStringLiteral("X"));
        auto *y = modal->findChild<QLineEdit *>(QStringLiteral("Y"));
        m_suggestions << x->text() + QLatin1Char(',') + y->text();
        const auto point = m_picks.isEmpty() ? std::optional<QPointF>() : m_picks.takeFirst();
        if (!point) {
            dialog->reject();
            return;
        }
        x->setText(QString::number(point->x()));
        y->setText(QString::number(point->y()));
        dialog->accept();
        return;
    }
    if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        // Accepting runs later, from the event loop: the dialog may then ask
        // a question of its own, answered by a later poll.
        if (dialog == m_answering)
            return;
        m_answering = dialog;
        m_fileTitles << dialog->windowTitle();
        m_fileFilters << dialog->nameFilters().join(QLatin1Char(';'));
        const QString path = m_files.isEmpty() ? QString() : m_files.takeFirst();
        if (path.isEmpty()) {
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            return;
        }
        // Typed into the file name box in full, as a user may: the dialog's
        // own loading of the folder cannot then change what was chosen.
        QPointer<QFileDialog> target = dialog;
        QTimer::singleShot(0, dialog, [target, path] {
            if (auto *name = target ? target->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                                    : nullptr) {
                name->setText(path);
                QMetaObject::invokeMethod(target, "accept", Qt::DirectConnection);
            }
        });
    }
}

} // namespace testsupport
