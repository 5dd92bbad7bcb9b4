// Cost of storing a product at the cycle end, against a plain SQLite C-API insert of the
// same row texts with the same journal settings, plus the cost of one whole product cycle.
#include "Custom_TALVORIN.h"
#include "ProductStore.h"
#include "ProductTable.h"

#include <SysInterfaceImpl.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

class BenchHost : public SysInterfaceImpl
{
public:
    QString data;
    QString dataPath() override { return data; }
};

QElapsedTimer clock_;
qint64 insertedAt = 0;
QtMessageHandler previous = nullptr;

// The panel logs right after each successful insert: that moment ends the insert's time.
void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && message.endsWith(QLatin1String("Data inserted successfully."))) {
        insertedAt = clock_.nsecsElapsed();
        return;
    }
    if (type == QtDebugMsg)
        return;
    previous(type, context, message);
}

MeasureItem item(const QString &name, double value, double low, double up)
{
    MeasureItem m;
    m.name = name;
    m.values = { { QStringLiteral("MeasureResults"), value }, { QStringLiteral("LowTolerance"), low },
        { QStringLiteral("UpTolerance"), up } };
    return m;
}

ProductProcessData result(
    int kind, const QMap<QString, MeasureItem> &items, int productId = 0, bool ok = true)
{
    CameraResult entry;
    entry.kind = kind;
    entry.items = items;
    entry.productId = productId;
    entry.appearanceOk = ok;
    ProductProcessData data;
    data.results.append(entry);
    return data;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
    return values[index];
}

struct RowTexts
{
    QByteArray uptime, barcode, psize, diameter, appearance;
    int pid = 0, status = 0;
};

// Plain SQLite C-API inserts of the panel's row texts into a table of its own.
class PlainInserter
{
public:
    explicit PlainInserter(const QByteArray &path)
    {
        sqlite3_open(path.constData(), &m_db);
        sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(m_db, ProductTable::createSql, nullptr, nullptr, nullptr);
    }
    ~PlainInserter() { sqlite3_close(m_db); }
    PlainInserter(const PlainInserter &) = delete;
    PlainInserter &operator=(const PlainInserter &) = delete;

