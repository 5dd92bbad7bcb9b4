// Report export speed and memory: ours (ReportWorkbookWriter, and the report dialog's export
// button when built with it) against a plain C program on libxlsxwriter and against openpyxl,
// all writing the same cells of generated products with 20 holes each.
//
// bench_export [products]                      the whole comparison (default 10000)
// bench_export --child ours|dialog N OUT.xlsx  one measured export, prints
//                                              "wall_seconds cpu_seconds growth_kb records_kb"
// bench_export --cells N CELLS.tsv               only the cells of the baselines
// bench_export --scale TLV.db OUT.xlsx           the report dialog over a whole database: fill,
//                                              scroll, click and export through the button, with
//                                              memory per product and the longest GUI stall; the
//                                              products should end before today (tlvgen --end)

#include "FileReveal_p.h"
#include "ProductInfo.h"
#include "ReportWorkbookWriter.h"
#include "SaveFilePrompt_p.h"
#ifdef TLV_BENCH_DIALOG
#include "ProductDataGenerator.h"
#include "ReportTable.h"
#endif

#include <QDateTimeEdit>
#include <QEventLoop>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>

namespace {

constexpr int holesPerProduct = 20;
using Products = QList<std::shared_ptr<tlv::ProductInfo>>;

long statusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix(key);
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// From here on VmHWM reports the peak since this call.
void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// A line's day: mostly OK products, hole diameters around 4 mm, positions along the part.
Products makeProducts(int count)
{
    quint32 seed = 20240301u;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const QDateTime start(QDate(2024, 3, 1), QTime(8, 0, 0));
    Products products;
    products.reserve(count);
    for (int i = 0; i < count; ++i) {
        auto p = std::make_shared<tlv::ProductInfo>();
        p->uptime = start.addSecs(qint64(i) * 7).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        p->pid = 100000 + i;
        p->barcode = QStringLiteral("M2403%1,WO240301%2")
                         .arg(next() % 10000, 4, 10, QLatin1Char('0'))
                         .arg(i / 500, 4, 10, QLatin1Char('0'));
        p->psize = QStringLiteral("%1*%2").arg(QString::number(1200 + (next() % 1000) / 10.0, 'g', 6),
            QString::number(45 + (next() % 100) / 100.0, 'g', 6));
        const quint32 r = next() % 100;
        p->status = r < 85 ? 3 : r < 92 ? 2 : r < 97 ? 1 : 0;
        for (int j = 0; j < holesPerProduct; ++j) {
            auto h = std::make_shared<tlv::HoleInfo>();
            const double value = 4.0 + (int(next() % 2001) - 1000) / 10000.0;
            h->idx = j;
            h->status = qAbs(value - 4.0) <= 0.08;
            h->value = QString::number(value, 'g', 6);
            h->position = QString::number(j * 12.5 + 3.25, 'g', 6);
            p->vtHoles.append(h);
        }
        products.append(p);
    }
    return products;
}

// The cells the report writer makes of these products, for the C and Python baselines.
void writeCells(const QString &fileName, const Products &products)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(fileName));
    QTextStream out(&file);
    out.setCodec("UTF-8");
    auto cell = [&out](int row, int col, char kind, int fmt, const QString &text) {
        out << row << '\t' << col << '\t' << kind << '\t' << fmt << '\t' << text << '\n';
    };
    const QStringList headers { "Time", "ProductID", "Material number", "Order number", "Result", "Length",
        "Diameter" };
    for (int c = 0; c < headers.size(); ++c)
        cell(1, c + 1, 's', 0, headers.at(c));
    out << "merge\t1\t7\t1\t" << 6 + holesPerProduct << "\tDiameter\n";
    const QStringList results { QStringLiteral("尺寸NG、外观NG"), QStringLiteral("外观NG"),
        QStringLiteral("尺寸NG"), QStringLiteral("OK") };
    int row = 2;
    for (const auto &p : products) {
        cell(row, 1, 's', 0, p->uptime);
        cell(row, 2, 'n', 0, QString::number(p->pid));
        const QStringList parts = p->barcode.split(QLatin1Char(','));
        cell(row, 3, 's', 0, parts.at(0));
        cell(row, 4, 's', 0, parts.at(1));
        cell(row, 5, 's', 0, results.at(p->status));
        cell(row, 6, 's', 0, p->psize);
        for (const auto &h : p->vtHoles)
            cell(row, 7 + h->idx, 's', h->status ? 1 : 2, h->value);
        ++row;
    }
}

