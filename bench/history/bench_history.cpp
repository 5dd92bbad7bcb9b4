// The year-scale history over a year file (tlvgen --products 3000000 --days 365), with the
// history switched on as a host does it:
//   1. the history index built on the existing file while a panel's store keeps storing a
//      product every 100 ms: build time, the longest store() call, products stored meanwhile;
//   2. the report's opening query (today) and a 查找 of a day in the middle of the year, from
//      the click to the final total, against the sqlite3 shell's SELECT of the same rows through
//      the same index (target within 3x), with the GUI thread's longest stall;
//   3. the barcode search over the whole year: an exact order number (target 100 ms) and a
//      three-character fragment (target 0.5 s), each checked against a plain scan's count;
//   4. with --cold, the opening query again after the page cache was dropped, where permitted;
//   5. with --retire DAYS, retention keeping DAYS days run by a keeper while a panel's store keeps
//      storing a product every 100 ms: products deleted, time, the longest store() call (target
//      250 ms) and the GUI thread's longest stall (target 50 ms). It deletes from the file.
//
//   bench_history [--db PATH | --products N] [--cold] [--retire DAYS] [--repeat N] [--days-only]
//                 [--day DATE ...]
//
// Times to the total are medians of --repeat finds, taken without a probe on the GUI thread; the
// longest stall comes from as many finds more with a 1 ms probe.
//
// Without --db it first generates N products (default 3,000,000) over the 365 days up to today
// in a temporary folder (~6 GB for the default), removed at the end.

#include "HistoryIndex.h"
#include "HistoryKeeper.h"
#include "HistorySwitch.h"
#include "ProductDataGenerator.h"
#include "ProductStore.h"
#include "ReportTable.h"
#include "StoredRowWriter.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTimeEdit>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const char *verdict(bool ok)
{
    return ok ? "OK" : "MISSED";
}

// Runs the event loop until done() holds (or limitMs passes), looking every millisecond; the
// worst lateness of that timer, the GUI thread's longest stall, goes to *stallMs. Milliseconds
// until done, or -1.
double runUntil(const std::function<bool()> &done, double *stallMs, qint64 limitMs = 60000)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    qint64 last = 0;
    double finished = -1;
    *stallMs = 0;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.elapsed();
        *stallMs = qMax(*stallMs, double(now - last - 1));
        last = now;
        if (done()) {
            finished = clock.nsecsElapsed() / 1e6;
            loop.quit();
        } else if (now > limitMs) {
            loop.quit();
        }
    });
    tick.start(1);
    loop.exec();
    return finished;
}

QString scalar(const QString &path, const QString &sql)
{
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
        db.setDatabaseName(path);
        QSqlQuery query(db);
        if (db.open() && query.exec(sql) && query.next())
            value = query.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
    return value;
}

// The sqlite3 shell as one times it by hand: `time sqlite3 FILE < script > /dev/null` in a bash
// started while this process was still small. Started from here, every run would fork this
// process with its loaded report (page tables copied into the shell's figure, and a
// copy-on-write fault afterwards on every heap page the dialog writes).
class Shell
{
public:
    Shell()
    {
        m_bash.setReadChannel(QProcess::StandardError); // where `time` writes
        m_bash.start(QStringLiteral("bash"), { QStringLiteral("--norc"), QStringLiteral("--noprofile") });
        m_bash.waitForStarted();
        m_bash.write("TIMEFORMAT=%R\n");
    }
    ~Shell()
    {
        m_bash.closeWriteChannel();
        m_bash.waitForFinished();
    }

    // `sql` with the named values, rows to /dev/null: milliseconds, or -1.
    double ms(const QString &path, const QString &sql, const QMap<QString, QString> &values)
    {
        if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty()
            || m_bash.state() != QProcess::Running || !m_script.open())
            return -1;
        QString script;
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            script += QStringLiteral(".parameter set %1 \"'%2'\"\n")
                          .arg(it.key(), QString(it.value()).replace('\'', "''"));
        script += sql + QStringLiteral(";\n");
        m_script.resize(0);
        m_script.write(script.toUtf8());
        m_script.close();
        m_bash.readAllStandardError();
        m_bash.write(
            QStringLiteral("time sqlite3 '%1' < '%2' > /dev/null\n").arg(path, m_script.fileName()).toUtf8());
        QByteArray seconds;
        while (!seconds.endsWith('\n') && m_bash.waitForReadyRead(60000))
            seconds += m_bash.readAllStandardError();
        bool ok = false;
        const double value = seconds.trimmed().toDouble(&ok);
        return ok ? value * 1000.0 : -1;
    }