    bool insert(const RowTexts &row)
    {
        const qint64 begin = clock_.nsecsElapsed();
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(m_db, ProductTable::insertSql, -1, &stmt, nullptr);
        sqlite3_bind_text(stmt, 1, row.uptime.constData(), row.uptime.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int(stmt, 2, row.pid);
        sqlite3_bind_text(stmt, 3, row.barcode.constData(), row.barcode.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 4, row.psize.constData(), row.psize.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 5, row.diameter.constData(), row.diameter.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 6, row.appearance.constData(), row.appearance.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int(stmt, 7, row.status);
        const bool done = sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_finalize(stmt);
        times.push_back((clock_.nsecsElapsed() - begin) / 1000.0);
        if (!done)
            std::fprintf(stderr, "plain insert failed: %s\n", sqlite3_errmsg(m_db));
        return done;
    }

    std::vector<double> times;

private:
    sqlite3 *m_db = nullptr;
};

struct PanelTimes
{
    std::vector<double> inserts;
    std::vector<double> cycles;
};

// The camera results of one product: sizes, the holes, then the appearance.
std::vector<ProductProcessData> productResults(
    int p, int holes, std::mt19937 &random, std::normal_distribution<double> &diameter)
{
    std::vector<ProductProcessData> results;
    results.push_back(result(0,
        { { QStringLiteral("a"), item(QStringLiteral("TALVORIN长度"), 1200.3, 1199.0, 1201.0) },
            { QStringLiteral("b"), item(QStringLiteral("宽度"), 35.02, 34.9, 35.1) } }));
    for (int h = 0; h < holes; ++h)
        results.push_back(result(1,
            { { QStringLiteral("d"),
                item(QStringLiteral("圆径%1").arg(h), diameter(random), 7.95, 8.05) } }));
    results.push_back(result(2, {}, p + 1, p % 17 != 0));
    return results;
}

// One product cycle through the panel; false when the panel did not insert.
bool runCycle(BenchHost &host, const std::vector<ProductProcessData> &results, int p, PanelTimes *times)
{
    McuEvent start;
    start.eventText = QStringLiteral("CamLenStart");
    McuEvent end;
    end.eventText = QStringLiteral("CamLenEnd");
    const qint64 begin = clock_.nsecsElapsed();
    emit host.Signal_McEvent(start);
    for (const ProductProcessData &r : results)
        emit host.cameraDetectionCompleted(r);
    const qint64 endStart = clock_.nsecsElapsed();
    insertedAt = 0;
    emit host.Signal_McEvent(end);
    const qint64 finished = clock_.nsecsElapsed();
    if (insertedAt == 0) {
        std::fprintf(stderr, "insert failed at product %d\n", p);
        return false;
    }
    times->inserts.push_back((insertedAt - endStart) / 1000.0);
    times->cycles.push_back((finished - begin) / 1000.0);
    return true;
}

bool readLastRow(const QSqlDatabase &reader, RowTexts *last)
{
    QSqlQuery row(QStringLiteral("select uptime,pid,barcode,psize,diameter,appearance,status "
                                 "from product_data_new order by id desc limit 1"),
        reader);
    if (!row.next())
        return false;
    *last = { row.value(0).toString().toUtf8(), row.value(2).toString().toUtf8(),
        row.value(3).toString().toUtf8(), row.value(4).toString().toUtf8(), row.value(5).toString().toUtf8(),
        row.value(1).toInt(), row.value(6).toInt() };
    return true;
}

// The plain inserts run interleaved with the panel's, product by product and first and second
// in turn, so that both see the same state of the disk.
bool runProducts(
    BenchHost &host, const QString &dataDir, int products, int holes, PlainInserter &plain, PanelTimes *times)
{
    std::mt19937 random(7);
    std::normal_distribution<double> diameter(8.0, 0.02);
    RowTexts last;
    bool haveLast = false;
    Custom_TALVORIN prototype;
    std::unique_ptr<PluginWidget> panel(prototype.create(&host));
    QSqlDatabase reader = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("read"));
    reader.setDatabaseName(QDir(dataDir).filePath(QStringLiteral("DectDB/TLV.db")));
    reader.open();
    for (int p = 0; p < products; ++p) {
        const std::vector<ProductProcessData> results = productResults(p, holes, random, diameter);
        // Which of the two goes first alternates from product to product.
        if (p % 2 == 1 && haveLast && !plain.insert(last))
            return false;
        if (!runCycle(host, results, p, times) || !readLastRow(reader, &last))
            return false;
        haveLast = true;
        if (p % 2 == 0 && !plain.insert(last))
            return false;
    }
    return true;
}

void printTimes(int products, int holes, const PanelTimes &ours, const std::vector<double> &plain)
{
    const double oursMedian = percentile(ours.inserts, 0.5);
    const double plainMedian = percentile(plain, 0.5);
    std::printf("products: %d, holes each: %d, journal: WAL, synchronous: default\n", products, holes);
    std::printf(
        "updateProductData   median %9.1f us   p99 %9.1f us\n", oursMedian, percentile(ours.inserts, 0.99));
    std::printf("plain C-API insert  median %9.1f us   p99 %9.1f us\n", plainMedian, percentile(plain, 0.99));
    std::printf("ratio (median ours / plain): %.2f  (target <= 1.50)  %s\n", oursMedian / plainMedian,
        oursMedian / plainMedian <= 1.5 ? "MET" : "NOT MET");
    std::printf("whole product cycle (start, %d holes, sizes, appearance, end) median %.1f us  p99 %.1f us\n",
        holes, percentile(ours.cycles, 0.5), percentile(ours.cycles, 0.99));
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv(
        "QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int products = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;
    const int holes = 20;
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("DectDB"));
    previous = qInstallMessageHandler(handler);
    clock_.start();

    BenchHost host;
    host.data = dir.path();
    PanelTimes ours;
    PlainInserter plain(QDir(dir.path()).filePath(QStringLiteral("plain.db")).toUtf8());
    const bool ok = runProducts(host, dir.path(), products, holes, plain, &ours);
    QSqlDatabase::removeDatabase(QStringLiteral("read"));
    QSqlDatabase::removeDatabase(QStringLiteral("tlv"));
    if (!ok)
        return 1;
    printTimes(products, holes, ours, plain.times);
    return 0;
}
