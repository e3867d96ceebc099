#pragma once

// Reading a query's rows into values, for the project store's own files.
#include "project/projectdb.h"

#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <limits>

template <typename Make>
auto ProjectDatabase::allRows(QSqlQuery &query, Make make)
    -> Result<std::vector<decltype(make(query))>>
{
    if (auto ran = run(query); !ran)
        return ran.failure();
    std::vector<decltype(make(query))> rows;
    while (query.next())
        rows.push_back(make(query));
    // A row that cannot be read (a damaged page) is a failure, never the
    // end of the data.
    const QSqlError error = query.lastError();
    query.finish();
    if (error.isValid())
        return fail(error.text());
    return rows;
}

template <typename Make>
auto ProjectDatabase::firstRow(QSqlQuery &query, Make make)
    -> Result<std::optional<decltype(make(query))>>
{
    if (auto ran = run(query); !ran)
        return ran.failure();
    std::optional<decltype(make(query))> row;
    if (query.next())
        row = make(query);
    const QSqlError error = query.lastError();
    query.finish();
    if (error.isValid())
        return fail(error.text());
    return row;
}

// A row of the store's tables as a value.
namespace projectrows {

inline QString textOf(const QVariant &value)
{
    return value.isNull() ? QString() : value.toString();
}

// The current row of a query over CjNo, MyDate, Name, Layers.
inline Epoch epochFrom(const QSqlQuery &query)
{
    return Epoch{query.value(0).toInt(), textOf(query.value(1)), textOf(query.value(2)),
                 textOf(query.value(3))};
}

// The current row of a query over CjdNo, PointName, Aci, Mark.
inline Point pointFrom(const QSqlQuery &query)
{
    Point point{query.value(0).toInt(), textOf(query.value(1)), query.value(2).toInt(),
                textOf(query.value(3)), std::nullopt};
    bool xOk = false, yOk = false;
    const double x = query.value(4).toDouble(&xOk), y = query.value(5).toDouble(&yOk);
    if (xOk && yOk && !query.value(4).isNull() && !query.value(5).isNull() && std::isfinite(x)
        && std::isfinite(y))
        point.position = Position{x, y};
    return point;
}

// An elevation that is no number (a text, NULL) reads as NaN: missing, never 0.
inline Elevation elevationFrom(const QSqlQuery &query)
{
    const QVariant h = query.value(2);
    bool number = false;
    const double metres = h.isNull() ? 0 : h.toDouble(&number);
    return Elevation{query.value(0).toInt(), query.value(1).toInt(),
                     number ? metres : std::numeric_limits<double>::quiet_NaN()};
}

inline QVariant firstValue(const QSqlQuery &query)
{
    return query.value(0);
}

inline std::pair<int, Rgb> colourFrom(const QSqlQuery &query)
{
    return {query.value(0).toInt(),
            Rgb{query.value(1).toInt(), query.value(2).toInt(), query.value(3).toInt()}};
}

} // namespace projectrows
