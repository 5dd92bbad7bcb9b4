// Time for TLVDatasWork to deliver 100,000 generated products (20 holes each) on its thread,
// against the sqlite3 shell running the same SELECT into /dev/null and against Python
// (sqlite3 + json.loads building the same per-product records), all on the same file in the
// same run. Also the worker's peak memory growth while the receiver drops every batch, and the
// memory that the records of all products hold once a receiver keeps every batch (a loaded report).

#include "ProductDataGenerator.h"
#include "ProductTable.h"
#include "TLVDatasWork.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <ctime>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kProducts = 100000;
constexpr int kHoles = 20;
constexpr int kRuns = 3;

const char kPythonReader[] = R"PY(
import json, sqlite3, sys

def number_text(v):
    return '%.6g' % (v if isinstance(v, (int, float)) and not isinstance(v, bool) else 0)

def items(text, fourth):
    if not text:
        return []
    try:
        doc = json.loads(text)
    except ValueError:
        return []
    if not isinstance(doc, list):
        return []
    out = []
    for o in doc:
        if not isinstance(o, dict) or not all(k in o for k in ('idx', 'status', 'position', fourth)):
            continue
        idx = o['idx']
        item = {'idx': idx if isinstance(idx, int) and not isinstance(idx, bool) and -2**31 <= idx < 2**31 else 0,
                'status': o['status'] is True,
                'position': number_text(o['position'])}
        if fourth == 'value':
            item['value'] = number_text(o['value'])
        else:
            types = o['ngtypes']
            item['ngtypes'] = [t if isinstance(t, str) else '' for t in types] if isinstance(types, list) else []
        out.append(item)
    return out

con = sqlite3.connect(sys.argv[1])
batch, total = [], 0
for row in con.execute(sys.argv[2]):
    cols = dict(zip(('id', 'uptime', 'pid', 'barcode', 'psize', 'diameter', 'appearance', 'status'), row))
    batch.append({'uptime': cols['uptime'] or '', 'pid': cols['pid'] or 0, 'barcode': cols['barcode'] or '',
                  'psize': cols['psize'] or '', 'status': cols['status'] or 0,
                  'holes': items(cols['diameter'], 'value'), 'apes': items(cols['appearance'], 'ngtypes')})
    if len(batch) > 100:
        total += len(batch)
        batch = []
total += len(batch)
print(total)
)PY";

// kB value of a line of /proc/self/status.
qint64 statusKb(const char *key)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Resets VmHWM to the current RSS (Linux 4.0+), so the generator's peak does not count.
bool resetPeak()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    return file.open(QIODevice::WriteOnly) && file.write("5") == 1;
}

double best(std::vector<double> v)
{
    return *std::min_element(v.begin(), v.end());
}

QString join(const std::vector<double> &v)
{
    QStringList parts;
    for (double d : v)
        parts << QString::number(d, 'f', 3);
    return parts.join(QStringLiteral(", "));
}

double threadCpu()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

