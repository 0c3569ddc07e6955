#include "Database.h"

#include <QDir>
#include <QSqlError>

namespace {

constexpr const char* schema[] = {
    "PRAGMA journal_mode=WAL",
    // A committed write survives a crash of the service; only a power cut may lose the last ones.
    "PRAGMA synchronous=NORMAL",
    "PRAGMA foreign_keys=ON",
    R"(CREATE TABLE IF NOT EXISTS accounts (
        id INTEGER PRIMARY KEY, email TEXT UNIQUE, telegram TEXT UNIQUE, salt BLOB, pwhash BLOB,
        expire_at INTEGER, devices_limit INTEGER NOT NULL DEFAULT 1, trial_used INTEGER NOT NULL DEFAULT 0,
        referral TEXT NOT NULL UNIQUE, referred_by INTEGER, created INTEGER NOT NULL))",
    R"(CREATE TABLE IF NOT EXISTS tokens (
        digest BLOB PRIMARY KEY, account INTEGER NOT NULL REFERENCES accounts(id), created INTEGER NOT NULL))",
    R"(CREATE TABLE IF NOT EXISTS devices (
        account INTEGER NOT NULL REFERENCES accounts(id), hwid TEXT NOT NULL, model TEXT, os TEXT,
        version TEXT, bound INTEGER NOT NULL, PRIMARY KEY (account, hwid)))",
    R"(CREATE TABLE IF NOT EXISTS orders (
        id INTEGER PRIMARY KEY, account INTEGER NOT NULL REFERENCES accounts(id), kind TEXT NOT NULL,
        title TEXT NOT NULL, days INTEGER NOT NULL, devices INTEGER NOT NULL, amount INTEGER NOT NULL,
        currency TEXT NOT NULL, checkout TEXT NOT NULL UNIQUE, status TEXT NOT NULL, created INTEGER NOT NULL))",
    R"(CREATE TABLE IF NOT EXISTS promo_codes (code TEXT PRIMARY KEY, days INTEGER NOT NULL))",
    R"(CREATE TABLE IF NOT EXISTS promo_uses (
        account INTEGER NOT NULL REFERENCES accounts(id), code TEXT NOT NULL, PRIMARY KEY (account, code)))",
    R"(CREATE TABLE IF NOT EXISTS tg_keys (
        key TEXT PRIMARY KEY, created INTEGER NOT NULL, account INTEGER REFERENCES accounts(id)))",
    "INSERT OR IGNORE INTO promo_codes (code, days) VALUES ('VEMKO7', 7), ('VEMKO30', 30)",
};

} // namespace

bool Database::open(const QString& folder, QString* error) {
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("не удалось создать папку данных %1").arg(folder);
        return false;
    }
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    m_db.setDatabaseName(QDir(folder).filePath(QStringLiteral("service.sqlite")));
    if (!m_db.open()) {
        *error = m_db.lastError().text();
        return false;
    }
    for (const char* statement : schema) {
        QSqlQuery query(m_db);
        if (!query.exec(QString::fromUtf8(statement))) {
            *error = query.lastError().text();
            return false;
        }
    }
    return true;
}

QSqlQuery Database::run(const QString& sql, std::initializer_list<QVariant> values) {
    QSqlQuery query(m_db);
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        qWarning("vemko-devservice: %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    return query;
}

std::optional<QVariant> Database::one(const QString& sql, std::initializer_list<QVariant> values) {
    QSqlQuery query = run(sql, values);
    if (query.next())
        return query.value(0);
    return std::nullopt;
}
