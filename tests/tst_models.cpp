// ReportTableModel and ReportItemModel under QAbstractItemModelTester.

#include "ReportItemModel.h"
#include "ReportTableModel.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QSignalSpy>
#include <QtTest>

using Batch = QList<std::shared_ptr<tlv::ProductInfo>>;
using Holes = QList<std::shared_ptr<tlv::HoleInfo>>;

namespace {

const QStringList kProductHeaders{QStringLiteral("时间"), QStringLiteral("料号,工单号"), QStringLiteral("长宽"),
                                  QStringLiteral("OK/NG"), QStringLiteral("NG类别")};
const QStringList kHoleHeaders{QStringLiteral("孔序号"), QStringLiteral("OK/NG"), QStringLiteral("位置(cm)"), QStringLiteral("孔径")};

std::shared_ptr<tlv::ProductInfo> product(int status, int pid = 1)
{
    auto p = std::make_shared<tlv::ProductInfo>();
    p->uptime = QStringLiteral("2024-05-06 14:03:27");
    p->pid = pid;
    p->barcode = QStringLiteral("TLV-1,WO2");
    p->psize = QStringLiteral("TALVORIN长度:1200.5;宽度:35.02");
    p->status = status;
    return p;
}

Batch products(int n, int status = 3)
{
    Batch batch;
    for (int i = 0; i < n; ++i)
        batch.append(product(status, i + 1));
    return batch;
}

std::shared_ptr<tlv::HoleInfo> hole(int idx, bool status)
{
    auto h = std::make_shared<tlv::HoleInfo>();
    h->idx = idx;
    h->status = status;
    h->position = QStringLiteral("5.3");
    h->value = QStringLiteral("8.01235");
    return h;
}

bool isRed(const QVariant &v)
{
    return v.canConvert<QBrush>() && v.value<QBrush>() == QBrush(Qt::red);
}

} // namespace

class TestModels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void emptyProductModel();
    void productTexts_data();
    void productTexts();
    void productHeaders();
    void okRate();
    void appendAnnouncesRows();
    void emptyAppendChangesNothing();
    void clearResetsAlsoWhenEmpty();
    void getProductBounds();
    void holeTexts_data();
    void holeTexts();
    void holeHeadersAndRelease();
};

void TestModels::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestModels::emptyProductModel()
{
    ReportTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setHeaders(kProductHeaders);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 5);
    QCOMPARE(model.getOkRate(), 0.0f);
    QVERIFY(!model.data(model.index(0, 0)).isValid());
}

void TestModels::productTexts_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("category");
    QTest::newRow("ok") << 3 << "OK" << "";
    QTest::newRow("both ng") << 0 << "NG" << QStringLiteral("尺寸NG，外观NG");
    QTest::newRow("appearance ng") << 1 << "NG" << QStringLiteral("外观NG");
    QTest::newRow("size ng") << 2 << "NG" << QStringLiteral("尺寸NG");
    QTest::newRow("unknown") << 5 << "NG" << "";
    QTest::newRow("negative") << -1 << "NG" << "";
}

void TestModels::productTexts()
{
    QFETCH(int, status);
    QFETCH(QString, verdict);
    QFETCH(QString, category);
    ReportTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setHeaders(kProductHeaders);
    model.appendDatas({product(status)});

    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("2024-05-06 14:03:27"));
    QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("TLV-1,WO2"));
    QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("TALVORIN长度:1200.5;宽度:35.02"));
    QCOMPARE(model.data(model.index(0, 3)).toString(), verdict);
    QCOMPARE(model.data(model.index(0, 4)).toString(), category);
    for (int column = 0; column < 5; ++column) {
        const QModelIndex index = model.index(0, column);
        QCOMPARE(isRed(model.data(index, Qt::ForegroundRole)), status != 3 && column >= 3);
        if (status == 3 || column < 3)
            QVERIFY(!model.data(index, Qt::ForegroundRole).isValid());
        QVERIFY(!model.data(index, Qt::TextAlignmentRole).isValid());
        QVERIFY(!model.data(index, Qt::BackgroundRole).isValid());
        QVERIFY(!model.data(index, Qt::ToolTipRole).isValid());
        QCOMPARE(model.flags(index), Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren);
    }
}

void TestModels::productHeaders()
{
    ReportTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setHeaders(kProductHeaders);
    model.appendDatas(products(3));
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("时间"));
    QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("NG类别"));
    QVERIFY(!model.headerData(5, Qt::Horizontal).isValid());
    QVERIFY(!model.headerData(-1, Qt::Horizontal).isValid());
    QCOMPARE(model.headerData(0, Qt::Vertical), QVariant(1));
    QCOMPARE(model.headerData(2, Qt::Vertical), QVariant(3));
    QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
    QVERIFY(!model.headerData(0, Qt::Vertical, Qt::TextAlignmentRole).isValid());
}

