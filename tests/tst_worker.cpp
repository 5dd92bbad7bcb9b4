// TLVDatasWork on a real QThread against real SQLite files.

#include "ProductRowCodec.h"
#include "RecordJsonParser.h"
#include "TLVDatasWork.h"

#include <QDateTime>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>
#include <QtTest>

#include <vector>

using Batch = QList<std::shared_ptr<tlv::ProductInfo>>;

namespace {

const char kCreate[] = "create table product_data_new (id integer primary key autoincrement not null,uptime text, pid integer, "
                       "barcode text,psize text,diameter text,appearance text, status integer)";

QMutex g_warningsMutex;
QStringList g_warnings;
QtMessageHandler g_previousHandler = nullptr;

// Collects warnings (none are expected: e.g. none about the connection's thread) and passes
// everything on to QtTest's handler so that ignoreMessage keeps working.
void recordingHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg) {
        QMutexLocker lock(&g_warningsMutex);
        g_warnings << message;
    }
    g_previousHandler(type, context, message);
}

struct Row
{
    QString uptime;
    QVariant psize = QStringLiteral("TALVORIN长度:1200.5;宽度:35.02");
    QVariant diameter = QStringLiteral("[]");
    QVariant appearance = QStringLiteral("[]");
    int status = 3;
    QString barcode = QStringLiteral("TLV-100200,WO240001");
};

// A connection of the test's own on the file, removed again when done.
class Db
{
public:
    explicit Db(const QString &path)
        : m_name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.open();
    }
    ~Db() { QSqlDatabase::removeDatabase(m_name); }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    bool create() { return QSqlQuery(db()).exec(QString::fromLatin1(kCreate)); }
    bool insert(const QList<Row> &rows)
    {
        QSqlDatabase d = db();
        d.transaction();
        QSqlQuery q(d);
        q.prepare(QStringLiteral("INSERT INTO product_data_new (uptime, pid, barcode, psize, diameter, appearance, status) VALUES (?, ?, ?, ?, ?, ?, ?)"));
        int pid = 1;
        for (const Row &row : rows) {
            q.bindValue(0, row.uptime);
            q.bindValue(1, pid++);
            q.bindValue(2, row.barcode);
            q.bindValue(3, row.psize);
            q.bindValue(4, row.diameter);
            q.bindValue(5, row.appearance);
            q.bindValue(6, row.status);
            if (!q.exec())
                return false;
        }
        return d.commit();
    }
    int count()
    {
        QSqlQuery q(db());
        q.exec(QStringLiteral("select count(*) from product_data_new"));
        return q.next() ? q.value(0).toInt() : -1;
    }

private:
    QString m_name;
};

QList<Row> rowsAt(const QString &uptime, int n)
{
    QList<Row> rows;
    for (int i = 0; i < n; ++i)
        rows.append(Row{uptime});
    return rows;
}

} // namespace

// Sends requests the way the report dialog does: queued signals into the worker's thread.
class Requester : public QObject
{
    Q_OBJECT
signals:
    void findData(QString tmStart, QString tmEnd, QString key);
    void clearExpired(int day);
};

class TestWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void registersTheBatchTypes();
    void deliversBatchesOf101_data();
    void deliversBatchesOf101();
    void boundsAreInclusive();
    void startLaterThanEndMatchesNothing();
    void keyMatchesInsideTheBarcode_data();
    void keyMatchesInsideTheBarcode();
    void singleQuoteInKeyFailsTheStatement();
    void readsMalformedRows();
    void survivesRandomBytesInJsonColumns();
    void readsEveryStorageClassAsQtDoes();
    void releasesRecordsAfterEmission();
    void purges_data();
    void purges();
    void purgeWithoutTableRollsBack();
    void openFailureEmitsNothing();

private:
    void startWorker(const QString &path);
    // Runs the worker's queue dry, then delivers its queued emissions here.
    void sync();
    std::vector<std::pair<bool, Batch>> find(const QString &start, const QString &end, const QString &key = QString());

    QTemporaryDir *m_dir = nullptr;
    QString m_path;
    QThread *m_thread = nullptr;
    TLVDatasWork *m_worker = nullptr;
    Requester m_requester;
    std::vector<std::pair<bool, Batch>> m_received;
};

