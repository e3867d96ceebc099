// A project's points (their names, styles and positions), its plan drawing
// and its colours, in the store.
#include "project/projectdb.h"

#include "project/queryrows.h"
#include "project/storedialect.h"

#include <QSqlError>
#include <QSqlQuery>

using namespace projectrows;

Result<QString> ProjectDatabase::pointColumns()
{
    if (!m_db.isOpen())
        return fail(QStringLiteral("没有打开的沉降工程"));
    const auto positions = m_dialect->hasPositions(m_db);
    if (!positions)
        return positions.failure();
    return *positions ? QStringLiteral("CjdNo, PointName, Aci, Mark, X, Y")
                      : QStringLiteral("CjdNo, PointName, Aci, Mark, NULL, NULL");
}

Result<std::vector<Point>> ProjectDatabase::points()
{
    const auto columns = pointColumns();
    if (!columns)
        return columns.failure();
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT %1 FROM Sur3 ORDER BY CjdNo").arg(*columns)))
        return fail(m_dialect->failure(query.lastError()));
    return allRows(query, pointFrom);
}

Result<std::optional<Point>> ProjectDatabase::pointByNumber(int cjdNo)
{
    const auto columns = pointColumns();
    if (!columns)
        return columns.failure();
    QSqlQuery query(m_db);
    if (!query.prepare(QStringLiteral("SELECT %1 FROM Sur3 WHERE CjdNo = ? LIMIT 1").arg(*columns)))
        return fail(m_dialect->failure(query.lastError()));
    query.bindValue(0, cjdNo);
    return firstRow(query, pointFrom);
}

Result<std::optional<Point>> ProjectDatabase::pointByName(const QString &name)
{
    const auto columns = pointColumns();
    if (!columns)
        return columns.failure();
    QSqlQuery query(m_db);
    if (!query.prepare(QStringLiteral("SELECT %1 FROM Sur3 WHERE %2 ORDER BY CjdNo LIMIT 1")
                           .arg(*columns, m_dialect->caseless("PointName"))))
        return fail(m_dialect->failure(query.lastError()));
    query.bindValue(0, name);
    return firstRow(query, pointFrom);
}

Result<void> ProjectDatabase::setPositions(
    const std::vector<std::pair<int, std::optional<Position>>> &positions)
{
    return recorded([&]() -> Result<void> {
        if (auto made = m_dialect->makePositions(m_db); !made)
            return made;
        QSqlQuery query(m_db);
        if (!query.prepare(QStringLiteral("UPDATE Sur3 SET X = ?, Y = ? WHERE CjdNo = ?")))
            return fail(m_dialect->failure(query.lastError()));
        for (const auto &[number, position] : positions) {
            query.bindValue(0, position ? QVariant(position->x) : QVariant());
            query.bindValue(1, position ? QVariant(position->y) : QVariant());
            query.bindValue(2, number);
            if (auto ran = run(query); !ran)
                return ran;
            if (query.numRowsAffected() < 1)
                return fail(QStringLiteral("找不到第 %1 号观测点").arg(number));
        }
        return success();
    });
}

Result<std::optional<PlanDrawingFile>> ProjectDatabase::planDrawing()
{
    if (!m_db.isOpen())
        return fail(QStringLiteral("没有打开的沉降工程"));
    const auto present = m_dialect->hasPositions(m_db);
    if (!present)
        return present.failure();
    if (!*present)
        return std::optional<PlanDrawingFile>();
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT Name, Data FROM PlanDrawing")))
        return fail(m_dialect->failure(query.lastError()));
    return firstRow(query, [](const QSqlQuery &row) {
        return PlanDrawingFile{textOf(row.value(0)), row.value(1).toByteArray()};
    });
}

