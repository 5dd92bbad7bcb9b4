// Soak run: the panel takes products at a steady rate for a given time while a report dialog
// re-queries the last 30 days every few seconds on its worker thread. Prints what was stored,
// what failed, the worst insert and the memory at start and end.
//   tlv_soak --seconds 3600 [--rate 20] [--requery 5] [--history 50000] [--dir DIR]
#include "Custom_TALVORIN.h"
#include "ReportTable.h"
#include "SoakHost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

int stored = 0;
int failed = 0;

void countInserts(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (message.contains(QLatin1String("Data inserted successfully.")))
        ++stored;
    else if (message.contains(QLatin1String("Unable to insert data"))
        || message.contains(QLatin1String("DB Open failed")))
        ++failed;
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qUtf8Printable(message));
}

long rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines)
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Earlier products spread over the 30 days, so that every re-query has a month to read.
void seedHistory(const QString &file, int rows)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("history"));
        db.setDatabaseName(file);
        db.open();
        QSqlQuery query(db);
        db.transaction();
        query.prepare(QStringLiteral("insert into product_data_new (uptime, pid, barcode, psize, diameter, "
                                     "appearance, status) values (?, ?, ?, ?, ?, ?, ?)"));
        const QDateTime now = QDateTime::currentDateTime();
        for (int i = 0; i < rows; ++i) {
            query.addBindValue(now.addSecs(-qint64(i) * 30 * 86400 / qMax(rows, 1))
                                   .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
            query.addBindValue(i);
            query.addBindValue(QStringLiteral("M%1,WO").arg(i % 97));
            query.addBindValue(QStringLiteral("宽度1:12.5"));
            query.addBindValue(
                QStringLiteral("[{\"idx\":0,\"position\":5.3,\"status\":true,\"value\":2.5}]"));
            query.addBindValue(QStringLiteral("[{\"idx\":0,\"ngtypes\":[],\"position\":0,\"status\":true}]"));
            query.addBindValue(3);
            query.exec();
        }
        db.commit();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("history"));
}

void addOptions(QCommandLineParser &parser)
{
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("seconds"), QStringLiteral("Duration."), QStringLiteral("s"),
        QStringLiteral("60") });
    parser.addOption({ QStringLiteral("rate"), QStringLiteral("Products per second."), QStringLiteral("n"),
        QStringLiteral("20") });
    parser.addOption({ QStringLiteral("requery"), QStringLiteral("Seconds between report queries."),
        QStringLiteral("s"), QStringLiteral("5") });
    parser.addOption(
        { QStringLiteral("history"), QStringLiteral("Rows over the last 30 days before the run."),
            QStringLiteral("n"), QStringLiteral("50000") });
    parser.addOption({ QStringLiteral("dir"), QStringLiteral("Data folder (default: a temporary one)."),
        QStringLiteral("path") });
}

// Clicks the report's find button over the last 30 days on every tick of timer.
void startRequery(ReportTable &report, QTimer &timer, int &queries, int intervalMs)
{
    auto *start = report.findChild<QDateTimeEdit *>(QStringLiteral("dateTimeStart"));
    auto *end = report.findChild<QDateTimeEdit *>(QStringLiteral("dateTimeEnd"));
    auto *find = report.findChild<QPushButton *>(QStringLiteral("btnFind"));
    QObject::connect(&timer, &QTimer::timeout, &report, [start, end, find, &queries] {
        const QDateTime now = QDateTime::currentDateTime();
        start->setDateTime(now.addDays(-30));
        end->setDateTime(now);
        find->click();
        ++queries;
    });
    timer.start(intervalMs);
}

// One product through the panel: appearance, four holes, then the end; gives the end's microseconds.
qint64 runProduct(SoakHost &host, int pid)
{
    emit host.Signal_McEvent(McuEvent { {}, {}, {}, {}, QStringLiteral("CamLenStart"), {} });
    CameraResult entry;
    entry.kind = 2;
    entry.productId = pid;
    entry.appearanceOk = pid % 11 != 0;
    ProductProcessData data;
    data.results.append(entry);
    emit host.cameraDetectionCompleted(data);
    for (int h = 0; h < 4; ++h) {
        MeasureItem item;
        item.name = QStringLiteral("圆径%1").arg(h);
        item.values.insert(QStringLiteral("MeasureResults"), 2.0 + 0.01 * (pid % 50));
        item.values.insert(QStringLiteral("LowTolerance"), 1.5);
        item.values.insert(QStringLiteral("UpTolerance"), 2.4);
        CameraResult hole;
        hole.kind = 1;
        hole.items.insert(QStringLiteral("a"), item);
        data.results[0] = hole;
        emit host.cameraDetectionCompleted(data);
    }
    QElapsedTimer insert;
    insert.start();
    emit host.Signal_McEvent(McuEvent { {}, {}, {}, {}, QStringLiteral("CamLenEnd"), {} });
    return insert.nsecsElapsed() / 1000;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    addOptions(parser);
    parser.process(app);

    QTemporaryDir temporary;
    const QString dataDir
        = parser.isSet(QStringLiteral("dir")) ? parser.value(QStringLiteral("dir")) : temporary.path();
    QDir(dataDir).mkpath(QStringLiteral("DectDB"));
    const double seconds = parser.value(QStringLiteral("seconds")).toDouble();
    const double rate = parser.value(QStringLiteral("rate")).toDouble();

    qInstallMessageHandler(countInserts);
    SoakHost host(dataDir);
    Custom_TALVORIN prototype;
    std::unique_ptr<PluginWidget> panel(prototype.create(&host));
    seedHistory(QDir(dataDir).filePath(QStringLiteral("DectDB/TLV.db")),
        parser.value(QStringLiteral("history")).toInt());
    stored = 0;

    ReportTable report(QDir(dataDir).filePath(QStringLiteral("DectDB/TLV.db")));
    auto *total = report.findChild<QLabel *>(QStringLiteral("lbTotal"));
    int queries = 0;
    QTimer requery;
    startRequery(report, requery, queries, int(parser.value(QStringLiteral("requery")).toDouble() * 1000));

    const long rssStart = rssKiB();
    qint64 worstInsertUs = 0;
    int pid = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer line;
    line.setTimerType(Qt::PreciseTimer);
    QObject::connect(&line, &QTimer::timeout, &app, [&] {
        // Catch up on products the event loop was too busy to take.
        while (pid < clock.elapsed() * rate / 1000.0)
            worstInsertUs = qMax(worstInsertUs, runProduct(host, ++pid));
        if (clock.elapsed() >= seconds * 1000)
            app.quit();
    });
    line.start(qMax(1, int(1000 / rate / 2)));
    app.exec();
    requery.stop();

    std::printf("duration %.0f s, rate %.1f/s, report queries %d (last: %s)\n", clock.elapsed() / 1000.0,
        rate, queries, qUtf8Printable(total->text()));
    std::printf(
        "products stored %d\ninserts failed %d\nworst insert %.3f ms\nRSS start %ld KiB, end %ld KiB\n",
        stored, failed, worstInsertUs / 1000.0, rssStart, rssKiB());
    return failed == 0 && stored == pid ? 0 : 1;
}
