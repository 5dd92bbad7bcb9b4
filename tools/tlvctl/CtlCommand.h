#pragma once

#include <QString>
#include <QStringList>

// One tlvctl command line, parsed and checked: which command, its options, or why the line was
// refused (exit status 2) or what help to print.
struct CtlCommand
{
    enum Kind { None, Export, Sync, Backup };
    Kind kind = None;

    QString db;
    // export
    QString from, to, search, xlsx, csv;
    // sync
    QString station, conninfo;
    double followSeconds = -1; // below 0: one pass
    // backup
    QString target;

    bool helpWanted = false; // print `help` to stdout and exit 0
    QString help;
    QString error; // not empty: a bad command line

    static CtlCommand parse(const QStringList &arguments);
    static constexpr const char *timeFormat = "yyyy-MM-dd hh:mm:ss";
};