Result<void> ProjectDatabase::setPlanDrawing(const PlanDrawingFile &drawing)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    if (drawing.data.size() > maxPlanDrawingBytes)
        return fail(QStringLiteral("平面图 %1 有 %2 MB，超过 %3 MB，不能存入工程")
                        .arg(drawing.name)
                        .arg(double(drawing.data.size()) / (1024 * 1024), 0, 'f', 1)
                        .arg(maxPlanDrawingBytes / (1024 * 1024)));
    return inTransaction([&]() -> Result<void> {
        if (auto made = m_dialect->makePositions(m_db); !made)
            return made;
        QSqlQuery query(m_db);
        if (!query.exec(QStringLiteral("DELETE FROM PlanDrawing")))
            return fail(m_dialect->failure(query.lastError()));
        if (!query.prepare(QStringLiteral("INSERT INTO PlanDrawing (Name, Data) VALUES (?, ?)")))
            return fail(m_dialect->failure(query.lastError()));
        query.bindValue(0, drawing.name);
        query.bindValue(1, drawing.data);
        return run(query);
    });
}

Result<void> ProjectDatabase::addPoint(const Point &point)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    QSqlQuery &query = statement(
        "addPoint",
        QStringLiteral("INSERT INTO Sur3 (CjdNo, PointName, Aci, Mark) VALUES (?, ?, ?, ?)"));
    query.bindValue(0, point.cjdNo);
    query.bindValue(1, point.name);
    query.bindValue(2, point.aci);
    query.bindValue(3, point.mark);
    // Recorded (its name is what later changes are compared with); a point
    // placed as it is added (a copy of a project) gets its position in the
    // same transaction.
    return recorded([&]() -> Result<void> {
        if (auto ran = run(query); !ran)
            return ran;
        if (!point.position)
            return success();
        return setPositions({{point.cjdNo, point.position}});
    });
}

Result<void> ProjectDatabase::setPointStyle(int cjdNo, int aci, const QString &mark)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    QSqlQuery &query =
        statement("setPointStyle", QStringLiteral("UPDATE Sur3 SET Aci = ?, Mark = ? WHERE CjdNo = ?"));
    query.bindValue(0, aci);
    query.bindValue(1, mark);
    query.bindValue(2, cjdNo);
    if (auto ran = run(query); !ran)
        return ran;
    if (query.numRowsAffected() < 1)
        return fail(QStringLiteral("找不到第 %1 号观测点").arg(cjdNo));
    return success();
}

Result<void> ProjectDatabase::renamePoint(int cjdNo, const QString &name)
{
    return recorded([&]() -> Result<void> {
        QSqlQuery &query =
            statement("renamePoint", QStringLiteral("UPDATE Sur3 SET PointName = ? WHERE CjdNo = ?"));
        query.bindValue(0, name);
        query.bindValue(1, cjdNo);
        if (auto ran = run(query); !ran)
            return ran;
        if (query.numRowsAffected() < 1)
            return fail(QStringLiteral("找不到第 %1 号观测点").arg(cjdNo));
        return success();
    });
}

Result<void> ProjectDatabase::deletePoint(int cjdNo)
{
    return recorded([&]() -> Result<void> {
        // The elevations first, recorded while the point still names them.
        QSqlQuery &removeElevations = statement(
            "deletePointElevations", QStringLiteral("DELETE FROM Sur2 WHERE CjdNo = ?"));
        removeElevations.bindValue(0, cjdNo);
        if (auto ran = run(removeElevations); !ran)
            return ran;
        QSqlQuery &removePoint =
            statement("deletePoint", QStringLiteral("DELETE FROM Sur3 WHERE CjdNo = ?"));
        removePoint.bindValue(0, cjdNo);
        return run(removePoint);
    });
}

Result<std::optional<Rgb>> ProjectDatabase::colour(int aci)
{
    QSqlQuery &query = statement(
        "colour",
        QStringLiteral("SELECT Rgb_R, Rgb_G, Rgb_B FROM AciRgb WHERE Aci_Color = ? LIMIT 1"));
    query.bindValue(0, aci);
    return firstRow(query, [](const QSqlQuery &row) {
        return Rgb{row.value(0).toInt(), row.value(1).toInt(), row.value(2).toInt()};
    });
}

Result<std::vector<std::pair<int, Rgb>>> ProjectDatabase::colours()
{
    QSqlQuery &query =
        statement("colours", QStringLiteral("SELECT Aci_Color, Rgb_R, Rgb_G, Rgb_B FROM AciRgb "
                                            "ORDER BY Aci_Color"));
    return allRows(query, colourFrom);
}
