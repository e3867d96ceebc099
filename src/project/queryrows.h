#pragma once

// Reading a query's rows into values, for the project store's own files.
#include "project/projectdb.h"

#include <QSqlError>

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

