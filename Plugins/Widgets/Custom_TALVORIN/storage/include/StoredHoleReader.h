#pragma once

#include "StoredHoles.h"

#include <QString>

#include <vector>

// Reads the stored holes of given products from the product table at full precision, on a
// read-only connection of its own, from any thread. The reads are short transactions, so the
// panel's inserts never wait for them: a scan over the ids' interval, a window of ids at a time,
// where the ids fill most of it, batches of lookups by id otherwise.
namespace StoredHoleReader {

// The holes of the products `ids` (ascending, distinct) into `holes`; a row that is gone or
// unreadable is left out of it. False, with `error`, when the file could not be read to the end.
bool read(const QString &dbPath, const std::vector<qint64> &ids, StoredHoles &holes, QString *error);

} // namespace StoredHoleReader
