#include "CentralFeed.h"

#include "CopyRows.h"

#include <libpq-fe.h>

namespace {

const char *const kTempSql
    = "CREATE TEMP TABLE IF NOT EXISTS tlv_incoming (LIKE tlv_products) ON COMMIT DELETE ROWS";

void ignoreNotice(void *, const char *) { }

} // namespace

const char *CentralFeed::createSql()
{
    return "CREATE TABLE IF NOT EXISTS tlv_products ("
           "station text NOT NULL, "
           "local_id bigint NOT NULL, "
           "uptime text, "
           "pid bigint, "
           "barcode text, "
           "psize text, "
           "diameter jsonb, "
           "diameter_raw text, "
           "appearance jsonb, "
           "appearance_raw text, "
           "status bigint, "
           "PRIMARY KEY (station, local_id))";
}

CentralFeed::CentralFeed(const QString &conninfo)
    : m_conninfo(conninfo)
{
}

CentralFeed::~CentralFeed()
{
    disconnect();
}

bool CentralFeed::isConnected() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

void CentralFeed::disconnect()
{
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

QString CentralFeed::lastError() const
{
    return m_conn ? QString::fromUtf8(PQerrorMessage(m_conn)).trimmed() : QStringLiteral("not connected");
}

bool CentralFeed::connect(QString *error)
{
    disconnect();
    // The caller's string comes last, so that what it gives overrides these defaults.
    const QByteArray conninfo = m_conninfo.toUtf8();
    const char *keywords[] = { "connect_timeout", "application_name", "dbname", nullptr };
    const char *values[] = { "10", "tlvctl", conninfo.constData(), nullptr };
    m_conn = PQconnectdbParams(keywords, values, 1);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        *error = lastError();
        disconnect();
        return false;
    }
    PQsetNoticeProcessor(m_conn, ignoreNotice, nullptr);
    if (PQsetClientEncoding(m_conn, "UTF8") != 0) {
        *error = lastError();
        disconnect();
        return false;
    }
    if (!exec(createSql(), error) || !exec(kTempSql, error)) {
        disconnect();
        return false;
    }
    return true;
}

bool CentralFeed::exec(const char *sql, QString *error)
{
    PGresult *result = PQexec(m_conn, sql);
    const ExecStatusType status = PQresultStatus(result);
    const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!ok)
        *error = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
    PQclear(result);
    return ok;
}

bool CentralFeed::begin(const QString &station, qint64 after, QString *error)
{
    if (!isConnected()) {
        *error = lastError();
        return false;
    }
    if (!exec("BEGIN", error))
        return false;
    const QByteArray stationText = station.toUtf8();
    const QByteArray afterText = QByteArray::number(after);
    const char *params[] = { stationText.constData(), afterText.constData() };
    PGresult *result = PQexecParams(m_conn,
        "SELECT 1 FROM tlv_products WHERE station = $1 AND local_id > $2::bigint LIMIT 1", 2, nullptr, params,
        nullptr, nullptr, 0);
    const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK;
    if (!ok)
        *error = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
    m_throughTemp = ok && PQntuples(result) > 0;
    PQclear(result);
    if (!ok) {
        abort();
        return false;
    }
    const QByteArray copy = QByteArrayLiteral("COPY ") + (m_throughTemp ? "tlv_incoming" : "tlv_products")
        + " (" + CopyRows::columnList() + ") FROM STDIN";
    result = PQexec(m_conn, copy.constData());
    const bool copying = PQresultStatus(result) == PGRES_COPY_IN;
    if (!copying)
        *error = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
    PQclear(result);
    if (!copying)
        abort();
    return copying;
}

bool CentralFeed::put(const QByteArray &rows, QString *error)
{
    if (PQputCopyData(m_conn, rows.constData(), rows.size()) == 1)
        return true;
    *error = lastError();
    return false;
}

bool CentralFeed::commit(QString *error)
{
    if (PQputCopyEnd(m_conn, nullptr) != 1) {
        *error = lastError();
        abort();
        return false;
    }
    bool ok = true;
    while (PGresult *result = PQgetResult(m_conn)) {
        if (PQresultStatus(result) != PGRES_COMMAND_OK && ok) {
            *error = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
            ok = false;
        }
        PQclear(result);
    }
    if (ok && m_throughTemp) {
        const QByteArray insert = QByteArrayLiteral("INSERT INTO tlv_products (") + CopyRows::columnList()
            + ") SELECT " + CopyRows::columnList()
            + " FROM tlv_incoming ON CONFLICT (station, local_id) DO NOTHING";
        ok = exec(insert.constData(), error);
    }
    if (ok && exec("COMMIT", error))
        return true;
    abort();
    return false;
}

void CentralFeed::abort()
{
    if (!isConnected())
        return;
    if (PQtransactionStatus(m_conn) == PQTRANS_ACTIVE) {
        // Mid-COPY: ending it with an error message makes the server drop what came. Where even
        // that cannot be sent, libpq stays in COPY and would hand out COPY results for ever.
        if (PQputCopyEnd(m_conn, "abandoned") != 1) {
            disconnect();
            return;
        }
        while (PGresult *result = PQgetResult(m_conn)) {
            const ExecStatusType status = PQresultStatus(result);
            PQclear(result);
            if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT) {
                disconnect();
                return;
            }
        }
    }
    PGresult *result = PQexec(m_conn, "ROLLBACK");
    PQclear(result);
}