void TestWorker::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    g_previousHandler = qInstallMessageHandler(recordingHandler);
}

void TestWorker::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("TLV.db"));
    m_received.clear();
    QMutexLocker lock(&g_warningsMutex);
    g_warnings.clear();
}

void TestWorker::cleanup()
{
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
        m_worker = nullptr; // deleted by the thread's finished signal
    }
    delete m_dir;
    m_dir = nullptr;
    QMutexLocker lock(&g_warningsMutex);
    QVERIFY2(g_warnings.isEmpty(), qPrintable(g_warnings.join(QLatin1Char('\n'))));
}

void TestWorker::startWorker(const QString &path)
{
    m_thread = new QThread;
    m_worker = new TLVDatasWork(path);
    connect(&m_requester, &Requester::findData, m_worker, &TLVDatasWork::Slot_FindData);
    connect(&m_requester, &Requester::clearExpired, m_worker, &TLVDatasWork::Slot_ClearExpiredDate);
    connect(m_worker, &TLVDatasWork::Signal_FindResult, this, [this](bool completed, Batch batch) {
        QCOMPARE(QThread::currentThread(), thread());
        m_received.emplace_back(completed, batch);
    });
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_worker->moveToThread(m_thread);
    m_thread->start();
}

void TestWorker::sync()
{
    QVERIFY(QMetaObject::invokeMethod(m_worker, [] {}, Qt::BlockingQueuedConnection));
    QCoreApplication::sendPostedEvents(this);
}

std::vector<std::pair<bool, Batch>> TestWorker::find(const QString &start, const QString &end, const QString &key)
{
    m_received.clear();
    emit m_requester.findData(start, end, key);
    sync();
    return m_received;
}

void TestWorker::registersTheBatchTypes()
{
    startWorker(m_path);
    QVERIFY(QMetaType::type("QList<std::shared_ptr<tlv::ProductInfo>>") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("std::shared_ptr<tlv::ProductInfo>") != QMetaType::UnknownType);
    const QMetaObject *meta = m_worker->metaObject();
    QVERIFY(meta->indexOfSignal(QMetaObject::normalizedSignature("Signal_FindResult(bool,QList<std::shared_ptr<tlv::ProductInfo>>)")) >= 0);
    QVERIFY(meta->indexOfSlot("Slot_FindData(QString,QString,QString)") >= 0);
    QVERIFY(meta->indexOfSlot("Slot_ClearExpiredDate(int)") >= 0);
}

void TestWorker::deliversBatchesOf101_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("sizes");
    QTest::newRow("none") << 0 << QList<int>{0};
    QTest::newRow("one") << 1 << QList<int>{1};
    QTest::newRow("101") << 101 << QList<int>{101, 0};
    QTest::newRow("250") << 250 << QList<int>{101, 101, 48};
}

