#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <initializer_list>
#include <optional>

// The service's state: one SQLite file in the data folder. Every statement is prepared with
// bound values; a failed statement is fatal only at start-up (the schema), otherwise it reads as
// "nothing found" and the caller answers with a Russian error.
class Database {
public:
    // Opens (or creates) `folder`/service.sqlite and its schema; false with `error` set on failure.
    bool open(const QString& folder, QString* error);

    QSqlQuery run(const QString& sql, std::initializer_list<QVariant> values = {});
    // The first column of the first row, when there is one.
    std::optional<QVariant> one(const QString& sql, std::initializer_list<QVariant> values = {});
    bool transaction() { return m_db.transaction(); }
    bool commit() { return m_db.commit(); }

private:
    QSqlDatabase m_db;
};
