// Hostile input at the panel: oversized names, thousands of holes, control characters and
// quotes in the barcode fields, NaN and infinities everywhere, empty records. Nothing may
// crash, and what is stored has to come back through the record worker as it was written.
#include "Custom_TALVORIN.h"
#include "MessageGuard.h"
#include "PanelFixture.h"
#include "RecordJsonParser.h"
#include "TLVDatasWork.h"
#include "TestHost.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

using Products = QList<std::shared_ptr<tlv::ProductInfo>>;

using Stored = PanelFixture::Row;

// How a number comes back from the report side: as text, with non-finite numbers lost to the
// JSON writer (null) and read as 0.
QString readBack(double value)
{
    return std::isfinite(value) ? QString::number(value, 'g', 6) : QStringLiteral("0");
}

} // namespace

class ReliabilityInputTest : public QObject
{
    Q_OBJECT

    PanelFixture f;

    QString dbPath() const { return f.dbPath(); }
    QTableWidget *table() const { return f.table(); }
    QLabel *label() const { return f.label(); }
    QLineEdit *edit(const QString &placeholder) const { return f.edit(placeholder); }
    void start() { f.start(); }
    void end() { f.end(); }
    void send(const ProductProcessData &data) { f.send(data); }
    QList<Stored> stored() const { return f.rows(); }

    // Every product of the file, as the report's worker on its own thread delivers them.
    Products throughWorker() const
    {
        QThread thread;
        auto *worker = new TLVDatasWork(dbPath());
        Products products;
        bool completed = false;
        QObject receiver;
        connect(worker, &TLVDatasWork::Signal_FindResult, &receiver, [&](bool last, const Products &batch) {
            products += batch;
            completed = last;
        });
        connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        worker->moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(worker, "Slot_FindData", Q_ARG(QString, QStringLiteral("0000-01-01 00:00:00")),
                                  Q_ARG(QString, QStringLiteral("9999-12-31 23:59:59")), Q_ARG(QString, QString()));
        QDeadlineTimer deadline(120000);
        while (!completed && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        thread.quit();
        thread.wait();
        if (!completed)
            qCritical("the worker never completed its query");
        return products;
    }

    // The stored row and the worker's record of it agree field by field.
    void compareThroughWorker(const Stored &row, const tlv::ProductInfo &product)
    {
        QCOMPARE(product.barcode, row.barcode.toString());
        QCOMPARE(product.psize, row.psize.toString());
        QCOMPARE(product.status, row.status);
        const auto holes = RecordJsonParser::parseHolesQt(row.diameter.toUtf8());
        QCOMPARE(product.vtHoles.size(), holes.size());
        for (int i = 0; i < holes.size(); ++i) {
            QCOMPARE(product.vtHoles.at(i)->value, holes.at(i)->value);
            QCOMPARE(product.vtHoles.at(i)->position, holes.at(i)->position);
        }
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        MessageGuard::install();
    }

    void init()
    {
        MessageGuard::reset();
        f.open();
    }

    void cleanup()
    {
        f.close();
        QCOMPARE(MessageGuard::unexpected(), QStringList());
    }

    void megabyteNames()
    {
        const QString width = QStringLiteral("宽度") + QString(1 << 20, QLatin1Char('w'));
        const QString other = QStringLiteral("TALVORIN") + QString(1 << 20, QChar(0x4e2d));
        start();
        send(TestHost::sizeGroup({ { width, 12.5 }, { other, 3.0 } }, 0.0, 20.0));
        send(TestHost::hole(2.0, 1.0, 3.0, QStringLiteral("圆径") + QString(1 << 20, QLatin1Char('d'))));
        end();
        QCOMPARE(f.list()->count(), 2);
        QCOMPARE(label()->text(), QStringLiteral("OK"));

        const QList<Stored> rows = stored();
        QCOMPARE(rows.size(), 1);
        // Ascending name order: 'T' sorts before '宽'.
        QCOMPARE(rows.at(0).psize.toString(), other + QStringLiteral(":3;") + width + QStringLiteral(":12.5"));
        const Products products = throughWorker();
        QCOMPARE(products.size(), 1);
        compareThroughWorker(rows.at(0), *products.at(0));
        QCOMPARE(products.at(0)->vtHoles.size(), 1);
        QCOMPARE(products.at(0)->vtHoles.at(0)->value, QStringLiteral("2"));
    }

    void tenThousandHoles()
    {
        // Fewer under the sanitizer pass (TLV_HOLES), where each row costs a hundred times more.
        const int count = qEnvironmentVariableIsSet("TLV_HOLES") ? qEnvironmentVariableIntValue("TLV_HOLES") : 10000;
        start();
        for (int i = 0; i < count; ++i)
            send(TestHost::hole(1.0 + i * 0.000173, 1.0, 3.0));
        end();
        QCOMPARE(table()->rowCount(), count);
        QCOMPARE(label()->text(), QStringLiteral("OK"));
        // The largest and the smallest diameter are marked.
        QCOMPARE(table()->item(count - 1, 0)->foreground().color(), QColor("#409EFF"));
        QCOMPARE(table()->item(0, 0)->foreground().color(), QColor("#E6A23C"));

        const Products products = throughWorker();
        QCOMPARE(products.size(), 1);
        const auto &holes = products.at(0)->vtHoles;
        QCOMPARE(holes.size(), count);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(holes.at(i)->idx, i);
            QCOMPARE(holes.at(i)->value, readBack(1.0 + i * 0.000173));
            QCOMPARE(holes.at(i)->position, QStringLiteral("-1"));
            QVERIFY(holes.at(i)->status);
        }
    }