int child(const QString &mode, int count, const QString &out)
{
    const long atStart = statusKb("VmRSS:");
    Products products = makeProducts(count);
    const long records = statusKb("VmRSS:") - atStart;
    QElapsedTimer timer;
    double cpu = 0;
    long before = 0;
    bool ok = false;
    if (mode == QLatin1String("ours")) {
        const ReportWorkbookWriter::Products list = products.toVector();
        resetPeak();
        before = statusKb("VmRSS:");
        timer.start();
        cpu = cpuSeconds();
        ok = ReportWorkbookWriter::write(out, list);
#ifdef TLV_BENCH_DIALOG
    } else if (mode == QLatin1String("dialog")) {
        // The dialog queries its database when it opens; an empty table keeps that quiet.
        QTemporaryDir dbDir;
        const QString dbPath = dbDir.filePath(QStringLiteral("TLV.db"));
        if (!ProductDataGenerator::generate(dbPath, 0, 1, QDateTime::currentDateTime(), holesPerProduct, 1))
            return 1;
        ReportTable dialog(dbPath);
        QMetaObject::invokeMethod(&dialog, "Slot_FindResult", Qt::DirectConnection, Q_ARG(bool, true),
            Q_ARG(QList<std::shared_ptr<tlv::ProductInfo>>, products));
        products.clear(); // the dialog's model holds them now
        // Let its own first query finish so that its thread does not share the measurement.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        SaveFilePrompt::setOverride([&out](QWidget *, const QString &, const QString &) { return out; });
        FileReveal::setLauncher([](const QString &, const QStringList &, const QString &) {});
        resetPeak();
        before = statusKb("VmRSS:");
        timer.start();
        cpu = cpuSeconds();
        ok = QMetaObject::invokeMethod(&dialog, "Slot_BtnExportClicked") && QFile::exists(out);
#endif
    } else {
        return 2;
    }
    cpu = cpuSeconds() - cpu;
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%.6f %.6f %ld %ld\n", seconds, cpu, statusKb("VmHWM:") - before, records);
    return ok ? 0 : 1;
}

// Runs the event loop until done() holds; gives the seconds taken and the longest gap between
// two turns of the loop (a stalled window) in milliseconds.
std::pair<double, double> runUntil(const std::function<bool()> &done, const std::function<void()> &start = {})
{
    QElapsedTimer timer, sinceTick;
    double longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });
    ticker.start(5);
    timer.start();
    sinceTick.start();
    if (start)
        QTimer::singleShot(0, start);
    // Sleeps until something happens (the ticker at the latest): QCoreApplication::processEvents
    // with a time limit drops WaitForMoreEvents and would spin, taking a core from the worker.
    QEventLoop loop;
    while (!done())
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    longest = std::max(longest, sinceTick.nsecsElapsed() / 1e6);
    return { timer.nsecsElapsed() / 1e9, longest };
}

#ifdef TLV_BENCH_DIALOG
// Fills the dialog with every product from 2000 on; gives the rows shown.
int fillAll(ReportTable &dialog, QTableView *view, QLabel *total)
{
    // Its own first query, of today, which should find nothing for the memory figure to hold.
    runUntil([&] { return !total->text().isEmpty(); });
    const long atStart = statusKb("VmRSS:");
    dialog.findChild<QDateTimeEdit *>(QStringLiteral("dateTimeStart"))
        ->setDateTime(QDate(2000, 1, 1).startOfDay());
    total->clear();
    const auto fill = runUntil([&] { return !total->text().isEmpty(); },
        [&] { dialog.findChild<QPushButton *>(QStringLiteral("btnFind"))->click(); });
    const int rows = view->model()->rowCount();
    const long loadedKb = statusKb("VmRSS:") - atStart;
    std::printf("fill: %d products in %.2f s, longest stall %.0f ms; %.0f bytes RSS per product\n", rows,
        fill.first, fill.second, loadedKb * 1024.0 / std::max(1, rows));
    return rows;
}

