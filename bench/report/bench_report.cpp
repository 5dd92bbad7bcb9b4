// Opens the report dialog on one day of generated products and measures, while the worker's
// batches arrive: the time to the first rows, the time to the final total and the longest stall
// of the GUI event loop. A bare QTableView over a plain model, fed by the same worker, is the
// baseline of the same run.
//
//   bench_report [products=100000] [rounds=2] [holes=8] [--load]
//
// --load runs two busy threads of the benchmark's own beside it, as the image processing of an
// inspection host does. Each round also times the sqlite3 shell running the worker's SELECT
// into /dev/null (under the same load), and prints the dialog's final total against it.
//
// Between runs the freed records are handed back to the system (malloc_trim), so every run
// starts from fresh memory; TLV_BENCH_NO_TRIM=1 keeps the allocator warm instead, and then the
// first batch of a new worker thread can wait ~200 ms for glibc to consolidate the previous
// run's freed chunks. The wall-clock stall also counts time the machine gives to others; the
// longest event in GUI-thread CPU time does not.

#include "ProductInfo.h"
#include "ProductStatus.h"
#include "RecordRelease.h"
#include "ReportTable.h"
#include "TLVDatasWork.h"

#include "ProductDataGenerator.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QDate>
#include <QDateTimeEdit>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

using ProductList = QList<std::shared_ptr<tlv::ProductInfo>>;

constexpr int kTickMs = 5;
int g_holes = 8;

double threadCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Wall-clock lateness of a timer also counts the time other processes hold the CPU. The longest
// single event on the GUI thread, in that thread's own CPU time, does not, and names its culprit.
class TimingApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        // The worker's thread runs its slots through here as well.
        if (QThread::currentThread() != thread() || m_depth++ > 0) {
            const bool result = QApplication::notify(receiver, event);
            if (QThread::currentThread() == thread())
                --m_depth;
            return result;
        }
        const double start = threadCpuMs();
        const int type = event->type();
        const char *cls = receiver->metaObject()->className();
        const bool result = QApplication::notify(receiver, event);
        const double spent = threadCpuMs() - start;
        --m_depth;
        if (m_recording) {
            EventCost &cost = cpuByEvent[{ type, cls }];
            cost.ms += spent;
            ++cost.count;
            if (spent > worstEventMs) {
                worstEventMs = spent;
                worstEvent = QStringLiteral("%1 to %2").arg(type).arg(QString::fromLatin1(cls));
            }
        }
        return result;
    }

    void startRecording()
    {
        cpuByEvent.clear();
        worstEventMs = 0;
        worstEvent.clear();
        m_recording = true;
    }
    void stopRecording() { m_recording = false; }

    double worstEventMs = 0;
    QString worstEvent;
    struct EventCost
    {
        double ms = 0;
        int count = 0;
    };
    // By event type and receiver class.
    QMap<QPair<int, const char *>, EventCost> cpuByEvent;

private:
    int m_depth = 0;
    bool m_recording = false;
};

// One day of products as the panel stores them, and how many of them the report's range holds.
int seedDay(const QString &dbPath, int products, const QDate &day)
{
    if (!ProductDataGenerator::generate(
            dbPath, products, 1, QDateTime(day, QTime(23, 59, 59)), g_holes, 20240506u))
        return -1;
    const QString name = QStringLiteral("bench_count");
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dbPath);
        QSqlQuery q(db);
        const QString d = day.toString(QStringLiteral("yyyy-MM-dd"));
        if (db.open()
            && q.exec(
                QStringLiteral("select count(*) from product_data_new where uptime BETWEEN '%1 00:00:00' "
                               "AND '%1 23:59:59'")
                    .arg(d))
            && q.next())
            count = q.value(0).toInt();
    }
    QSqlDatabase::removeDatabase(name);
    return count;
}

// The baseline: nothing but rows.
class PlainModel : public QAbstractTableModel
{
public:
    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_rows.size();
    }
    int columnCount(const QModelIndex & = QModelIndex()) const override { return 5; }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_rows.size())
            return {};
        const tlv::ProductInfo &p = *m_rows.at(index.row());
        switch (index.column()) {
        case 0:
            return p.uptime;
        case 1:
            return p.barcode;
        case 2:
            return p.psize;
        case 3:
            return ProductStatus::isOk(p.status) ? QStringLiteral("OK") : QStringLiteral("NG");
        default:
            return p.status;
        }
    }
    void append(const ProductList &batch)
    {
        if (batch.isEmpty())
            return;
        beginInsertRows(QModelIndex(), m_rows.size(), m_rows.size() + batch.size() - 1);
        for (const auto &p : batch)
            m_rows.append(p);
        endInsertRows();
    }

private:
    QVector<std::shared_ptr<tlv::ProductInfo>> m_rows;
};

