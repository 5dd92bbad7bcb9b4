#include "ProductTable.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <iterator>

ProductTable::ColumnCheck ProductTable::checkColumns(const QSqlDatabase &db)
{
    ColumnCheck check;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA table_info(product_data_new)")))
        return check;
    check.read = true;
    QStringList present;
    while (query.next()) {
        const QString column = query.value(1).toString();
        present << column;
        const bool notNull = query.value(3).toInt() != 0;
        const bool noDefault = query.value(4).isNull();
        const bool key = query.value(5).toInt() != 0;
        const bool written = std::any_of(std::begin(columns), std::end(columns), [&column](const char *name) {
            return column.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
        });
        if (notNull && noDefault && !key && !written)
            check.unfillable << column;
    }
    for (const char *column : columns)
        if (!present.contains(QLatin1String(column), Qt::CaseInsensitive))
            check.missing << QLatin1String(column);
    return check;
}
