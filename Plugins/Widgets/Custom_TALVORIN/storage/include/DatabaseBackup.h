#pragma once

#include <QString>

// A consistent copy of a SQLite database that writers keep using meanwhile: the file alone, as it
// was at one moment, in rollback-journal mode so that it needs no file beside it. Callable from
// any thread; it opens connections of its own.
class DatabaseBackup
{
public:
    // Copies `source` to `target`. The copy is written beside the target under a temporary name
    // and renamed into place only when it is complete, so a failure keeps an existing target as
    // it was. On failure `error`, if given, says what went wrong with which file.
    static bool copy(const QString &source, const QString &target, QString *error = nullptr);
};
