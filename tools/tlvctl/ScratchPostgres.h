#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A throwaway PostgreSQL server for tests and benchmarks: a cluster made by initdb in a temporary
// folder, reached only on a Unix socket in that folder, run as an unprivileged user when the
// caller is root (the server refuses root), stopped and removed with the object.
class ScratchPostgres
{
public:
    ScratchPostgres();
    ~ScratchPostgres();
    ScratchPostgres(const ScratchPostgres &) = delete;
    ScratchPostgres &operator=(const ScratchPostgres &) = delete;

    // Where initdb, pg_ctl and psql are (TLV_PG_BIN, else Debian's PostgreSQL 15); empty when not.
    static QString binDir();

    // Makes the cluster on the first call; `settings` are postgres -c options ("fsync=off").
    bool start(QString *error, const QStringList &settings = {});
    bool stop(QString *error = nullptr);
    bool isRunning() const { return m_running; }

    // A libpq connection string for the server's database "postgres".
    QString conninfo() const;
    // Runs psql with `arguments` (-c SQL, -f FILE ...), unaligned and tuples only; its output, or
    // a null text with `error` set.
    QString psql(const QStringList &arguments, QString *error = nullptr) const;
    QString query(const QString &sql, QString *error = nullptr) const
    {
        return psql({ QStringLiteral("-c"), sql }, error);
    }

private:
    bool runTool(const QString &tool, const QStringList &arguments, QString *output, int timeoutMs) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    bool m_made = false;
    bool m_running = false;
    QStringList m_settings;
};
