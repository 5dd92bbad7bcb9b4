// tlvctl against its baselines, each measured in the same run:
//   first sync of N products       vs psql \copy of the same rows as CSV into the same table (<= 2x)
//   follow-up sync of 1,000 new rows (< 1 s)
//   the panel's insert while a sync runs vs without (<= 1.5x)
//   tlvctl export --xlsx of N       vs the report's ReportWorkbookWriter::write of them found (<= 1.1x),
//   and tlvctl's peak RSS (< 200 MB)
// bench_sync [--products N] (default 1,000,000) [--repeat N] (exports, default 3) [--export-only].
#include "CentralFeed.h"
#include "CopyRows.h"
#include "ProductStore.h"
#include "ProductTable.h"
#include "ReportWorkbookWriter.h"
#include "ScratchPostgres.h"
#include "StoredRow.h"
#include "TLVDatasWork.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

StoredRow product(int i)
{
    QString diameter = QStringLiteral("[");
    for (int h = 0; h < 20; ++h)
        diameter += QStringLiteral("%1{\"idx\":%2,\"position\":%3,\"status\":%4,\"value\":%5}")
                        .arg(h ? QStringLiteral(",") : QString())
                        .arg(h)
                        .arg(h * 1.5 + 0.1)
                        .arg(QLatin1String((i + h) % 97 ? "true" : "false"))
                        .arg(10 + (i % 1000) / 1000.0 + h, 0, 'g', 6);
    diameter += QLatin1Char(']');
    const QDateTime at = QDateTime(QDate(2025, 1, 1), QTime(0, 0)).addSecs(i * 20);
    return { at.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), i,
        QStringLiteral("TLV-%1,WO%2").arg(i % 977).arg(i / 500),
        QStringLiteral("长度:%1;宽度:%2").arg(100 + i % 7).arg(50 + i % 3), diameter, QStringLiteral("[]"),
        i % 97 ? 3 : 2 };
}

bool fill(const QString &path, int from, int count)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery query(db);
        if (ok && !db.tables().contains(QLatin1String(ProductTable::name)))
            ok = query.exec(QLatin1String(ProductTable::createSql))
                && query.exec(QStringLiteral("pragma journal_mode=wal"));
        ok = ok && db.transaction() && query.prepare(QLatin1String(ProductTable::insertSql));
        for (int i = from; ok && i < from + count; ++i) {
            const StoredRow row = product(i);
            const QVariantList values { row.uptime, row.pid, row.barcode, row.psize, row.diameter,
                row.appearance, row.status };
            for (int c = 0; c < values.size(); ++c)
                query.bindValue(c, values.at(c));
            ok = query.exec();
        }
        ok = ok && db.commit();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

// The child's peak RSS (VmHWM, which exec starts afresh) as last seen while it ran.
double peakMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}

double run(const QString &program, const QStringList &arguments, int *status = nullptr, double *mb = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.waitForStarted(-1);
    const qint64 pid = process.processId();
    while (!process.waitForFinished(mb ? 100 : -1))
        *mb = std::max(*mb, peakMb(pid));
    if (status)
        *status = process.exitCode();
    else if (process.exitCode() != 0)
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
    return clock.elapsed() / 1000.0;
}

// The rows as the central table's CSV, for psql's \copy: what tlvctl sends, made by CopyRows.
bool centralCsv(const QString &db, const QString &station, const QString &csv)
{
    QFile out(csv);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    bool ok = false;
    {
        QSqlDatabase source = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("csv"));
        source.setDatabaseName(db);
        QSqlQuery query(source);
        query.setForwardOnly(true);
        ok = source.open()
            && query.exec(
                QStringLiteral("select id, uptime, pid, barcode, psize, diameter, appearance, status from "
                               "product_data_new order by id"));
        CopyRows rows(station);
        QByteArray text;
        QVariant values[8];
        while (ok && query.next()) {
            for (int i = 0; i < 8; ++i)
                values[i] = query.value(i);
            // COPY text of a row of plain texts is CSV once tabs are commas and texts quoted.
            QByteArray line;
            rows.append(line, values);
            QList<QByteArray> fields = line.trimmed().split('\t');
            for (int i = 0; i < fields.size(); ++i) {
                if (i)
                    text += ',';
                if (fields[i] != "\\N")
                    text += '"' + fields[i].replace("\\\\", "\\").replace('"', "\"\"") + '"';
            }
            text += '\n';
            if (text.size() > (1 << 20)) {
                out.write(text);
                text.clear();
            }
        }
        out.write(text);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("csv"));
    return ok;
}