private:
    QProcess m_bash;
    QTemporaryFile m_script;
};

// A product stored every 100 ms on the GUI thread, as a line does, with the time each store()
// call took.
struct Line
{
    explicit Line(ProductStore &store)
    {
        QObject::connect(&timer, &QTimer::timeout, [this, &store] {
            StoredRow row;
            row.uptime = StoredRowWriter::currentUptimeText();
            row.pid = 900000000 + made++;
            row.barcode = QStringLiteral("BENCH,HISTORY");
            row.diameter = QStringLiteral("[]");
            row.appearance = QStringLiteral("[]");
            QElapsedTimer call;
            call.start();
            stored += store.store(row) ? 1 : 0;
            const double took = call.nsecsElapsed() / 1e6;
            worst = qMax(worst, took);
            over20 += took > 20 ? 1 : 0;
            over50 += took > 50 ? 1 : 0;
        });
        timer.start(100);
    }
    QString summary() const
    {
        return QStringLiteral(
            "%1 of %2 products stored at once, longest store() %3 ms, %4 over 20 ms, %5 over 50 ms")
            .arg(stored)
            .arg(made)
            .arg(worst, 0, 'f', 1)
            .arg(over20)
            .arg(over50);
    }

    QTimer timer;
    double worst = 0;
    int over20 = 0;
    int over50 = 0;
    int stored = 0;
    int made = 0;
};

// 1. The index built while a store keeps storing, after a minute of the same storing without
// the keeper: what the machine's own load does to an insert, measured in the same run.
bool buildIndex(const QString &path)
{
    const qint64 rows = scalar(path, QStringLiteral("select max(id) from product_data_new")).toLongLong();
    ProductStore store;
    if (!store.open(path))
        return false;
    double stall = 0;
    {
        Line line(store);
        QElapsedTimer minute;
        minute.start();
        runUntil([&] { return minute.elapsed() >= 60000; }, &stall, 61000);
        std::printf("1. without the keeper, a minute: %s; longest GUI stall %.1f ms\n",
            qPrintable(line.summary()), stall);
    }
    QObject owner;
    store.setLogFoldedElsewhere(true); // as the panel with the history on
    bool built = false;
    HistoryKeeper *keeper = HistoryKeeper::start(path, -1, &owner);
    QObject::connect(
        keeper, &HistoryKeeper::built, &owner, [&] { built = true; }, Qt::QueuedConnection);
    Line line(store);
    // An hour at most: the year file takes minutes.
    const double ms = runUntil([&] { return built; }, &stall, 3600 * 1000);
    line.timer.stop();
    std::printf(
        "1. history index on %lld products: %.1f s; meanwhile %s (target 250 ms) %s; longest GUI stall "
        "%.1f ms (target 50 ms) %s\n",
        rows, ms / 1000.0, qPrintable(line.summary()), verdict(line.worst <= 250), stall,
        verdict(stall <= 50));
    return ms >= 0;
}

// 5. Retention keeping `keepDays` days, run by a keeper as the panel starts one, while a store
// keeps storing.
void retire(const QString &path, int keepDays)
{
    const QString cutoff = HistoryKeeper::cutoffText(keepDays, QDateTime::currentDateTime());
    const QString expired
        = scalar(path, QStringLiteral("select count(*) from tlv_index_time where uptime < '%1'").arg(cutoff));
    ProductStore store;
    if (!store.open(path))
        return;
    store.setLogFoldedElsewhere(true);
    QObject owner;
    qint64 deleted = -1;
    HistoryKeeper *keeper = HistoryKeeper::start(path, keepDays, &owner);
    QObject::connect(
        keeper, &HistoryKeeper::retired, &owner, [&](qint64 products) { deleted = products; },
        Qt::QueuedConnection);
    Line line(store);
    double stall = 0;
    const double ms = runUntil([&] { return deleted >= 0; }, &stall, 3600 * 1000);
    line.timer.stop();
    std::printf("5. retention keeping %d days: %lld of %s expired products deleted in %.1f s; meanwhile %s "
                "(target 250 ms) %s; longest GUI stall %.1f ms (target 50 ms) %s\n",
        keepDays, deleted, qPrintable(expired), ms / 1000.0, qPrintable(line.summary()),
        verdict(ms >= 0 && line.worst <= 250), stall, verdict(stall <= 50));
}