struct Run
{
    double firstRowsMs = -1;
    double finalMs = -1;
    double worstStallMs = 0;
    double worstStallAtMs = 0;
    double worstEventMs = 0;
    QString worstEvent;
    double guiCpuMs = 0;
    double clearMs = -1;
    double constructMs = 0;
    double showMs = 0;
    int rows = 0;
    QString cpuByEvent; // the GUI thread's costliest kinds of event: type to receiver, count
};

// Runs the event loop until done() holds, with a 5 ms timer that records how late it fires.
// firstRows()/finished() are polled on each tick and on every batch.
void spin(QElapsedTimer &clock, Run &run, const std::function<bool()> &firstRows,
    const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(kTickMs);
    qint64 lastTick = clock.elapsed();
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.elapsed();
        const double late = double(now - lastTick - kTickMs);
        if (late > run.worstStallMs) {
            run.worstStallMs = late;
            run.worstStallAtMs = double(now);
        }
        lastTick = now;
        if (run.firstRowsMs < 0 && firstRows())
            run.firstRowsMs = double(now);
        if (done()) {
            run.finalMs = double(now);
            loop.quit();
        }
        if (now > timeoutMs)
            loop.quit();
    });
    auto *app = static_cast<TimingApplication *>(qApp);
    tick.start();
    app->startRecording();
    const double cpuStart = threadCpuMs();
    loop.exec();
    run.guiCpuMs = threadCpuMs() - cpuStart;
    app->stopRecording();
    run.worstEventMs = app->worstEventMs;
    run.worstEvent = app->worstEvent;
    QList<QPair<double, QString>> top;
    for (auto it = app->cpuByEvent.cbegin(); it != app->cpuByEvent.cend(); ++it)
        top.append({ it.value().ms,
            QStringLiteral("(type %1 to %2 x%3)")
                .arg(it.key().first)
                .arg(QString::fromLatin1(it.key().second))
                .arg(it.value().count) });
    std::sort(top.begin(), top.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    for (int i = 0; i < qMin(3, top.size()); ++i)
        run.cpuByEvent += QStringLiteral("  %1 ms %2;").arg(top.at(i).first, 0, 'f', 1).arg(top.at(i).second);
}

// Built and started in the dialog's own order, so both sides pay the same start-up.
Run runBare(const QString &dbPath, const QString &day)
{
    Run run;
    QElapsedTimer clock;
    clock.start();

    PlainModel model;
    QTableView view;
    view.setModel(&model);
    view.resize(1000, 600);

    QThread thread;
    auto *worker = new TLVDatasWork(dbPath);
    QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    bool completed = false;
    QObject::connect(
        worker, &TLVDatasWork::Signal_FindResult, &view, [&](bool bCompleted, ProductList batch) {
            model.append(batch);
            completed = completed || bCompleted;
        });
    worker->moveToThread(&thread);
    thread.start();
    QMetaObject::invokeMethod(worker, "Slot_FindData", Qt::QueuedConnection,
        Q_ARG(QString, day + QStringLiteral(" 00:00:00")), Q_ARG(QString, day + QStringLiteral(" 23:59:59")),
        Q_ARG(QString, QString()));
    view.show();

    spin(
        clock, run, [&] { return model.rowCount() > 0; }, [&] { return completed; }, 120000);
    run.rows = model.rowCount();
    thread.exit(0);
    thread.wait();
    return run;
}

Run runDialog(const QString &dbPath, int expected)
{
    Run run;
    QElapsedTimer clock;
    clock.start();
    // The constructor sends today's query itself.
    ReportTable dialog(dbPath);
    run.constructMs = clock.nsecsElapsed() / 1e6;
    dialog.show();
    run.showMs = clock.nsecsElapsed() / 1e6 - run.constructMs;
    QAbstractItemModel *model = dialog.findChild<QTableView *>(QStringLiteral("tblWidProduct"))->model();
    auto *total = dialog.findChild<QLabel *>(QStringLiteral("lbTotal"));
    const QString finalText = QStringLiteral("共%1条").arg(expected);
    spin(
        clock, run, [&] { return model->rowCount() > 0; }, [&] { return total->text() == finalText; },
        120000);
    run.rows = model->rowCount();

    // The next find empties the loaded day in one go, inside the click.
    auto *start = dialog.findChild<QDateTimeEdit *>(QStringLiteral("dateTimeStart"));
    start->setDateTime(start->dateTime().addYears(1)); // finds nothing, so teardown stays short
    QElapsedTimer clear;
    clear.start();
    dialog.findChild<QPushButton *>(QStringLiteral("btnFind"))->click();
    run.clearMs = clear.nsecsElapsed() / 1e6;
    return run;
}

long rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void settle();

