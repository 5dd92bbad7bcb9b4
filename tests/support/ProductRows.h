#pragma once

#include "StoredRow.h"

#include <QList>
#include <QString>

// The product table of a database file, written and read through a connection of the test's
// own that lives for one call, apart from the connections of the code under test.
namespace ProductRows {

// Appends `rows` in one transaction, creating the table in a file that has none. A null text
// is stored as NULL.
bool append(const QString &path, const QList<StoredRow> &rows);

// The rows in insertion order (a NULL text reads back as a null text).
QList<StoredRow> read(const QString &path);

} // namespace ProductRows