struct Find
{
    double ms = -1;
    double stallMs = 0;
    int rows = 0;
};

// Ends its event loop once the total is shown, looking after every event the GUI thread
// handles: the event that sets the total is noticed at once, and nothing wakes the GUI thread
// on its own (a 1 ms probe there takes a core from the query's builders on two cores).
class TotalWatch : public QObject
{
public:
    explicit TotalWatch(QLabel *total)
        : m_total(total)
    {
        QCoreApplication::instance()->installEventFilter(this);
        QTimer::singleShot(60000, &m_loop, &QEventLoop::quit);
    }
    ~TotalWatch() override { QCoreApplication::instance()->removeEventFilter(this); }
    // Milliseconds from `clock`'s start to the total, or -1.
    double wait(const QElapsedTimer &clock)
    {
        m_clock = &clock;
        if (!m_total->text().isEmpty())
            return clock.nsecsElapsed() / 1e6;
        m_loop.exec();
        return m_ms;
    }

protected:
    bool eventFilter(QObject *, QEvent *) override
    {
        if (m_clock && m_ms < 0 && !m_total->text().isEmpty()) {
            m_ms = m_clock->nsecsElapsed() / 1e6;
            m_loop.quit();
        }
        return false;
    }

private:
    QLabel *m_total;
    QEventLoop m_loop;
    const QElapsedTimer *m_clock = nullptr;
    double m_ms = -1;
};

// 查找 of the range with the search text, until the total is shown: the time to it, or with
// `probeStalls` the GUI thread's longest stall instead (the probe itself costs the query time).
Find find(ReportTable &dialog, const QString &from, const QString &to, const QString &text,
    bool probeStalls = false)
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    dialog.findChild<QDateTimeEdit *>(QStringLiteral("dateTimeStart"))
        ->setDateTime(QDateTime::fromString(from, format));
    dialog.findChild<QDateTimeEdit *>(QStringLiteral("dateTimeEnd"))
        ->setDateTime(QDateTime::fromString(to, format));
    dialog.findChild<QLineEdit *>(QStringLiteral("editBarcode"))->setText(text);
    auto *total = dialog.findChild<QLabel *>(QStringLiteral("lbTotal"));
    QAbstractItemModel *model = dialog.findChild<QTableView *>(QStringLiteral("tblWidProduct"))->model();
    total->clear();
    Find result;
    QElapsedTimer clock;
    if (probeStalls) {
        clock.start();
        dialog.findChild<QPushButton *>(QStringLiteral("btnFind"))->click();
        const double rest = runUntil([&] { return !total->text().isEmpty(); }, &result.stallMs);
        result.ms = rest < 0 ? -1 : clock.nsecsElapsed() / 1e6;
    } else {
        TotalWatch watch(total);
        clock.start();
        dialog.findChild<QPushButton *>(QStringLiteral("btnFind"))->click();
        result.ms = watch.wait(clock);
    }
    result.rows = model->rowCount();
    return result;
}

// The median time to the total over `repeat` finds, and the longest stall of as many more.
Find measure(ReportTable &dialog, const QString &from, const QString &to, const QString &text, int repeat,
    const std::function<void()> &between = {})
{
    std::vector<double> times;
    Find found;
    for (int i = 0; i < repeat; ++i) {
        found = find(dialog, from, to, text);
        times.push_back(found.ms);
        if (between)
            between();
    }
    std::sort(times.begin(), times.end());
    double stall = 0;
    for (int i = 0; i < repeat; ++i)
        stall = qMax(stall, find(dialog, from, to, text, true).stallMs);
    found.ms = times[times.size() / 2];
    found.stallMs = stall;
    return found;
}

