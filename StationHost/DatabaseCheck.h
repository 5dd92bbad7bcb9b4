#pragma once

#include <QString>

// Whether the panel can keep its products in the database file the host points it at. Over a
// file it cannot use, the panel either loses every product or ends the process, and neither
// tells the user what to do.
namespace DatabaseCheck {

// Empty when `dbPath` is usable: missing (the panel creates it), or a SQLite database it can
// write whose table product_data_new, if there is one, has the columns the panel fills. Else
// what is wrong with which file, and what to do. A file another program holds locked counts as
// usable: the panel waits for it. Reads on a connection of its own, read-only but for a change
// that is rolled back, and leaves no file behind that was not there.
QString problem(const QString &dbPath);

} // namespace DatabaseCheck