void TestWorker::deliversBatchesOf101()
{
    QFETCH(int, rows);
    QFETCH(QList<int>, sizes);
    Db db(m_path);
    QVERIFY(db.create());
    QList<Row> data;
    for (int i = 0; i < rows; ++i)
        data.append(Row{QStringLiteral("2024-05-06 10:%1:%2").arg(i / 60, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0'))});
    QVERIFY(db.insert(data));
    startWorker(m_path);

    const auto received = find(QStringLiteral("2024-05-06 00:00:00"), QStringLiteral("2024-05-06 23:59:59"));
    QCOMPARE(int(received.size()), sizes.size());
    int pid = 1;
    for (int i = 0; i < sizes.size(); ++i) {
        QCOMPARE(received[i].first, i == sizes.size() - 1);
        QCOMPARE(received[i].second.size(), sizes.at(i));
        for (const auto &product : received[i].second)
            QCOMPARE(product->pid, pid++);
    }
}

void TestWorker::boundsAreInclusive()
{
    Db db(m_path);
    QVERIFY(db.create());
    const QStringList stamps{QStringLiteral("2024-05-06 09:59:59"), QStringLiteral("2024-05-06 10:00:00"),
                             QStringLiteral("2024-05-06 10:30:00"), QStringLiteral("2024-05-06 11:00:00"),
                             QStringLiteral("2024-05-06 11:00:01")};
    QList<Row> rows;
    for (const QString &stamp : stamps)
        rows.append(Row{stamp});
    QVERIFY(db.insert(rows));
    startWorker(m_path);

    const auto received = find(QStringLiteral("2024-05-06 10:00:00"), QStringLiteral("2024-05-06 11:00:00"));
    QCOMPARE(int(received.size()), 1);
    QStringList found;
    for (const auto &product : received[0].second)
        found << product->uptime;
    QCOMPARE(found, stamps.mid(1, 3));
}

void TestWorker::startLaterThanEndMatchesNothing()
{
    Db db(m_path);
    QVERIFY(db.create());
    QVERIFY(db.insert(rowsAt(QStringLiteral("2024-05-06 10:00:00"), 3)));
    startWorker(m_path);

    const auto received = find(QStringLiteral("2024-05-06 12:00:00"), QStringLiteral("2024-05-06 08:00:00"));
    QCOMPARE(int(received.size()), 1);
    QVERIFY(received[0].first);
    QVERIFY(received[0].second.isEmpty());
}

void TestWorker::keyMatchesInsideTheBarcode_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QList<int>>("pids");
    QTest::newRow("empty") << QString() << QList<int>{1, 2, 3};
    QTest::newRow("material") << QStringLiteral("M-77") << QList<int>{1, 3};
    QTest::newRow("inside") << QStringLiteral("7,WO") << QList<int>{1, 3};
    QTest::newRow("order end") << QStringLiteral("WO2") << QList<int>{2};
    QTest::newRow("chinese") << QStringLiteral("工单") << QList<int>{3};
    QTest::newRow("none") << QStringLiteral("XYZ") << QList<int>{};
}

void TestWorker::keyMatchesInsideTheBarcode()
{
    QFETCH(QString, key);
    QFETCH(QList<int>, pids);
    Db db(m_path);
    QVERIFY(db.create());
    QList<Row> rows = rowsAt(QStringLiteral("2024-05-06 10:00:00"), 3);
    rows[0].barcode = QStringLiteral("M-77,WO1");
    rows[1].barcode = QStringLiteral("M-12,WO2");
    rows[2].barcode = QStringLiteral("M-77,WO工单3");
    QVERIFY(db.insert(rows));
    startWorker(m_path);

    const auto received = find(QStringLiteral("2024-05-06 00:00:00"), QStringLiteral("2024-05-07 00:00:00"), key);
    QCOMPARE(int(received.size()), 1);
    QList<int> found;
    for (const auto &product : received[0].second)
        found << product->pid;
    QCOMPARE(found, pids);
}

void TestWorker::singleQuoteInKeyFailsTheStatement()
{
    Db db(m_path);
    QVERIFY(db.create());
    QVERIFY(db.insert(rowsAt(QStringLiteral("2024-05-06 10:00:00"), 2)));
    startWorker(m_path);

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^product_data_new 数据库语句执行失败! .+")));
    const auto received = find(QStringLiteral("2024-05-06 00:00:00"), QStringLiteral("2024-05-07 00:00:00"), QStringLiteral("O'Brien"));
    QCOMPARE(int(received.size()), 0);

    // The connection was closed again: the next query works.
    QCOMPARE(int(find(QStringLiteral("2024-05-06 00:00:00"), QStringLiteral("2024-05-07 00:00:00")).size()), 1);
}

void TestWorker::readsMalformedRows()
{
    Db db(m_path);
    QVERIFY(db.create());
    const QString stamp = QStringLiteral("2024-05-06 10:00:00");
    const QString hole0 = QStringLiteral(R"({"idx":0,"position":5.300000190734863,"status":true,"value":8.0123456})");
    const QString hole2 = QStringLiteral(R"({"idx":2,"position":-1,"status":false,"value":7.93})");
    QList<Row> rows = rowsAt(stamp, 9);
    rows[0].diameter = QString();                                  // empty text
    rows[1].diameter = QStringLiteral("[{\"idx\":0,");             // invalid JSON
    rows[2].diameter = hole0;                                      // an object, not an array
    rows[3].diameter = QStringLiteral("[%1,{\"idx\":1,\"position\":1,\"status\":true},%2]").arg(hole0, hole2); // a missing key
    rows[4].diameter = QStringLiteral(R"([{"idx":3,"position":1,"status":1,"value":8}])");                     // numeric status
    rows[5].psize = QVariant(QVariant::String);                    // NULL
    rows[5].diameter = QVariant(QVariant::String);
    rows[5].appearance = QVariant(QVariant::String);
    rows[6].appearance = QStringLiteral(R"([{"idx":0,"ngtypes":["划伤",7],"position":12.5,"status":false},{"idx":1,"position":0,"status":true}])");
    rows[7].appearance = QStringLiteral("{}");
    rows[8].status = 5;
    QVERIFY(db.insert(rows));
    startWorker(m_path);

    const auto received = find(stamp, stamp);
    QCOMPARE(int(received.size()), 1);
    const Batch products = received[0].second;
    QCOMPARE(products.size(), 9);

    QVERIFY(products[0]->vtHoles.isEmpty());
    QVERIFY(products[1]->vtHoles.isEmpty());
    QVERIFY(products[2]->vtHoles.isEmpty());

    const auto &holes = products[3]->vtHoles;
    QCOMPARE(holes.size(), 2);
    QCOMPARE(holes[0]->idx, 0);
    QCOMPARE(holes[0]->status, true);
    QCOMPARE(holes[0]->position, QStringLiteral("5.3"));
    QCOMPARE(holes[0]->value, QStringLiteral("8.01235"));
    QCOMPARE(holes[1]->idx, 2);
    QCOMPARE(holes[1]->status, false);
    QCOMPARE(holes[1]->position, QStringLiteral("-1"));
    QCOMPARE(holes[1]->value, QStringLiteral("7.93"));

    QCOMPARE(products[4]->vtHoles.size(), 1);
    QCOMPARE(products[4]->vtHoles[0]->status, false);

    QVERIFY(products[5]->psize.isEmpty());
    QVERIFY(products[5]->vtHoles.isEmpty());
    QVERIFY(products[5]->vtApes.isEmpty());
    QCOMPARE(products[4]->psize, QStringLiteral("TALVORIN长度:1200.5;宽度:35.02"));

    QCOMPARE(products[6]->vtApes.size(), 1);
    QCOMPARE(products[6]->vtApes[0]->ngtypes, QStringList({QStringLiteral("划伤"), QString()}));
    QCOMPARE(products[6]->vtApes[0]->position, QStringLiteral("12.5"));
    QCOMPARE(products[6]->vtApes[0]->status, false);
    QVERIFY(products[7]->vtApes.isEmpty());

    QCOMPARE(products[8]->status, 5);
    QCOMPARE(products[8]->uptime, stamp);
    QCOMPARE(products[8]->barcode, QStringLiteral("TLV-100200,WO240001"));
    QCOMPARE(products[8]->pid, 9);
}

void TestWorker::survivesRandomBytesInJsonColumns()
{
    Db db(m_path);
    QVERIFY(db.create());
    QRandomGenerator rng(99);
    const QString stamp = QStringLiteral("2024-05-06 10:00:00");
    const QString valid = ProductRowCodec::diameterJson({HoleEntry{0, true, 8.01, 5.3f}, HoleEntry{1, false, 7.9, 17.1f}});
    QList<Row> rows;
    for (int i = 0; i < 400; ++i) {
        QByteArray bytes(rng.bounded(80), '\0');
        for (char &c : bytes)
            c = char(rng.bounded(256));
        Row row{stamp};
        switch (i % 4) {
        case 0: // raw bytes, stored as a blob
            row.diameter = bytes;
            row.appearance = bytes;
            break;
        case 1: // bytes read as text, invalid UTF-8 included
            row.diameter = QString::fromUtf8(bytes);
            row.appearance = QString::fromLatin1(bytes);
            break;
        default: { // a valid text with a few bytes overwritten
            QString text = valid;
            for (int k = 0; k < 3; ++k)
                text[rng.bounded(text.size())] = QChar(ushort(rng.bounded(0x80)));
            row.diameter = text;
            row.appearance = text;
            break;
        }
        }
        rows.append(row);
    }
    QVERIFY(db.insert(rows));
    startWorker(m_path);

    const auto received = find(stamp, stamp);
    int delivered = 0;
    for (const auto &batch : received)
        delivered += batch.second.size();
    QCOMPARE(delivered, rows.size());
    QVERIFY(received.back().first);

    // Each row reads as the Qt reader reads the stored text.
    QSqlQuery q(db.db());
    QVERIFY(q.exec(QStringLiteral("select diameter, appearance from product_data_new order by id")));
    int row = 0;
    for (const auto &batch : received) {
        for (const auto &product : batch.second) {
            QVERIFY(q.next());
            const QString diameter = q.value(0).toString();
            const QString appearance = q.value(1).toString();
            QCOMPARE(product->vtHoles.size(), RecordJsonParser::parseHolesQt(diameter.toUtf8()).size());
            QCOMPARE(product->vtApes.size(), RecordJsonParser::parseApesQt(appearance.toUtf8()).size());
            ++row;
        }
    }
    QCOMPARE(row, rows.size());
}

// Columns may hold any SQLite storage class and malformed UTF-8; the records must equal what
// Qt's driver plus the reference JSON reader make of the same row.
void TestWorker::readsEveryStorageClassAsQtDoes()
{
    Db db(m_path);
    QVERIFY(db.create());
    const QString holes = ProductRowCodec::diameterJson({HoleEntry{0, true, 8.01, 5.3f}, HoleEntry{3, false, 1e-7, -1.0f}});
    const QByteArray holesHex = holes.toUtf8().toHex();
    const QStringList values {
        QStringLiteral("NULL"), QStringLiteral("42"), QStringLiteral("2.75"), QStringLiteral("1e20"),
        QStringLiteral("X'%1'").arg(QString::fromLatin1(holesHex)),
        QStringLiteral("CAST(X'%1' AS TEXT)").arg(QString::fromLatin1(holesHex)),
        QStringLiteral("CAST(X'5b7b22696478223a302c22737461747573223a747275652c22706f736974696f6e223a312c2276616c7565223a'"
                       " || 'ff' || '7d5d' AS TEXT)"),
        QStringLiteral("CAST(X'5b5d80' AS TEXT)"), QStringLiteral("CAST(X'41eda08042' AS TEXT)"),
        QStringLiteral("'3abc'"), QStringLiteral("'  7'"), QStringLiteral("'[{\"idx\":1}]'"),
        QStringLiteral("CAST(X'e6b58be8af95' AS TEXT)"),
    };
    QSqlQuery insert(db.db());
    int n = 0;
    for (const QString &value : values) {
        for (const QString &other : { values.at(n % values.size()), values.at((n * 7 + 3) % values.size()) }) {
            const QString sql = QStringLiteral("INSERT INTO product_data_new (uptime, pid, barcode, psize, diameter, "
                                               "appearance, status) VALUES ('2024-05-06 10:00:00', %1, %2, %3, %4, %5, %6)")
                                    .arg(other, value, other, value, other, value);
            QVERIFY2(insert.exec(sql), qPrintable(sql + insert.lastError().text()));
        }
        ++n;
    }
    insert.finish();
    startWorker(m_path);
    const auto received = find(QStringLiteral("2024-05-06 00:00:00"), QStringLiteral("2024-05-07 00:00:00"));

    QSqlQuery q(db.db());
    q.setForwardOnly(true);
    QVERIFY(q.exec(QStringLiteral("select * from product_data_new")));
    const auto holeText = [](const RecordJsonParser::HoleList &list) {
        QStringList out;
        for (const auto &h : list)
            out << QStringLiteral("%1/%2/%3/%4").arg(h->idx).arg(h->status).arg(h->position, h->value);
        return out;
    };
    const auto apeText = [](const RecordJsonParser::ApeList &list) {
        QStringList out;
        for (const auto &a : list)
            out << QStringLiteral("%1/%2/%3/%4").arg(a->idx).arg(a->status).arg(a->position, a->ngtypes.join(QLatin1Char('|')));
        return out;
    };
    int rows = 0;
    for (const auto &batch : received) {
        for (const auto &product : batch.second) {
            QVERIFY(q.next());
            QCOMPARE(product->pid, q.value(QStringLiteral("pid")).toInt());
            QCOMPARE(product->barcode, q.value(QStringLiteral("barcode")).toString());
            QCOMPARE(product->psize, q.value(QStringLiteral("psize")).toString());
            QCOMPARE(product->status, q.value(QStringLiteral("status")).toInt());
            QCOMPARE(holeText(product->vtHoles),
                     holeText(RecordJsonParser::parseHolesQt(q.value(QStringLiteral("diameter")).toString().toUtf8())));
            QCOMPARE(apeText(product->vtApes),
                     apeText(RecordJsonParser::parseApesQt(q.value(QStringLiteral("appearance")).toString().toUtf8())));
            ++rows;
        }
    }
    QCOMPARE(rows, 2 * values.size());
}

void TestWorker::releasesRecordsAfterEmission()
{
    Db db(m_path);
    QVERIFY(db.create());
    QVERIFY(db.insert(rowsAt(QStringLiteral("2024-05-06 10:00:00"), 150)));
    startWorker(m_path);

    std::vector<std::weak_ptr<tlv::ProductInfo>> watched;
    {
        const auto received = find(QStringLiteral("2024-05-06 10:00:00"), QStringLiteral("2024-05-06 10:00:00"));
        for (const auto &batch : received) {
            for (const auto &product : batch.second)
                watched.push_back(product);
        }
        m_received.clear();
    }
    QCOMPARE(int(watched.size()), 150);
    for (const auto &product : watched)
        QVERIFY(product.expired());
}

void TestWorker::purges_data()
{
    QTest::addColumn<int>("day");
    QTest::addColumn<QList<int>>("kept"); // pids left
    // pid 1: 2 days ago, 2: 25 hours ago, 3: 10 minutes ago, 4: the current second, 5: in an hour
    QTest::newRow("zero deletes up to now") << 0 << QList<int>{5};
    QTest::newRow("negative deletes all") << -1 << QList<int>{};
    QTest::newRow("one keeps the last day") << 1 << QList<int>{3, 4, 5};
    QTest::newRow("three keeps all") << 3 << QList<int>{1, 2, 3, 4, 5};
}

void TestWorker::purges()
{
    QFETCH(int, day);
    QFETCH(QList<int>, kept);
    Db db(m_path);
    QVERIFY(db.create());
    const QDateTime now = QDateTime::currentDateTime();
    QList<Row> rows;
    for (qint64 offset : {-2 * 86400, -25 * 3600, -600, 0, 3600})
        rows.append(Row{ProductRowCodec::uptimeText(now.addSecs(offset))});
    QVERIFY(db.insert(rows));
    startWorker(m_path);

    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("TLVDatasWork::Slot_ClearExpiredDate Records older than %1 days deleted successfully.").arg(day)));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^删除过期记录耗时： [0-9.e-]+  second$")));
    emit m_requester.clearExpired(day);
    sync();

    QSqlQuery q(db.db());
    QVERIFY(q.exec(QStringLiteral("select pid from product_data_new order by pid")));
    QList<int> left;
    while (q.next())
        left << q.value(0).toInt();
    QCOMPARE(left, kept);
}

void TestWorker::purgeWithoutTableRollsBack()
{
    { Db db(m_path); } // an empty database file
    startWorker(m_path);

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^TLVDatasWork::Slot_ClearExpiredDate Failed to delete records: .*no such table")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^删除过期记录耗时：")));
    emit m_requester.clearExpired(30);
    sync();

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^product_data_new 数据库语句执行失败! .*no such table")));
    QCOMPARE(int(find(QStringLiteral("2024-05-06 00:00:00"), QStringLiteral("2024-05-07 00:00:00")).size()), 0);
}

void TestWorker::openFailureEmitsNothing()
{
    startWorker(m_dir->filePath(QStringLiteral("missing/DectDB/TLV.db")));

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^TLVDatasWork::Slot_FindData 数据库打开失败，Error：.+")));
    QCOMPARE(int(find(QStringLiteral("2024-05-06 00:00:00"), QStringLiteral("2024-05-07 00:00:00")).size()), 0);

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^TLVDatasWork::Slot_ClearExpiredDate .*Error：.+")));
    emit m_requester.clearExpired(0);
    sync();
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("missing"))));
}

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
