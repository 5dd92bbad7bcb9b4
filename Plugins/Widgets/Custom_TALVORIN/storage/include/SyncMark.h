#pragma once

#include <QString>

// The central feed's confirmed mark: every product with an id up to it has reached the plant's
// server. Kept in a small file of its own beside the product file (TLV.db.sync), written only by
// the feed once the server has confirmed, and read by the retention, which must not delete what
// was not sent yet.
//
// The file is two lines of text: "tlv-sync 1" and "sent_up_to=N"; a third, "station=NAME", says
// which station the rows were sent as.
class SyncMark
{
public:
    static QString pathFor(const QString &dbPath);

    struct State
    {
        bool exists = false;
        bool valid = false; // it exists and reads as a mark
        qint64 sentUpTo = 0;
        QString station;
    };
    static State read(const QString &dbPath);

    // The highest id the retention may delete: the mark where the file exists (0 when it cannot
    // be read, so nothing goes), -1 for no limit where there is no file.
    static qint64 retentionLimit(const QString &dbPath);

    // Replaces the file at once (written beside it, then renamed), so a kill leaves the old mark
    // or the new one, never a part.
    static bool write(
        const QString &dbPath, qint64 sentUpTo, const QString &station, QString *error = nullptr);
};
