// The panel's settings and run-mode handling, driven as the host drives it.
#include "MessageGuard.h"
#include "PanelFixture.h"
#include "TestHost.h"

#include <QJsonDocument>
#include <QtTest>

class PanelTest : public QObject
{
    Q_OBJECT

    PanelFixture f;

    QList<QLineEdit *> edits() const
    {
        return { f.edit(QStringLiteral("滑槽刻度")), f.edit(QStringLiteral("Material number")),
                 f.edit(QStringLiteral("Order number")) };
    }

    // The position column as the panel fills it for four holes.
    QStringList positionsShown()
    {
        f.start();
        QStringList shown;
        for (int row = 0; row < 4; ++row) {
            f.hole(8.0, 7.9, 8.1);
            shown << f.table()->item(row, 2)->text();
        }
        return shown;
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

    void settings_data()
    {
        QTest::addColumn<QStringList>("texts"); // chute, material, order
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("all empty") << QStringList { "", "", "" } << QByteArray(R"({"hckd":""})");
        QTest::newRow("no material") << QStringList { "12", "", "A1" } << QByteArray(R"({"OrderBarcode":"A1","hckd":"12"})");
        QTest::newRow("all set") << QStringList { "3", "M", "O" }
                                 << QByteArray(R"({"MaterialBarcode":"M","OrderBarcode":"O","hckd":"3"})");
    }

    void settings()
    {
        QFETCH(QStringList, texts);
        QFETCH(QByteArray, saved);
        for (int i = 0; i < 3; ++i)
            edits().at(i)->setText(texts.at(i));
        QJsonObject object { { QStringLiteral("Other"), 5 } };
        f.panel()->serialize(object);
        QCOMPARE(object.value(QStringLiteral("Other")).toInt(), 5);
        QCOMPARE(QJsonDocument(object.value(QStringLiteral("Custom_TALVORIN")).toObject()).toJson(QJsonDocument::Compact), saved);

        // Restored into a panel holding other texts: what was not saved stays as it is.
        for (QLineEdit *edit : edits())
            edit->setText(QStringLiteral("x"));
        f.panel()->deserialize(object);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(edits().at(i)->text(), texts.at(i).isEmpty() && i > 0 ? QStringLiteral("x") : texts.at(i));
        QCOMPARE(f.host()->materialNumbers.last(), edits().at(1)->text());
    }

    void cameraPositions_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QStringList>("shown"); // position column of four holes
        QTest::newRow("three entries") << QVariant("P1,a;P2,b;P3") << QStringList { "P1", "P2", "P3", "null" };
        QTest::newRow("trailing semicolon") << QVariant("P1,a;") << QStringList { "P1", "", "null", "null" };
        QTest::newRow("missing") << QVariant() << QStringList { "", "null", "null", "null" };
        QTest::newRow("readings") << QVariant("250,c1;150,c2;0,c3;abc") << QStringList { "5", "150", "0", "abc" };
    }

    void cameraPositions()
    {
        QFETCH(QVariant, value);
        QFETCH(QStringList, shown);
        if (value.isValid())
            f.host()->panelStrings.insert(QStringLiteral("VpKeys::strCamCbPos"), value);
        emit f.host()->curRunningModeChanged(CurMode_Run);
        QCOMPARE(f.host()->panelQueries, QStringList { QStringLiteral("VantrelPanel/strings") });
        QCOMPARE(positionsShown(), shown);
        // Only the run mode reads them again.
        f.host()->panelStrings.insert(QStringLiteral("VpKeys::strCamCbPos"), QStringLiteral("Q1"));
        for (CurMode mode : { CurMode_Stop, CurMode_Debug, static_cast<CurMode>(-4) })
            emit f.host()->curRunningModeChanged(mode);
        QCOMPARE(positionsShown(), shown);
        emit f.host()->curRunningModeChanged(CurMode_Run);
        QCOMPARE(positionsShown(), (QStringList { "Q1", "null", "null", "null" }));
    }
};

QTEST_MAIN(PanelTest)
#include "tst_panel.moc"
