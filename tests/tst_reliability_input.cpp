// Hostile input at the panel: quotes and control characters in the barcode fields, thousands
// of holes. Nothing may crash, and what is stored has to come back through the record worker
// as it was written.
#include "MessageGuard.h"
#include "PanelFixture.h"
#include "TLVDatasWork.h"
#include "TestHost.h"

#include <QLineEdit>
#include <QEventLoop>
#include <QTableWidget>
#include <QThread>
#include <QtTest>

using Products = QList<std::shared_ptr<tlv::ProductInfo>>;

class ReliabilityInputTest : public QObject
{
    Q_OBJECT

    PanelFixture f;

    // Every product of the file, as the report's worker on its own thread delivers them.
    Products throughWorker() const
    {
        QThread thread;
        auto *worker = new TLVDatasWork(f.dbPath());
        Products products;
        QEventLoop loop;
        connect(worker, &TLVDatasWork::Signal_FindResult, &loop, [&](bool last, const Products &batch) {
            products += batch;
            if (last)
                loop.quit();
        });
        connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        worker->moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(worker, "Slot_FindData", Q_ARG(QString, QStringLiteral("0000-01-01 00:00:00")),
                                  Q_ARG(QString, QStringLiteral("9999-12-31 23:59:59")), Q_ARG(QString, QString()));
        loop.exec();
        thread.quit();
        thread.wait();
        return products;
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

    void hostileBarcode_data()
    {
        QTest::addColumn<QString>("material");
        QTest::addColumn<QString>("order");
        QTest::newRow("quotes") << QStringLiteral("M'1\"2") << QStringLiteral("'); drop table product_data_new; --");
        QTest::newRow("control characters") << QStringLiteral("\x01\x1f") << QStringLiteral("\x7f\r\n\t");
        QTest::newRow("NUL inside") << QStringLiteral("A") + QChar(0) + QStringLiteral("B") << QString(QChar(0));
        QTest::newRow("astral") << QString::fromUtf8("料号😀") << QStringLiteral(",;:");
        QTest::newRow("long") << QString(100000, QLatin1Char('M')) << QString(100000, QLatin1Char('O'));
    }

    void hostileBarcode()
    {
        QFETCH(QString, material);
        QFETCH(QString, order);
        // Whatever the line edits keep of the input is what the product must carry.
        f.edit(QStringLiteral("Material number"))->setText(material);
        f.edit(QStringLiteral("Order number"))->setText(order);
        const QString barcode = f.edit(QStringLiteral("Material number"))->text() + QLatin1Char(',')
                                + f.edit(QStringLiteral("Order number"))->text();
        f.start();
        f.hole(2.0);
        f.end();
        const Products products = throughWorker();
        QCOMPARE(products.size(), 1);
        QCOMPARE(products.at(0)->barcode, barcode);
        QCOMPARE(f.rows().constLast().barcode.toString(), barcode);
    }

    void tenThousandHoles()
    {
        const int count = qEnvironmentVariableIsSet("TLV_HOLES") ? qEnvironmentVariableIntValue("TLV_HOLES") : 10000;
        f.start();
        for (int i = 0; i < count; ++i)
            f.hole(1.0 + i * 0.000173);
        f.end();
        QCOMPARE(f.table()->rowCount(), count);
        QCOMPARE(f.table()->item(count - 1, 0)->foreground().color(), QColor("#409EFF"));
        QCOMPARE(f.table()->item(0, 0)->foreground().color(), QColor("#E6A23C"));
        const Products products = throughWorker();
        QCOMPARE(products.size(), 1);
        const auto &holes = products.at(0)->vtHoles;
        QCOMPARE(holes.size(), count);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(holes.at(i)->idx, i);
            QCOMPARE(holes.at(i)->value, QString::number(1.0 + i * 0.000173, 'g', 6));
        }
    }
};

QTEST_MAIN(ReliabilityInputTest)
#include "tst_reliability_input.moc"
