#include "ProductRows.h"

#include "ProductTable.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <utility>

namespace {

const QString kConnection = QStringLiteral("test-rows");

// Runs `use` on a connection opened to `path` for this call alone.
template <typename Use> auto withConnection(const QString &path, Use use)
{
    decltype(use(std::declval<QSqlDatabase &>())) result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
        db.setDatabaseName(path);
        result = use(db);
    }
    QSqlDatabase::removeDatabase(kConnection);
    return result;
}

} // namespace

bool ProductRows::append(const QString &path, const QList<StoredRow> &rows)
{
    return withConnection(path, [&](QSqlDatabase &db) {
        QSqlQuery q(db);
        bool ok = db.open() && db.transaction()
            && (db.tables().contains(QLatin1String(ProductTable::name))
                || q.exec(QLatin1String(ProductTable::createSql)))
            && q.prepare(QLatin1String(ProductTable::insertSql));
        for (const StoredRow &row : rows) {
            if (!ok)
                break;
            for (const QVariant &v :
                { QVariant(row.uptime), QVariant(row.pid), QVariant(row.barcode), QVariant(row.psize),
                    QVariant(row.diameter), QVariant(row.appearance), QVariant(row.status) })
                q.addBindValue(v);
            ok = q.exec();
        }
        return ok && db.commit();
    });
}

QList<StoredRow> ProductRows::read(const QString &path)
{
    return withConnection(path, [&](QSqlDatabase &db) {
        QList<StoredRow> result;
        QSqlQuery query(db.open() ? db : QSqlDatabase());
        query.exec(QStringLiteral("select uptime, pid, barcode, psize, diameter, appearance, status from "
                                  "product_data_new order by id"));
        while (query.next())
            result << StoredRow { query.value(0).toString(), query.value(1).toInt(),
                query.value(2).toString(), query.value(3).toString(), query.value(4).toString(),
                query.value(5).toString(), query.value(6).toInt() };
        return result;
    });
}