// A report loaded and closed must give its records back; closing or deleting it while a query
// runs must not wait for the query. Prints RSS before, loaded, rejected and after closing and
// deleting as the panel does (each after malloc_trim), and the time reject() and the destructor
// take in the middle of a query.
void closeAndRelease(const QString &dbPath, int expected)
{
    settle();
    const long before = rssKiB();
    auto dialog = std::make_unique<ReportTable>(dbPath);
    dialog->show();
    auto *total = dialog->findChild<QLabel *>(QStringLiteral("lbTotal"));
    const QString finalText = QStringLiteral("共%1条").arg(expected);
    QElapsedTimer wait;
    wait.start();
    while (total->text() != finalText && wait.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    settle();
    const long loaded = rssKiB();
    dialog->reject();
    QCoreApplication::processEvents();
    settle();
    // Rejected, the dialog has let go of its records; the texts its worker keeps for the next
    // query still hold pages among the freed ones. The panel deletes the dialog once closed.
    const long rejected = rssKiB();
    dialog.reset();
    settle();
    const long closed = rssKiB();
    std::printf(
        "\nRSS before opening %ld KiB, loaded %ld KiB (+%.1f MB), rejected %ld KiB (%+.1f MB), closed and "
        "deleted %ld KiB (%+.1f MB; target within 20 MB)  %s\n",
        before, loaded, (loaded - before) / 1024.0, rejected, (rejected - before) / 1024.0, closed,
        (closed - before) / 1024.0, closed - before < 20 * 1024 ? "OK" : "MISSED");

    for (const bool deleteOnly : { false, true }) {
        dialog = std::make_unique<ReportTable>(dbPath);
        QAbstractItemModel *model = dialog->findChild<QTableView *>(QStringLiteral("tblWidProduct"))->model();
        while (model->rowCount() == 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const int rowsAtClose = model->rowCount();
        QElapsedTimer clock;
        clock.start();
        if (!deleteOnly)
            dialog->reject();
        dialog.reset();
        const double ms = clock.nsecsElapsed() / 1e6;
        std::printf("%s with %d of %d rows loaded: %.1f ms (target < 100 ms)  %s\n",
            deleteOnly ? "deleted during a query" : "closed and deleted during a query", rowsAtClose,
            expected, ms, ms < 100.0 ? "OK" : "MISSED");
        settle();
    }
}

// Waits for the records let go of so far to be freed, and hands them back to the system, so
// that no run pays for the allocator's clean-up after another.
void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThreadPool::globalInstance()->waitForDone();
    // The release thread takes its work in order: once this runs, every release before it is done.
    std::promise<void> released;
    RecordRelease::post([&released] { released.set_value(); });
    released.get_future().wait();
#ifdef __GLIBC__
    if (!qEnvironmentVariableIsSet("TLV_BENCH_NO_TRIM"))
        malloc_trim(0);
#endif
}

// Milliseconds the sqlite3 shell takes for the worker's SELECT into /dev/null, or -1.
double shellMs(const QString &dbPath, const QString &day)
{
    const QString sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (sqlite3.isEmpty())
        return -1;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(sqlite3,
        { dbPath,
            QStringLiteral("select * from product_data_new where uptime BETWEEN '%1 00:00:00' "
                           "AND '%1 23:59:59'")
                .arg(day) });
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

// Two threads that keep both cores busy until destroyed.
class CpuLoad
{
public:
    explicit CpuLoad(bool on)
    {
        for (int i = 0; on && i < 2; ++i)
            m_threads.emplace_back([this] {
                volatile quint64 n = 0;
                while (!m_stop.load(std::memory_order_relaxed))
                    n = n + 1;
            });
    }
    ~CpuLoad()
    {
        m_stop = true;
        for (std::thread &t : m_threads)
            t.join();
    }

private:
    std::atomic<bool> m_stop { false };
    std::vector<std::thread> m_threads;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Seeds the day's products and prints how long that took; gives how many fall on today, or -1.
int generate(const QString &dbPath, int products, const QDate &today)
{
    QElapsedTimer seedClock;
    seedClock.start();
    const int found = seedDay(dbPath, products, today);
    if (found < 0) {
        std::fprintf(stderr, "could not generate the products\n");
        return -1;
    }
    std::printf("generated %d products with %d holes each in %.1f s; %d of them today\n", products, g_holes,
        seedClock.elapsed() / 1000.0, found);
    return found;
}

void printRound(int r, const Run &bare, const Run &dlg, double shellMs, int found)
{
    std::printf("round %d  sqlite3 shell, same SELECT > /dev/null: %.1f ms\n", r + 1, shellMs);
    for (const auto &[name, run] : { std::make_pair("bare:  ", &bare), std::make_pair("dialog:", &dlg) }) {
        std::printf("round %d  %s first rows %7.1f ms  final %7.1f ms  worst stall %5.1f ms (at %.0f ms)  "
                    "longest event %5.1f ms cpu (type %s)  gui cpu %6.1f ms  rows %d\n",
            r + 1, name, run->firstRowsMs, run->finalMs, run->worstStallMs, run->worstStallAtMs,
            run->worstEventMs, qPrintable(run->worstEvent), run->guiCpuMs, run->rows);
        std::printf("round %d  %s gui cpu by event:%s\n", r + 1, name, qPrintable(run->cpuByEvent));
    }
    std::printf("round %d  dialog: constructor %.1f ms, show %.1f ms; a find over the %d loaded rows clears "
                "them in %.1f ms\n",
        r + 1, dlg.constructMs, dlg.showMs, dlg.rows, dlg.clearMs);
    if (dlg.finalMs < 0 || dlg.rows != found)
        std::printf("  dialog did not reach the final total\n");
}

// The figures of every round, bare and dialog side by side.
struct Rounds
{
    std::vector<double> bareFinal, bareStall, dlgFinal, dlgStall, dlgFirst, bareFirst, bareEvent, dlgEvent,
        shell;

    void add(const Run &bare, const Run &dlg)
    {
        bareFinal.push_back(bare.finalMs);
        bareStall.push_back(bare.worstStallMs);
        bareFirst.push_back(bare.firstRowsMs);
        dlgFinal.push_back(dlg.finalMs);
        dlgStall.push_back(dlg.worstStallMs);
        dlgFirst.push_back(dlg.firstRowsMs);
        bareEvent.push_back(bare.worstEventMs);
        dlgEvent.push_back(dlg.worstEventMs);
    }
};

void printSummary(const Rounds &r, bool loaded)
{
    const double ratio = median(r.dlgFinal) / median(r.bareFinal);
    const double stall = *std::max_element(r.dlgStall.begin(), r.dlgStall.end());
    std::printf("\nmedian  bare:   first rows %.1f ms, final %.1f ms, worst stall %.1f ms\n",
        median(r.bareFirst), median(r.bareFinal), median(r.bareStall));
    std::printf("median  dialog: first rows %.1f ms, final %.1f ms, worst stall %.1f ms\n",
        median(r.dlgFirst), median(r.dlgFinal), median(r.dlgStall));
    std::printf("final total vs bare: %.2fx (target <= 1.50x)  %s\n", ratio, ratio <= 1.5 ? "OK" : "MISSED");
    const double shellRatio = median(r.dlgFinal) / median(r.shell);
    const double shellTarget = loaded ? 10.0 : 5.0;
    std::printf("final total vs sqlite3 shell (%.1f ms): %.2fx (target <= %.0fx%s)  %s\n", median(r.shell),
        shellRatio, shellTarget, loaded ? ", loaded" : ", stretch 4x",
        shellRatio <= shellTarget ? "OK" : "MISSED");
    const double event = *std::max_element(r.dlgEvent.begin(), r.dlgEvent.end());
    std::printf("worst GUI stall (wall clock): %.1f ms = %.2f of the 50 ms target  %s  (bare: %.1f ms)\n",
        stall, stall / 50.0, stall < 50.0 ? "OK" : "MISSED",
        *std::max_element(r.bareStall.begin(), r.bareStall.end()));
    std::printf("longest GUI event (thread cpu): %.1f ms = %.2f of the 50 ms target  %s  (bare: %.1f ms)\n",
        event, event / 50.0, event < 50.0 ? "OK" : "MISSED",
        *std::max_element(r.bareEvent.begin(), r.bareEvent.end()));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimingApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int products = args.size() > 1 ? args.at(1).toInt() : 100000;
    const int rounds = args.size() > 2 ? args.at(2).toInt() : 2;
    if (args.size() > 3 && !args.at(3).startsWith(QLatin1Char('-')))
        g_holes = args.at(3).toInt();
    const bool loaded = args.contains(QStringLiteral("--load"));

    QTemporaryDir dir;
    const QString dbPath = dir.filePath(QStringLiteral("TLV.db"));
    const QDate today = QDate::currentDate();
    const int found = generate(dbPath, products, today);
    if (found < 0)
        return 1;

    const QString day = today.toString(QStringLiteral("yyyy-MM-dd"));
    runBare(dbPath, day); // warms the file cache
    settle();
    const CpuLoad load(loaded);
    if (loaded)
        std::printf("beside two busy threads of our own\n");

    Rounds figures;
    for (int r = 0; r < rounds; ++r) {
        const Run bare = runBare(dbPath, day);
        settle();
        const Run dlg = runDialog(dbPath, found);
        settle();
        figures.shell.push_back(shellMs(dbPath, day));
        printRound(r, bare, dlg, figures.shell.back(), found);
        figures.add(bare, dlg);
    }

    closeAndRelease(dbPath, found);
    printSummary(figures, loaded);
    return 0;
}