double usageCpu(int who)
{
    rusage u {};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Seconds for a child process, or -1.
double runProcess(const QString &program, const QStringList &args, QByteArray *output = nullptr)
{
    QProcess process;
    if (!output)
        process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        std::fprintf(
            stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
        return -1;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (output)
        *output = process.readAllStandardOutput();
    return seconds;
}

struct WorkerTimes
{
    std::vector<double> wall, threadCpu, processCpu;
    qint64 peakGrowthKb = 0;
    bool peakReset = false;
    double keptWall = 0;
    double keptThreadCpu = 0;
    double heldBytes = 0;
};

struct ChildTimes
{
    std::vector<double> wall, cpu;
};

// Writes the generated day to path and prints how long that took.
bool generate(const QString &path, const QDateTime &end, QTextStream &out)
{
    QElapsedTimer timer;
    timer.start();
    if (!ProductDataGenerator::generate(path, kProducts, 1, end, kHoles, 42))
        return false;
    out << "generated " << kProducts << " products x " << kHoles << " holes in " << timer.elapsed() << " ms, "
        << QFileInfo(path).size() / (1024 * 1024) << " MB\n";
    out.flush();
    return true;
}

// Worker on its own thread; the receiver counts every batch and drops it unless keep is set.
class WorkerBench
{
public:
    WorkerBench(const QString &path, const QString &tmStart, const QString &tmEnd)
        : m_worker(new TLVDatasWork(path))
        , m_tmStart(tmStart)
        , m_tmEnd(tmEnd)
    {
        QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
        m_worker->moveToThread(&m_thread);
        m_thread.start();
        QObject::connect(m_worker, &TLVDatasWork::Signal_FindResult, &m_loop,
            [this](bool completed, QList<std::shared_ptr<tlv::ProductInfo>> batch) {
                if (m_keep)
                    m_kept.push_back(batch);
                m_products += batch.size();
                for (const auto &p : batch)
                    m_holes += p->vtHoles.size();
                if (completed)
                    m_loop.quit();
            });
    }

    ~WorkerBench()
    {
        m_thread.quit();
        m_thread.wait();
    }

    bool measureDropped(WorkerTimes *times)
    {
        times->peakReset = resetPeak();
        const qint64 rssBefore = statusKb("VmRSS");
        const qint64 hwmBefore = statusKb("VmHWM");
        for (int run = 0; run < kRuns; ++run) {
            if (!measureDroppedRun(times, times->peakReset ? rssBefore : hwmBefore))
                return false;
        }
        return true;
    }

    // Everything kept, as a loaded report holds it.
    void measureKept(WorkerTimes *times)
    {
        malloc_trim(0);
        const qint64 rssEmpty = statusKb("VmRSS");
        m_keep = true;
        QElapsedTimer timer;
        timer.start();
        const double processStart = usageCpu(RUSAGE_SELF);
        const double receiverStart = threadCpu();
        QMetaObject::invokeMethod(
            m_worker, [this] { m_worker->Slot_FindData(m_tmStart, m_tmEnd, QString()); },
            Qt::QueuedConnection);
        m_loop.exec();
        times->keptWall = timer.nsecsElapsed() / 1e9;
        times->keptThreadCpu = usageCpu(RUSAGE_SELF) - processStart - (threadCpu() - receiverStart);
        QMetaObject::invokeMethod(
            m_worker, [] { malloc_trim(0); }, Qt::BlockingQueuedConnection);
        malloc_trim(0);
        times->heldBytes = (statusKb("VmRSS") - rssEmpty) * 1024.0 / kProducts;
        m_keep = false;
        m_kept.clear();
    }

private:
    bool measureDroppedRun(WorkerTimes *times, qint64 baseKb)
    {
        m_products = m_holes = 0;
        const double processStart = usageCpu(RUSAGE_SELF);
        const double receiverStart = threadCpu();
        QElapsedTimer timer;
        timer.start();
        QMetaObject::invokeMethod(
            m_worker, [this] { m_worker->Slot_FindData(m_tmStart, m_tmEnd, QString()); },
            Qt::QueuedConnection);
        m_loop.exec();
        times->wall.push_back(timer.nsecsElapsed() / 1e9);
        const double processCpu = usageCpu(RUSAGE_SELF) - processStart;
        times->processCpu.push_back(processCpu);
        // The worker's thread and its helper: everything but this receiving thread.
        times->threadCpu.push_back(processCpu - (threadCpu() - receiverStart));
        times->peakGrowthKb = std::max(times->peakGrowthKb, statusKb("VmHWM") - baseKb);
        if (m_products != kProducts || m_holes != qint64(kProducts) * kHoles) {
            std::fprintf(stderr, "worker delivered %lld products, %lld holes\n", m_products, m_holes);
            return false;
        }
        return true;
    }

    QThread m_thread;
    TLVDatasWork *m_worker;
    const QString m_tmStart;
    const QString m_tmEnd;
    QEventLoop m_loop;
    qint64 m_products = 0;
    qint64 m_holes = 0;
    bool m_keep = false;
    std::vector<QList<std::shared_ptr<tlv::ProductInfo>>> m_kept;
};

bool timeShell(const QString &path, const QString &sql, ChildTimes *shell)
{
    const QString sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    for (int run = 0; run < kRuns && !sqlite3.isEmpty(); ++run) {
        const double cpuStart = usageCpu(RUSAGE_CHILDREN);
        const double s = runProcess(sqlite3, { path, sql });
        if (s < 0)
            return false;
        shell->wall.push_back(s);
        shell->cpu.push_back(usageCpu(RUSAGE_CHILDREN) - cpuStart);
    }
    return true;
}

bool timePython(const QString &script, const QString &path, const QString &sql, ChildTimes *python)
{
    {
        QFile file(script);
        if (!file.open(QIODevice::WriteOnly) || file.write(kPythonReader) < 0)
            return false;
    }
    for (int run = 0; run < 2; ++run) {
        QByteArray printed;
        const double cpuStart = usageCpu(RUSAGE_CHILDREN);
        const double s = runProcess(QStringLiteral("/usr/bin/python3"), { script, path, sql }, &printed);
        if (s < 0 || printed.trimmed().toLongLong() != kProducts) {
            std::fprintf(stderr, "python run failed (%s)\n", printed.constData());
            return false;
        }
        python->wall.push_back(s);
        python->cpu.push_back(usageCpu(RUSAGE_CHILDREN) - cpuStart);
    }
    return true;
}

// Wall times decide the targets; CPU seconds are printed too, as the machine may be shared.
void printTimes(QTextStream &out, const WorkerTimes &ours, const ChildTimes &shell, const ChildTimes &python)
{
    out << "wall seconds (best of runs)\n";
    out << "  worker, Slot_FindData to the final batch:  " << QString::number(best(ours.wall), 'f', 3)
        << "  [" << join(ours.wall) << "]\n";
    if (!shell.wall.empty())
        out << "  sqlite3 shell, same SELECT > /dev/null:    " << QString::number(best(shell.wall), 'f', 3)
            << "  [" << join(shell.wall) << "]\n";
    out << "  python3, sqlite3 + json.loads records:     " << QString::number(best(python.wall), 'f', 3)
        << "  [" << join(python.wall) << "]\n";
    out << "cpu seconds (best of runs)\n";
    out << "  worker threads: " << QString::number(best(ours.threadCpu), 'f', 3)
        << ", whole process incl. the receiver: " << QString::number(best(ours.processCpu), 'f', 3) << "\n";
    if (!shell.wall.empty())
        out << "  sqlite3 shell: " << QString::number(best(shell.cpu), 'f', 3) << "\n";
    out << "  python3:       " << QString::number(best(python.cpu), 'f', 3) << "\n";
}

void printTargets(
    QTextStream &out, const WorkerTimes &ours, const ChildTimes &shell, const ChildTimes &python)
{
    const double w = best(ours.wall);
    out << "worker peak memory growth: " << QString::number(ours.peakGrowthKb / 1024.0, 'f', 1) << " MB"
        << (ours.peakReset ? "" : " (VmHWM could not be reset; includes the generator)")
        << "  (target < 50)\n";
    out << "receiver keeping every batch: " << QString::number(ours.keptWall, 'f', 3)
        << " s wall, worker threads " << QString::number(ours.keptThreadCpu, 'f', 3) << " s cpu\n";
    out << "memory held by the records of a loaded report: "
        << QString::number(ours.heldBytes / 1024.0, 'f', 2) << " KB a product of " << kHoles
        << " holes  (target <= 1.5)\n";
    bool met = ours.peakGrowthKb < 50 * 1024 && ours.heldBytes <= 1.5 * 1024;
    if (!shell.wall.empty()) {
        const double ratio = w / best(shell.wall);
        out << "ratio worker / sqlite3 shell: " << QString::number(ratio, 'f', 2) << " wall, "
            << QString::number(best(ours.threadCpu) / best(shell.cpu), 'f', 2) << " cpu  (target <= 4)\n";
        met = met && ratio <= 4.0;
    }
    const double speedup = best(python.wall) / w;
    out << "ratio python / worker:        " << QString::number(speedup, 'f', 2) << " wall, "
        << QString::number(best(python.cpu) / best(ours.processCpu), 'f', 2) << " cpu  (target >= 2)\n";
    met = met && speedup >= 2.0;
    out << "targets " << (met ? "met" : "NOT met") << "\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString path = dir.filePath(QStringLiteral("DectDB/TLV.db"));
    const QDateTime end = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch());
    if (!generate(path, end, out))
        return 1;

    const QString tmStart = end.addDays(-1).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QString tmEnd = end.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QString sql = ProductTable::selectSql(tmStart, tmEnd, QString());

    WorkerTimes ours;
    {
        WorkerBench bench(path, tmStart, tmEnd);
        if (!bench.measureDropped(&ours))
            return 1;
        bench.measureKept(&ours);
    }
    ChildTimes shell;
    ChildTimes python;
    if (!timeShell(path, sql, &shell)
        || !timePython(dir.filePath(QStringLiteral("reader.py")), path, sql, &python))
        return 1;
    printTimes(out, ours, shell, python);
    printTargets(out, ours, shell, python);
    return 0;
}