void TestModels::okRate()
{
    ReportTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setHeaders(kProductHeaders);
    model.appendDatas({product(3), product(0), product(3)});
    QCOMPARE(model.getOkRate(), 2.0f / 3.0f * 100.0f);
    model.appendDatas({product(5)});
    QCOMPARE(model.getOkRate(), 50.0f);
    model.clearDatas();
    QCOMPARE(model.getOkRate(), 0.0f);
}

void TestModels::appendAnnouncesRows()
{
    ReportTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setHeaders(kProductHeaders);
    model.appendDatas(products(200));

    QSignalSpy about(&model, &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    const Batch batch = products(101, 0);
    model.appendDatas(batch);
    QCOMPARE(about.count(), 1);
    QCOMPARE(inserted.count(), 1);
    for (const QSignalSpy *spy : {&about, &inserted}) {
        const QList<QVariant> args = spy->first();
        QVERIFY(!args.at(0).value<QModelIndex>().isValid());
        QCOMPARE(args.at(1).toInt(), 200);
        QCOMPARE(args.at(2).toInt(), 300);
    }
    QCOMPARE(model.rowCount(), 301);
    // Shared, not copied.
    QCOMPARE(model.getProduct(model.index(250, 2)).lock(), batch.at(50));
}

void TestModels::emptyAppendChangesNothing()
{
    ReportTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setHeaders(kProductHeaders);
    model.appendDatas(products(2));
    QSignalSpy about(&model, &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelAboutToBeReset);
    model.appendDatas(Batch());
    QCOMPARE(about.count(), 0);
    QCOMPARE(reset.count(), 0);
    QCOMPARE(model.rowCount(), 2);
}

void TestModels::clearResetsAlsoWhenEmpty()
{
    ReportTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setHeaders(kProductHeaders);
    QSignalSpy aboutToReset(&model, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.clearDatas();
    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(reset.count(), 1);

    std::weak_ptr<tlv::ProductInfo> watched;
    {
        const Batch batch = products(5);
        watched = batch.at(0);
        model.appendDatas(batch);
    }
    QVERIFY(!watched.expired());
    model.clearDatas();
    QCOMPARE(reset.count(), 2);
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(watched.expired());
}

void TestModels::getProductBounds()
{
    ReportTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setHeaders(kProductHeaders);
    QVERIFY(model.getProduct(model.index(0, 0)).expired());
    const Batch batch = products(3);
    model.appendDatas(batch);
    QCOMPARE(model.getProduct(model.index(0, 0)).lock(), batch.at(0));
    QCOMPARE(model.getProduct(model.index(0, 4)).lock(), batch.at(0));
    QCOMPARE(model.getProduct(model.index(2, 1)).lock(), batch.at(2));
    QVERIFY(model.getProduct(model.index(3, 0)).expired()); // row == rowCount: not a valid index
    QVERIFY(model.getProduct(QModelIndex()).expired());
    QVERIFY(model.getProduct(model.index(-1, 0)).expired());
}

void TestModels::holeTexts_data()
{
    QTest::addColumn<bool>("status");
    QTest::newRow("ok hole") << true;
    QTest::newRow("ng hole") << false;
}

void TestModels::holeTexts()
{
    QFETCH(bool, status);
    ReportItemModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setHeaders(kHoleHeaders);
    model.appendDatas({hole(7, status)});

    QCOMPARE(model.data(model.index(0, 0)), QVariant(7));
    QCOMPARE(model.data(model.index(0, 1)).toString(), status ? QStringLiteral("OK") : QStringLiteral("NG"));
    QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("5.3"));
    QCOMPARE(model.data(model.index(0, 3)).toString(), QStringLiteral("8.01235"));
    for (int column = 0; column < 4; ++column) {
        const QModelIndex index = model.index(0, column);
        QCOMPARE(isRed(model.data(index, Qt::ForegroundRole)), !status);
        if (status)
            QVERIFY(!model.data(index, Qt::ForegroundRole).isValid());
        QCOMPARE(model.data(index, Qt::TextAlignmentRole), QVariant(132));
        QVERIFY(!model.data(index, Qt::EditRole).isValid());
    }
}

void TestModels::holeHeadersAndRelease()
{
    ReportItemModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setHeaders(kHoleHeaders);
    QCOMPARE(model.columnCount(), 4);
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("位置(cm)"));
    QVERIFY(!model.headerData(4, Qt::Horizontal).isValid());
    QVERIFY(!model.headerData(0, Qt::Vertical).isValid());

    // The holes outlive the product that brought them, as long as the view shows them.
    std::weak_ptr<tlv::HoleInfo> watched;
    {
        auto p = product(2);
        p->vtHoles = {hole(0, true), hole(1, false), hole(2, true)};
        watched = p->vtHoles.at(1);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        model.appendDatas(p->vtHoles);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.first().at(2).toInt(), 2);
    }
    QVERIFY(!watched.expired());
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.rowCount(model.index(0, 0)), 0);
    QVERIFY(!model.data(model.index(3, 0)).isValid());
    model.clearDatas();
    QVERIFY(watched.expired());
}

QTEST_GUILESS_MAIN(TestModels)
#include "tst_models.moc"