void printFind(const char *what, const Find &found, double baselineMs, double targetRatio, double targetMs)
{
    if (baselineMs > 0)
        std::printf("%s: %d products, %.1f ms to the total; shell %.1f ms, ratio %.2f (target %.0fx) %s; "
                    "longest GUI stall %.1f ms %s\n",
            what, found.rows, found.ms, baselineMs, found.ms / baselineMs, targetRatio,
            verdict(found.ms >= 0 && found.ms <= targetRatio * baselineMs), found.stallMs,
            verdict(found.stallMs <= 50));
    else
        std::printf(
            "%s: %d products, %.1f ms to the total (target %.0f ms) %s; longest GUI stall %.1f ms %s\n", what,
            found.rows, found.ms, targetMs, verdict(found.ms >= 0 && found.ms <= targetMs), found.stallMs,
            verdict(found.stallMs <= 50));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Shell shell;
    // The store's line per product would bury the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption dbOption(
        QStringLiteral("db"), QStringLiteral("A year file (tlvgen)."), QStringLiteral("path"));
    const QCommandLineOption productsOption(QStringLiteral("products"),
        QStringLiteral("Products to generate without --db (default 3000000)."), QStringLiteral("n"),
        QStringLiteral("3000000"));
    const QCommandLineOption coldOption(
        QStringLiteral("cold"), QStringLiteral("Also time the opening query with a cold page cache."));
    const QCommandLineOption retireOption(QStringLiteral("retire"),
        QStringLiteral("Also run retention keeping this many days (deletes from the file)."),
        QStringLiteral("days"));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"),
        QStringLiteral("Times each day's query is measured (median; default 5)."), QStringLiteral("n"),
        QStringLiteral("5"));
    const QCommandLineOption daysOption(QStringLiteral("days-only"),
        QStringLiteral("Only the day queries (2.), e.g. for a profile; an indexed file is not stored to."));
    const QCommandLineOption dayOption(QStringLiteral("day"),
        QStringLiteral("A further day to time as the mid-year one (yyyy-MM-dd; repeatable)."),
        QStringLiteral("date"));
    parser.addOptions(
        { dbOption, productsOption, coldOption, retireOption, repeatOption, daysOption, dayOption });
    parser.process(app);
    QString path = parser.value(dbOption);
    QTemporaryDir scratch;
    if (path.isEmpty()) {
        const int products = parser.value(productsOption).toInt();
        path = scratch.filePath(QStringLiteral("DectDB/TLV.db"));
        QElapsedTimer clock;
        clock.start();
        const QDateTime end(QDate::currentDate(), QTime(23, 59, 59));
        if (products <= 0 || !ProductDataGenerator::generate(path, products, 365, end, 20, 1)) {
            std::fprintf(stderr, "bench_history: could not generate %d products\n", products);
            return 1;
        }
        std::printf("generated %d products over 365 days in %.1f s\n", products, clock.elapsed() / 1000.0);
    } else if (!QFile::exists(path)) {
        std::fprintf(stderr, "bench_history: no file %s\n", qPrintable(path));
        return 2;
    }
    // --days-only over a file whose index is built leaves it as it is (no minute of storing).
    const bool indexed = scalar(path,
                             QStringLiteral("select count(*) from sqlite_master where name in "
                                            "('tlv_index_time', 'tlv_index_barcode', 'tlv_index_state')"))
        == QLatin1String("3");
    if (!(parser.isSet(daysOption) && indexed) && !buildIndex(path))
        return 1;

    HistorySwitch::set(path, true);
    // The first and the last stored (in time order, as a line stores them), without a scan.
    const QString last
        = scalar(path, QStringLiteral("select uptime from product_data_new order by id desc limit 1"))
              .left(10);
    const QString first
        = scalar(path, QStringLiteral("select uptime from product_data_new order by id limit 1")).left(10);
    const QDate lastDay = QDate::fromString(last, Qt::ISODate);
    const QDate firstDay = QDate::fromString(first, Qt::ISODate);
    const QString middle = firstDay.addDays(firstDay.daysTo(lastDay) / 2).toString(Qt::ISODate);
    const QString yearFrom = first + QStringLiteral(" 00:00:00");
    const QString yearTo = last + QStringLiteral(" 23:59:59");

    // A station's panel keeps its connection open; the last connection to close would remove the
    // write-ahead log and its index, and every shell run would be that one.
    ProductStore panel;
    if (!panel.open(path)) {
        std::fprintf(stderr, "bench_history: could not open %s\n", qPrintable(path));
        return 1;
    }
    ReportTable dialog(path);
    dialog.show();
    const QString dayFrom = QStringLiteral(" 00:00:00");
    const QString dayTo = QStringLiteral(" 23:59:59");
    const auto range = [&](const QString &day) {
        return QMap<QString, QString> { { QStringLiteral(":from"), day + dayFrom },
            { QStringLiteral(":to"), day + dayTo } };
    };
    // Each query once on both sides to warm the page cache alike, then measured `repeat` times
    // on each side; the medians are compared.
    const int repeat = qMax(1, parser.value(repeatOption).toInt());
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const auto day = [&](const char *what, const QString &date) {
        shell.ms(path, HistoryIndex::rangeSql(), range(date));
        find(dialog, date + dayFrom, date + dayTo, QString());
        std::vector<double> shellRuns;
        Find found = measure(dialog, date + dayFrom, date + dayTo, QString(), repeat,
            [&] { shellRuns.push_back(shell.ms(path, HistoryIndex::rangeSql(), range(date))); });
        printFind(what, found, median(shellRuns), 3, 0);
    };
    day("2. opening query (the last day)", last);
    day("2. 查找 of a day mid-year", middle);
    for (const QString &date : parser.values(dayOption))
        day(qPrintable(QStringLiteral("2. 查找 of %1").arg(date)), date);
    if (parser.isSet(daysOption))
        return 0;

    // An order number of up to 1,000 products (the target's case), and three characters of one.
    // The barcode (material and order number) with the most products up to 1,000: the order
    // numbers of a generated year span several thousand each.
    const QString order = scalar(path,
        QStringLiteral("select barcode from tlv_index_barcode group by barcode having count(*) <= 1000 "
                       "order by count(*) desc limit 1"));
    const QString busiest = scalar(path,
        QStringLiteral("select barcode from product_data_new where uptime >= '%1' order by uptime limit 1")
            .arg(middle));
    const QString fragment = busiest.section(QLatin1Char(','), 1).right(3);
    for (const QString &text : { order, fragment }) {
        if (text.isEmpty())
            continue;
        const QString plain = scalar(path,
            QStringLiteral("select count(*) from product_data_new where uptime between '%1' and '%2' and "
                           "barcode like '%3' "
                           "escape '\\'")
                .arg(yearFrom, yearTo, HistoryIndex::likePattern(text).replace('\'', "''")));
        find(dialog, yearFrom, yearTo, text); // warm
        const Find found = measure(dialog, yearFrom, yearTo, text, repeat);
        const QByteArray what = QStringLiteral("3. search \"%1\" over the year (plain scan finds %2)")
                                    .arg(text, plain)
                                    .toUtf8();
        printFind(what.constData(), found, -1, 0, text == order ? 100 : 500);
        if (QString::number(found.rows) != plain)
            std::printf("   MISMATCH: the search found %d products, the plain scan %s\n", found.rows,
                qPrintable(plain));
    }

    if (parser.isSet(coldOption)) {
        // Each side after a drop of its own; no target, the figure is for the record.
        const auto dropCache = [] {
            QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
            return drop.open(QIODevice::WriteOnly) && drop.write("3\n") == 2;
        };
        if (dropCache()) {
            const double shellMs = shell.ms(path, HistoryIndex::rangeSql(), range(last));
            dropCache();
            const Find found = find(dialog, last + dayFrom, last + dayTo, QString());
            std::printf(
                "4. opening query, cold cache: %d products, %.1f ms to the total; shell, cold, %.1f ms "
                "(ratio %.2f)\n",
                found.rows, found.ms, shellMs, shellMs > 0 ? found.ms / shellMs : 0.0);
        } else {
            std::printf("4. cold cache: dropping the page cache is not permitted here\n");
        }
    }
    if (parser.isSet(retireOption))
        retire(path, parser.value(retireOption).toInt());
    return 0;
}
