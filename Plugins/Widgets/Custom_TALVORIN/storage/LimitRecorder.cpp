#include "LimitRecorder.h"

#include "LimitTable.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cmath>

namespace {

bool same(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

} // namespace

void LimitRecorder::record(QSqlDatabase &db, const QMap<QString, Tolerance> &limits)
{
    if (!m_loaded && !load(db))
        return;
    QMap<QString, Tolerance> changed;
    for (auto it = limits.cbegin(); it != limits.cend(); ++it) {
        const auto kept = m_kept.constFind(it.key());
        if (kept == m_kept.cend() || !same(kept->low, it->low) || !same(kept->up, it->up))
            changed.insert(it.key(), it.value());
    }
    if (changed.isEmpty())
        return;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("select last_insert_rowid()")) || !query.next()) {
        report(query.lastError().text());
        return;
    }
    const qint64 productId = query.value(0).toLongLong();
    query.finish();
    QString error;
    if (!LimitTable::append(db, productId, changed, &error)) {
        report(error);
        return;
    }
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        m_kept.insert(it.key(), it.value());
    m_loggedError.clear();
}

bool LimitRecorder::load(QSqlDatabase &db)
{
    QString error;
    QVector<KeptLimit> entries;
    if (!LimitTable::create(db, &error) || !LimitTable::read(db, entries, &error)) {
        report(error);
        return false;
    }
    QMap<QString, qint64> latest;
    for (const KeptLimit &entry : qAsConst(entries)) {
        if (!latest.contains(entry.characteristic) || latest.value(entry.characteristic) < entry.fromId) {
            latest.insert(entry.characteristic, entry.fromId);
            m_kept.insert(entry.characteristic, entry.limits);
        }
    }
    m_loaded = true;
    return true;
}

void LimitRecorder::report(const QString &error)
{
    if (error == m_loggedError)
        return;
    m_loggedError = error;
    qWarning().noquote() << QStringLiteral("The products' limits are not kept: %1").arg(error);
}
