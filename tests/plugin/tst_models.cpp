// The two report models under QAbstractItemModelTester, attached before the models change.

#include "MessageGuard.h"
#include "ReportItemModel.h"
#include "ReportTableModel.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QSignalSpy>
#include <QtTest>

namespace {

std::shared_ptr<tlv::ProductInfo> product(int status)
{
    auto p = std::make_shared<tlv::ProductInfo>();
    p->uptime = QStringLiteral("2024-05-06 14:03:27");
    p->barcode = QStringLiteral("TLV-100200,WO240001");
    p->psize = QStringLiteral("TALVORIN长度:1200.5;宽度:35.02");
    p->status = status;
    return p;
}

std::shared_ptr<tlv::HoleInfo> hole(int idx, bool ok)
{
    auto h = std::make_shared<tlv::HoleInfo>();
    h->idx = idx;
    h->status = ok;
    h->position = QStringLiteral("5.3");
    h->value = QStringLiteral("8.01235");
    return h;
}

// One row as text: display texts of every column, then "red" where the foreground is red.
QStringList rowText(const QAbstractItemModel &model, int row)
{
    QStringList out;
    for (int c = 0; c < model.columnCount(); ++c) {
        const QModelIndex index = model.index(row, c);
        out << model.data(index).toString();
        if (model.data(index, Qt::ForegroundRole).value<QBrush>() == QBrush(Qt::red))
            out.last() += QStringLiteral("/red");
    }
    return out;
}

} // namespace

class TestModels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MessageGuard::install(); }
    void cleanup() { QCOMPARE(MessageGuard::takeUnexpected(), QString()); }

    void productRows_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("verdict"); // columns 3 and 4
        QTest::newRow("ok") << 3 << QStringList { "OK", "" };
        QTest::newRow("both ng") << 0 << QStringList { "NG/red", "尺寸NG，外观NG/red" };
        QTest::newRow("appearance ng") << 1 << QStringList { "NG/red", "外观NG/red" };
        QTest::newRow("size ng") << 2 << QStringList { "NG/red", "尺寸NG/red" };
        QTest::newRow("unknown") << 5 << QStringList { "NG/red", "/red" };
    }
    void productRows()
    {
        QFETCH(int, status);
        QFETCH(QStringList, verdict);
        ReportTableModel model;
        model.setHeaders({ "时间", "料号,工单号", "长宽", "OK/NG", "NG类别" });
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

        model.appendDatas({});
        QCOMPARE(model.getOkRate(), 0.0f);
        model.appendDatas({ product(3) });
        model.appendDatas({ product(status), product(3) });
        QCOMPARE(inserted.count(), 2); // none for the empty batch
        QCOMPARE(inserted.at(1).mid(1), (QVariantList { 1, 2 }));

        QCOMPARE(rowText(model, 1),
            QStringList({ "2024-05-06 14:03:27", "TLV-100200,WO240001", "TALVORIN长度:1200.5;宽度:35.02" })
                + verdict);
        // The narrow size and barcode columns carry their full text as a tool tip.
        for (int c : { 1, 2 })
            QCOMPARE(model.data(model.index(1, c), Qt::ToolTipRole), model.data(model.index(1, c)));
        QCOMPARE(model.headerData(2, Qt::Vertical).toInt(), 3);
        QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("NG类别"));
        QCOMPARE(model.getOkRate(), (status == 3 ? 3.0f : 2.0f) / 3.0f * 100.0f);
        QCOMPARE(model.getProduct(model.index(1, 4)).lock()->status, status);
        QVERIFY(model.getProduct(QModelIndex()).expired());
    }

    void holeRows()
    {
        ReportItemModel model;
        model.setHeaders({ "孔序号", "OK/NG", "位置(cm)", "孔径" });
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.appendDatas({ hole(4, true), hole(7, false) });
        QCOMPARE(rowText(model, 0), (QStringList { "4", "OK", "5.3", "8.01235" }));
        QCOMPARE(rowText(model, 1), (QStringList { "7/red", "NG/red", "5.3/red", "8.01235/red" }));
        QCOMPARE(model.data(model.index(1, 3), Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
        QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
    }
};

QTEST_MAIN(TestModels)
#include "tst_models.moc"