    void hostileBarcode_data()
    {
        QTest::addColumn<QString>("material");
        QTest::addColumn<QString>("order");
        QTest::newRow("quotes") << QStringLiteral("M'1\"2") << QStringLiteral("'); drop table product_data_new; --");
        QTest::newRow("like wildcards") << QStringLiteral("%_%") << QStringLiteral("\\%");
        QString controls;
        for (ushort c = 1; c < 32; ++c)
            controls += QChar(c);
        QTest::newRow("control characters") << controls << QStringLiteral("\x7f\r\n\t");
        QTest::newRow("NUL inside") << QStringLiteral("A") + QChar(0) + QStringLiteral("B") << QString(QChar(0));
        QTest::newRow("separators") << QStringLiteral(",;:,") << QStringLiteral(";;");
        QTest::newRow("astral and lone surrogate")
            << QString::fromUtf8("料号😀") << QString(QChar(0xd800)) + QStringLiteral("x");
        QTest::newRow("long") << QString(100000, QLatin1Char('M')) << QString(100000, QLatin1Char('O'));
    }

    void hostileBarcode()
    {
        QFETCH(QString, material);
        QFETCH(QString, order);
        // Whatever the line edits keep of the input is what the product must carry.
        edit(QStringLiteral("Material number"))->setText(material);
        edit(QStringLiteral("Order number"))->setText(order);
        const QString barcode = edit(QStringLiteral("Material number"))->text() + QLatin1Char(',')
                                + edit(QStringLiteral("Order number"))->text();
        start();
        send(TestHost::hole(2.0, 1.0, 3.0));
        end();
        const QList<Stored> rows = stored();
        QCOMPARE(rows.size(), 1);
        const Products products = throughWorker();
        QCOMPARE(products.size(), 1);
        compareThroughWorker(rows.at(0), *products.at(0));
        // SQLite's UTF-16 reader pairs a lone high surrogate with whatever unit follows it, so
        // "\xd800x" comes back as U+10078. Everything else comes back unchanged.
        if (barcode.contains(QChar(0xd800)))
            QCOMPARE(products.at(0)->barcode, QString(barcode).replace(QChar(0xd800) + QStringLiteral("x"),
                                                                       QString(QChar(0xd800)) + QChar(0xdc78)));
        else
            QCOMPARE(products.at(0)->barcode, barcode);
    }