void browse(QTableView *view, int rows)
{
    int step = 0;
    const auto browsing = runUntil([&] { return step > 20; },
        [&] {
            for (step = 0; step <= 20; ++step) {
                const QModelIndex index = view->model()->index(rows / 20 * step - (step == 20), 1);
                view->scrollTo(index);
                emit view->clicked(index);
                view->repaint();
            }
        });
    std::printf("scroll and click 21 places: %.2f s\n", browsing.first);
}

bool exportThroughButton(ReportTable &dialog, const QString &out)
{
    SaveFilePrompt::setOverride([&out](QWidget *, const QString &, const QString &) { return out; });
    FileReveal::setLauncher([](const QString &, const QStringList &, const QString &) {});
    QFile::remove(out);
    bool progressShown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto *progress = dialog.findChild<QProgressDialog *>();
        progressShown |= progress && progress->isVisible();
    });
    watch.start(100);
    resetPeak();
    const long before = statusKb("VmRSS:");
    bool exported = false;
    const auto exporting = runUntil([&] { return exported; },
        [&] {
            QMetaObject::invokeMethod(&dialog, "Slot_BtnExportClicked");
            exported = true;
        });
    std::printf("export: %.2f s, longest stall %.0f ms, progress shown: %s, saved: %s, peak growth %.1f MB\n",
        exporting.first, exporting.second, progressShown ? "yes" : "no", QFile::exists(out) ? "yes" : "NO",
        (statusKb("VmHWM:") - before) / 1024.0);
    return QFile::exists(out);
}
#endif

int scale(int argc, char **argv)
{
#ifdef TLV_BENCH_DIALOG
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[3]);
    ReportTable dialog(QString::fromLocal8Bit(argv[2]));
    auto *view = dialog.findChild<QTableView *>(QStringLiteral("tblWidProduct"));
    auto *total = dialog.findChild<QLabel *>(QStringLiteral("lbTotal"));
    total->clear();
    dialog.resize(1600, 900);
    dialog.show();
    browse(view, fillAll(dialog, view, total));
    return exportThroughButton(dialog, out) ? 0 : 1;
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return 2;
#endif
}

struct Result
{
    double seconds = 0;
    double cpu = 0;
    long growthKb = 0;
    long recordsKb = 0;
};

bool run(const QString &program, const QStringList &arguments, Result *result)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return false;
    }
    const QList<QByteArray> fields = process.readAllStandardOutput().trimmed().split(' ');
    result->seconds = fields.value(0).toDouble();
    result->cpu = fields.value(1).toDouble();
    result->growthKb = fields.value(2).toLong();
    result->recordsKb = fields.value(3).toLong();
    return true;
}

struct Command
{
    QString program;
    QStringList arguments;
    Result best;
};

// The machine is shared: the commands take turns, and each keeps its least disturbed run
// (wall and CPU time separately).
void measure(QList<Command *> commands, int runs)
{
    for (int i = 0; i < runs; ++i) {
        for (Command *c : qAsConst(commands)) {
            Result r;
            if (!run(c->program, c->arguments, &r))
                std::exit(1);
            if (i == 0) {
                c->best = r;
                continue;
            }
            c->best.seconds = std::min(c->best.seconds, r.seconds);
            c->best.cpu = std::min(c->best.cpu, r.cpu);
            c->best.growthKb = std::max(c->best.growthKb, r.growthKb);
        }
    }
}

QByteArray sheetXml(const QString &xlsx)
{
    QProcess unzip;
    unzip.start(
        QStringLiteral("unzip"), { QStringLiteral("-p"), xlsx, QStringLiteral("xl/worksheets/sheet1.xml") });
    unzip.waitForFinished(-1);
    return unzip.readAllStandardOutput();
}

void print(const char *name, const Result &r, const Result &plain, const Result &openpyxl)
{
    std::printf("%-34s wall %7.3f s (%5.2fx plain, %5.1fx faster than openpyxl)  "
                "cpu %7.3f s (%5.2fx plain, %5.1fx faster than openpyxl)  peak growth %6.1f MB\n",
        name, r.seconds, r.seconds / plain.seconds, openpyxl.seconds / r.seconds, r.cpu, r.cpu / plain.cpu,
        openpyxl.cpu / r.cpu, r.growthKb / 1024.0);
}

