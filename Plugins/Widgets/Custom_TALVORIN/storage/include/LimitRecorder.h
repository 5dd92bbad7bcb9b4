#pragma once

#include "Tolerance.h"

#include <QMap>
#include <QSqlDatabase>
#include <QString>

// Keeps the limits of the panel's products in the LimitTable: after a product is stored, the
// limits that differ from the ones kept last are written, starting at that product's id. A
// failure is logged (once until it changes) and tried again with the next product; the product
// itself is stored already and stays so.
class LimitRecorder
{
public:
    // `db` is the connection that has just inserted the product.
    void record(QSqlDatabase &db, const QMap<QString, Tolerance> &limits);

private:
    bool load(QSqlDatabase &db);
    void report(const QString &error);

    bool m_loaded = false;
    QMap<QString, Tolerance> m_kept; // the latest entry of each characteristic
    QString m_loggedError;
};