    void nonFiniteValues_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("up");
        QTest::addColumn<bool>("ok");
        QTest::newRow("NaN value") << NaN << 1.0 << 3.0 << false;
        QTest::newRow("NaN low") << 2.0 << NaN << 3.0 << false;
        QTest::newRow("NaN up") << 2.0 << 1.0 << NaN << false;
        QTest::newRow("all NaN") << NaN << NaN << NaN << false;
        QTest::newRow("+inf value") << Inf << 1.0 << 3.0 << false;
        QTest::newRow("-inf value") << -Inf << 1.0 << 3.0 << false;
        QTest::newRow("+inf value, up +inf") << Inf << 1.0 << Inf << true;
        QTest::newRow("limits -inf..+inf") << 2.0 << -Inf << Inf << true;
        QTest::newRow("all +inf") << Inf << Inf << Inf << true;
    }

    void nonFiniteValues()
    {
        QFETCH(double, value);
        QFETCH(double, low);
        QFETCH(double, up);
        QFETCH(bool, ok);
        // Camera positions that are no finite numbers either.
        f.host()->panelStrings.insert(QStringLiteral("VpKeys::strCamCbPos"), QStringLiteral("inf,1;nan,2;-inf;1e999"));
        emit f.host()->curRunningModeChanged(CurMode_Run);
        start();
        send(TestHost::sizeGroup({ { QStringLiteral("宽度1"), value } }, low, up));
        for (int i = 0; i < 5; ++i)
            send(TestHost::hole(value, low, up));
        send(TestHost::appearance(7, true));
        end();
        QCOMPARE(label()->text(), ok ? QStringLiteral("OK") : QStringLiteral("NG"));
        QCOMPARE(table()->rowCount(), 5);
        QCOMPARE(table()->item(0, 1)->text(), ok ? QStringLiteral("OK") : QStringLiteral("NG"));
        QCOMPARE(table()->item(0, 2)->text(), QStringLiteral("inf"));
        QCOMPARE(table()->item(4, 2)->text(), QStringLiteral("null"));

        const QList<Stored> rows = stored();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.at(0).status, ok ? 3 : 2);
        QCOMPARE(rows.at(0).psize.toString(), QStringLiteral("宽度1:") + QString::number(value, 'g', 6));
        const Products products = throughWorker();
        QCOMPARE(products.size(), 1);
        compareThroughWorker(rows.at(0), *products.at(0));
        const auto &holes = products.at(0)->vtHoles;
        QCOMPARE(holes.size(), 5);
        for (const auto &hole : holes) {
            QCOMPARE(hole->value, readBack(value));
            QCOMPARE(hole->status, ok);
        }
        // "inf" positions cannot be written as JSON numbers: they come back as 0.
        QCOMPARE(holes.at(0)->position, QStringLiteral("0"));
        QCOMPARE(holes.at(4)->position, QStringLiteral("-1"));
        QCOMPARE(products.at(0)->psize, rows.at(0).psize.toString());
    }

    void emptyRecords()
    {
        start();
        send(ProductProcessData());
        CameraResult entry;
        for (int kind : { 0, 1, 2 }) {
            entry.kind = kind;
            ProductProcessData data;
            data.results.append(entry);
            send(data);
        }
        // A diameter item without any value judges 0 within [0, 0]; text values read as 0 too.
        ProductProcessData hole = TestHost::hole(0.0, 0.0, 0.0);
        hole.results[0].items.first().values.clear();
        send(hole);
        hole.results[0].items.first().values.insert(QStringLiteral("MeasureResults"), QStringLiteral("abc"));
        send(hole);
        MeasureItem unnamed;
        ProductProcessData sizes;
        sizes.results.append(entry);
        sizes.results[0].kind = 0;
        sizes.results[0].items.insert(QString(), unnamed);
        send(sizes);
        end();
        QCOMPARE(table()->rowCount(), 2);
        QCOMPARE(label()->text(), QStringLiteral("OK"));

        const QList<Stored> rows = stored();
        QCOMPARE(rows.size(), 1);
        QVERIFY(rows.at(0).psize.isNull());
        const Products products = throughWorker();
        QCOMPARE(products.size(), 1);
        compareThroughWorker(rows.at(0), *products.at(0));
        QCOMPARE(products.at(0)->vtHoles.size(), 2);
        QCOMPARE(products.at(0)->vtApes.size(), 1);
        QVERIFY(products.at(0)->psize.isEmpty());
    }
};

QTEST_MAIN(ReliabilityInputTest)
#include "tst_reliability_input.moc"
