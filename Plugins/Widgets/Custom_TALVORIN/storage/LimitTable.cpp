#include "LimitTable.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <limits>

namespace {

double limitValue(const QVariant &value)
{
    return value.isNull() ? std::numeric_limits<double>::quiet_NaN() : value.toDouble();
}

bool fail(const QSqlError &sqlError, QString *error)
{
    if (error)
        *error = sqlError.text();
    return false;
}

} // namespace

bool LimitTable::create(QSqlDatabase &db, QString *error)
{
    QSqlQuery query(db);
    return query.exec(QLatin1String(createSql)) || fail(query.lastError(), error);
}

bool LimitTable::append(
    QSqlDatabase &db, qint64 fromId, const QMap<QString, Tolerance> &limits, QString *error)
{
    if (!db.transaction())
        return fail(db.lastError(), error);
    if (!insert(db, fromId, limits, error)) {
        db.rollback();
        return false;
    }
    return db.commit() || fail(db.lastError(), error);
}

bool LimitTable::insert(
    QSqlDatabase &db, qint64 fromId, const QMap<QString, Tolerance> &limits, QString *error)
{
    QSqlQuery query(db);
    bool ok = query.prepare(QStringLiteral(
        "insert or replace into tlv_limits (characteristic, from_id, low, up) values (?, ?, ?, ?)"));
    for (auto it = limits.cbegin(); ok && it != limits.cend(); ++it) {
        query.addBindValue(it.key());
        query.addBindValue(fromId);
        query.addBindValue(it.value().low);
        query.addBindValue(it.value().up);
        ok = query.exec();
    }
    return ok || fail(query.lastError(), error);
}

bool LimitTable::read(QSqlDatabase &db, QVector<KeptLimit> &entries, QString *error)
{
    entries.clear();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(
            QStringLiteral("select count(*) from sqlite_master where type = 'table' and name = 'tlv_limits'"))
        || !query.next())
        return fail(query.lastError(), error);
    if (query.value(0).toInt() == 0)
        return true;
    if (!query.exec(QStringLiteral("select characteristic, from_id, low, up from tlv_limits")))
        return fail(query.lastError(), error);
    while (query.next()) {
        entries.append({ query.value(0).toString(), query.value(1).toLongLong(),
            Tolerance { limitValue(query.value(2)), limitValue(query.value(3)) } });
    }
    return !query.lastError().isValid() || fail(query.lastError(), error);
}

bool LimitTable::readFile(const QString &dbPath, QVector<KeptLimit> &entries, QString *error)
{
    const QString connection = QStringLiteral("tlv-limits-") + QUuid::createUuid().toString();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(dbPath);
        ok = db.open() ? read(db, entries, error) : fail(db.lastError(), error);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}