// The panel's insert: each of `count` stores timed alone, one at a time as the cycle end makes
// them; the times come back sorted.
QVector<double> insertMs(ProductStore &store, int first, int count)
{
    QVector<double> times;
    QElapsedTimer clock;
    for (int i = first; i < first + count; ++i) {
        clock.start();
        store.store(product(i));
        times << clock.nsecsElapsed() / 1e6;
    }
    std::sort(times.begin(), times.end());
    return times;
}

double percentile(const QVector<double> &sorted, double p)
{
    return sorted.isEmpty() ? 0 : sorted.at(std::min(int(sorted.size() * p), sorted.size() - 1));
}

void verdict(const char *what, double value, double limit, const char *unit)
{
    std::printf(
        "%-58s %10.3f %s  (limit %.2f) %s\n", what, value, unit, limit, value <= limit ? "ok" : "OVER");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The store's per-product debug lines would drown the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    const int n = app.arguments().indexOf(QStringLiteral("--products")) > 0
        ? app.arguments().value(app.arguments().indexOf(QStringLiteral("--products")) + 1).toInt()
        : 1000000;
    const bool exportOnly = app.arguments().contains(QStringLiteral("--export-only"));
    const int repeat = app.arguments().indexOf(QStringLiteral("--repeat")) > 0
        ? std::max(1, app.arguments().value(app.arguments().indexOf(QStringLiteral("--repeat")) + 1).toInt())
        : 3;
    ScratchPostgres pg;
    QString error;
    if (!pg.start(&error)) {
        std::printf("bench_sync: skipped, %s\n", qPrintable(error));
        return 0;
    }
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("TLV.db"));
    QElapsedTimer clock;
    clock.start();
    if (!fill(db, 0, n))
        return 1;
    std::printf("bench_sync: %d products generated in %.1f s\n", n, clock.elapsed() / 1000.0);
    std::fflush(stdout);

    // tlvctl's export and the dialog's write of the same products found, taken in turns
    // --repeat times (medians), so that the machine's other load weighs on both alike.
    const QString from = QStringLiteral("2000-01-01 00:00:00"), to = QStringLiteral("2100-01-01 00:00:00");
    QVector<double> exportSeconds, dialogSeconds;
    double exportMb = 0;
    const auto exportOnce = [&] {
        // Page cache warm, as for every figure here: the dialog's write reads no file, and on a
        // machine that keeps little cached, tlvctl's reading from the disk took 5-15 s more.
        QFile file(db);
        if (file.open(QIODevice::ReadOnly)) {
            QByteArray chunk(1 << 20, Qt::Uninitialized);
            while (file.read(chunk.data(), chunk.size()) > 0) { }
        }
        exportSeconds << run(QStringLiteral(TLVCTL),
            { "export", "--db", db, "--from", from, "--to", to, "--xlsx",
                dir.filePath(QStringLiteral("tlvctl.xlsx")) },
            nullptr, &exportMb);
    };
    exportOnce();
    {
        ReportWorkbookWriter::Products found;
        TLVDatasWork worker(db);
        QObject::connect(&worker, &TLVDatasWork::Signal_FindResult,
            [&](bool, const QList<std::shared_ptr<tlv::ProductInfo>> &batch) {
                for (const auto &p : batch)
                    found.append(p);
            });
        worker.Slot_FindHistory(from, to, QString());
        for (int r = 0; r < repeat; ++r) {
            if (r > 0)
                exportOnce();
            clock.restart();
            ReportWorkbookWriter::write(dir.filePath(QStringLiteral("dialog.xlsx")), found);
            dialogSeconds << clock.elapsed() / 1000.0;
        }
    }
    std::sort(exportSeconds.begin(), exportSeconds.end());
    std::sort(dialogSeconds.begin(), dialogSeconds.end());
    std::printf("export xlsx (median of %d): tlvctl %.2f s (reading included), dialog's write %.2f s\n",
        repeat, percentile(exportSeconds, 0.5), percentile(dialogSeconds, 0.5));
    verdict("tlvctl export / dialog export", percentile(exportSeconds, 0.5) / percentile(dialogSeconds, 0.5),
        1.1, "x");
    verdict("tlvctl export peak RSS", exportMb, 200, "MB");
    if (exportOnly)
        return 0;

    const QString csv = dir.filePath(QStringLiteral("rows.csv"));
    error.clear();
    pg.query(QLatin1String(CentralFeed::createSql()), &error);
    if (!centralCsv(db, QStringLiteral("L1"), csv) || !error.isEmpty()) {
        std::printf("bench_sync: cannot prepare the baseline: %s\n", qPrintable(error));
        return 1;
    }
    const QString copy = QStringLiteral("\\copy tlv_products (%1) from '%2' with (format csv)")
                             .arg(QLatin1String(CopyRows::columnList()), csv);
    const double psqlSeconds = run(QDir(ScratchPostgres::binDir()).filePath(QStringLiteral("psql")),
        { "-X", "-q", "-d", pg.conninfo(), "-c", copy });
    const QString copied = pg.query(QStringLiteral("select count(*) from tlv_products"));
    pg.query(QStringLiteral("truncate tlv_products"));
    const QStringList sync { "sync", "--db", db, "--station", "L1", "--pg", pg.conninfo() };
    const double syncSeconds = run(QStringLiteral(TLVCTL), sync);
    std::printf("first sync of %s rows: tlvctl %.1f s, psql \\copy %.1f s\n",
        qPrintable(pg.query(QStringLiteral("select count(*) from tlv_products"))), syncSeconds, psqlSeconds);
    if (copied != pg.query(QStringLiteral("select count(*) from tlv_products")))
        std::printf("psql \\copy took %s rows\n", qPrintable(copied));
    verdict("first sync / psql \\copy", syncSeconds / psqlSeconds, 2.0, "x");

    fill(db, n, 1000);
    verdict("follow-up sync of 1,000 new rows", run(QStringLiteral(TLVCTL), sync), 1.0, "s");

    // The panel's insert alone, then while a sync (under another station name) reads the file,
    // then alone again: the machine's other load is in both figures alike.
    const int inserts = 2000;
    QVector<double> alone, during;
    {
        ProductStore store;
        store.open(db);
        insertMs(store, n + 1000, 200);
        alone = insertMs(store, n + 1200, inserts / 2);
        // The file's mark is L1's; L2 starts from the first product.
        QFile::rename(db + QStringLiteral(".sync"), db + QStringLiteral(".sync.L1"));
        QProcess running;
        running.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        running.start(
            QStringLiteral(TLVCTL), { "sync", "--db", db, "--station", "L2", "--pg", pg.conninfo() });
        running.waitForStarted();
        QThread::msleep(500);
        during = insertMs(store, n + 1200 + inserts, inserts);
        const bool stillSyncing = running.state() == QProcess::Running;
        running.kill();
        running.waitForFinished();
        QFile::remove(db + QStringLiteral(".sync"));
        alone += insertMs(store, n + 1200 + 2 * inserts, inserts / 2);
        std::sort(alone.begin(), alone.end());
        std::printf("panel insert: median %.3f ms, p99 %.3f ms alone; median %.3f ms, p99 %.3f ms while a "
                    "sync runs%s\n",
            percentile(alone, 0.5), percentile(alone, 0.99), percentile(during, 0.5),
            percentile(during, 0.99), stillSyncing ? "" : " (the sync ended before the inserts did)");
    }
    verdict("insert during sync / insert alone (median)", percentile(during, 0.5) / percentile(alone, 0.5),
        1.5, "x");
    verdict("insert during sync / insert alone (p99)", percentile(during, 0.99) / percentile(alone, 0.99),
        1.5, "x");
    return 0;
}
