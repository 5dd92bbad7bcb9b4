// Opens the report over a generated range with the history on, waits for every row, presses
// btnCapability and measures the time until the capability table is filled and the longest
// stall of the GUI event loop from the press until the charts have been painted. The baseline of
// the same run is a plain pass over the same hole values (text to number, summed). The study
// alone and the view's re-read of the stored values alone are timed too.
//
//   bench_capability [products=100000] [holes=20] [rounds=3]

#include "CapabilityView.h"
#include "HistorySwitch.h"
#include "ProductDataGenerator.h"
#include "ReportTable.h"
#include "ReportTableModel.h"
#include "StoredHoleReader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

constexpr double kTableLimitMs = 300.0;
constexpr double kStallLimitMs = 50.0;

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    // Polled from the event loop, which otherwise sleeps: a busy wait would take a core from the
    // thread being measured.
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(1);
    if (!done())
        loop.exec();
    return done();
}

// The longest gap between two turns of the event loop while it runs.
class StallWatch
{
public:
    StallWatch()
    {
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_timer.start();
    }
    void tick()
    {
        m_longest = std::max(m_longest, m_clock.nsecsElapsed());
        m_clock.restart();
    }
    double stop()
    {
        tick();
        m_timer.stop();
        return double(m_longest) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

// The CPU time of the whole process so far (every thread), where the system tells it: under
// other load the wall times vary, the work done much less.
double processCpuMs()
{
#ifdef Q_OS_UNIX
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
#else
    return 0.0;
#endif
}

double plainPass(const QVector<std::shared_ptr<tlv::ProductInfo>> &products)
{
    QElapsedTimer clock;
    clock.start();
    double sum = 0.0;
    for (const auto &product : products)
        for (const auto &hole : product->vtHoles)
            sum += hole->value.toDouble();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    return sum > 0.0 ? ms : ms + 0.0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int products = args.value(1, QStringLiteral("100000")).toInt();
    const int holes = args.value(2, QStringLiteral("20")).toInt();
    const int rounds = args.value(3, QStringLiteral("3")).toInt();
    QTextStream out(stdout);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("TLV.db"));
    const QDateTime stamp(QDate::currentDate(), QTime(12, 0));
    if (!ProductDataGenerator::generate(path, products, 0, stamp, holes, 7)) {
        out << "could not generate the products\n";
        return 1;
    }
    HistorySwitch::set(path, true);
    ReportTable report(path);
    report.show();
    auto *label = report.findChild<QLabel *>(QStringLiteral("lbTotal"));
    if (!waitFor([&] { return label->text() == QStringLiteral("共%1条").arg(products); }, 600000)) {
        out << "the report did not load the products\n";
        return 1;
    }
    auto *model = static_cast<ReportTableModel *>(
        report.findChild<QTableView *>(QStringLiteral("tblWidProduct"))->model());
    const double baseline = plainPass(model->products());
    out << products << " products x " << holes << " holes in the report\n";
    {
        QElapsedTimer clock;
        clock.start();
        const auto rows = CapabilityStudy::run(model->products(), {});
        const double study = double(clock.nsecsElapsed()) / 1e6;
        clock.restart();
        const auto causes = DefectPareto::of(model->products());
        out << QStringLiteral("figures alone: study %1 ms (%2 characteristics), Pareto %3 ms\n")
                   .arg(study, 0, 'f', 1)
                   .arg(rows.size())
                   .arg(double(clock.nsecsElapsed()) / 1e6, 0, 'f', 1);
        // The view reads the values again as stored, each half of the range beside its study.
        std::vector<qint64> ids;
        for (const auto &product : model->products())
            ids.push_back(product->id);
        std::sort(ids.begin(), ids.end());
        clock.restart();
        StoredHoles stored;
        StoredHoleReader::read(path, ids, stored, nullptr);
        out << QStringLiteral("stored values read again on one thread: %1 ms (%2 products)\n")
                   .arg(double(clock.nsecsElapsed()) / 1e6, 0, 'f', 1)
                   .arg(stored.products());
    }

    StallWatch watch;
    QVector<double> tables;
    QVector<double> stalls;
    for (int round = 0; round < rounds; ++round) {
        watch.start();
        const double cpuBefore = processCpuMs();
        QElapsedTimer clock;
        clock.start();
        report.findChild<QPushButton *>(QStringLiteral("btnCapability"))->click();
        auto *view = report.findChild<CapabilityView *>();
        if (!view || !waitFor([&] { return view->isReady(); }, 60000)) {
            out << "the capability table did not fill\n";
            return 1;
        }
        const double table = double(clock.nsecsElapsed()) / 1e6;
        const double cpu = processCpuMs() - cpuBefore;
        // Until the charts have been painted.
        waitFor([&] { return clock.elapsed() > qint64(table) + 300; }, 2000);
        const double stall = watch.stop();
        tables << table;
        stalls << stall;
        out << QStringLiteral("round %1: table after %2 ms (%4 ms of CPU), longest stall %3 ms\n")
                   .arg(round + 1)
                   .arg(table, 0, 'f', 1)
                   .arg(stall, 0, 'f', 1)
                   .arg(cpu, 0, 'f', 0);
        delete view;
    }
    std::sort(tables.begin(), tables.end());
    std::sort(stalls.begin(), stalls.end());
    const double table = tables.at(tables.size() / 2);
    const double stall = stalls.last();
    out << QStringLiteral(
        "capability table: %1 ms after the rows are in (median; limit %2 ms: %3), %4x a plain "
        "pass over the hole values (%5 ms)\n")
               .arg(table, 0, 'f', 1)
               .arg(kTableLimitMs)
               .arg(table <= kTableLimitMs ? QStringLiteral("met") : QStringLiteral("MISSED"))
               .arg(table / baseline, 0, 'f', 2)
               .arg(baseline, 0, 'f', 1);
    out << QStringLiteral("longest GUI stall: %1 ms (worst round; limit %2 ms: %3)\n")
               .arg(stall, 0, 'f', 1)
               .arg(kStallLimitMs)
               .arg(stall <= kStallLimitMs ? QStringLiteral("met") : QStringLiteral("MISSED"));
    return 0;
}