void printGrowth(int count, const Result &ours, const Result &ours10x)
{
    std::printf("ReportWorkbookWriter, %d products: wall %.3f s, cpu %.3f s\n", count * 10, ours10x.seconds,
        ours10x.cpu);
    std::printf(
        "peak growth beyond the records: %.1f MB at %d, %.1f MB at %d (ratio %.2f); records held %.1f MB "
        "and %.1f MB\n",
        ours.growthKb / 1024.0, count, ours10x.growthKb / 1024.0, count * 10,
        double(ours10x.growthKb) / std::max(1L, ours.growthKb), ours.recordsKb / 1024.0,
        ours10x.recordsKb / 1024.0);
}

void printTargets(const Result &ours, const Result &ours10x, const Result &plain, const Result &openpyxl)
{
    auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    std::printf(
        "targets (wall / cpu): within 1.3x of plain C: %s / %s; at least 5x faster than openpyxl: %s / %s; "
        "peak growth x10 within 1.2x: %s\n",
        verdict(ours.seconds <= 1.3 * plain.seconds), verdict(ours.cpu <= 1.3 * plain.cpu),
        verdict(openpyxl.seconds >= 5 * ours.seconds), verdict(openpyxl.cpu >= 5 * ours.cpu),
        verdict(ours10x.growthKb <= 1.2 * ours.growthKb));
}

// The whole comparison over count products.
int compare(int count)
{
    QTemporaryDir dir;
    const QString self = QCoreApplication::applicationFilePath();
    const QString cells = dir.filePath(QStringLiteral("cells.tsv"));
    writeCells(cells, makeProducts(count));

    std::printf(
        "%d products of %d holes, %d cells\n", count, holesPerProduct, count * (6 + holesPerProduct) + 7);
    const QString oursFile = dir.filePath(QStringLiteral("ours.xlsx"));
    const QString plainFile = dir.filePath(QStringLiteral("plain.xlsx"));
    Command plain { QStringLiteral(TLV_PLAIN_EXPORT), { cells, plainFile }, {} };
    Command ours { self, { "--child", "ours", QString::number(count), oursFile }, {} };
    Command openpyxl { QStringLiteral("/usr/bin/python3"),
        { QStringLiteral(TLV_OPENPYXL_EXPORT), cells, dir.filePath("openpyxl.xlsx") }, {} };
    Command ours10x { self, { "--child", "ours", QString::number(count * 10), dir.filePath("ours10x.xlsx") },
        {} };
#ifdef TLV_BENCH_DIALOG
    Command dialog { self, { "--child", "dialog", QString::number(count), dir.filePath("dialog.xlsx") }, {} };
    measure({ &plain, &ours, &dialog }, 7);
#else
    measure({ &plain, &ours }, 7);
#endif
    measure({ &openpyxl }, 2);
    measure({ &ours10x }, 1);

    print("plain C, libxlsxwriter", plain.best, plain.best, openpyxl.best);
    print("openpyxl write-only", openpyxl.best, plain.best, openpyxl.best);
    print("ReportWorkbookWriter", ours.best, plain.best, openpyxl.best);
#ifdef TLV_BENCH_DIALOG
    print("ReportTable::Slot_BtnExportClicked", dialog.best, plain.best, openpyxl.best);
#endif
    printGrowth(count, ours.best, ours10x.best);
    const QByteArray oursXml = sheetXml(oursFile);
    std::printf("sheet XML of ours and of plain C identical: %s (%lld bytes)\n",
        oursXml == sheetXml(plainFile) ? "yes" : "NO", qint64(oursXml.size()));
    printTargets(ours.best, ours10x.best, plain.best, openpyxl.best);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--scale") == 0)
        return scale(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--child") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return child(
            QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt(), QString::fromLocal8Bit(argv[4]));
    }
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--cells") == 0) {
        writeCells(QString::fromLocal8Bit(argv[3]), makeProducts(QByteArray(argv[2]).toInt()));
        return 0;
    }
    return compare(argc > 1 ? QByteArray(argv[1]).toInt() : 10000);
}
