// The panel's construction, settings, run-mode handling and report placement, driven as the
// host drives it.
#include "Custom_TALVORIN.h"
#include "MessageGuard.h"
#include "PanelFixture.h"
#include "TestHost.h"

#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSqlDatabase>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

// Stands in for the host's main window, which the report dialog is placed over.
class MainWindow : public QWidget
{
    Q_OBJECT
};

class PanelTest : public QObject
{
    Q_OBJECT

    PanelFixture f;

    QLineEdit *material() const { return f.edit(QStringLiteral("Material number")); }
    QLineEdit *order() const { return f.edit(QStringLiteral("Order number")); }
    QLineEdit *chute() const { return f.edit(QStringLiteral("滑槽刻度")); }
    QTableWidget *table() const { return f.table(); }

    // The position column as the panel fills it for `holes` holes.
    QStringList positionsShown(int holes)
    {
        f.start();
        for (int i = 0; i < holes; ++i)
            f.hole(8.0, 7.9, 8.1);
        QStringList shown;
        for (int row = 0; row < table()->rowCount(); ++row)
            shown << table()->item(row, 2)->text();
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

    void prototypeBuildsNothing()
    {
        Custom_TALVORIN prototype;
        QVERIFY(prototype.children().isEmpty());
        QVERIFY(prototype.layout() == nullptr);
        QJsonObject settings { { QStringLiteral("other"), 1 } };
        prototype.serialize(settings);
        QCOMPARE(settings.keys(), QStringList { QStringLiteral("other") });
    }

    void widgetTree()
    {
        auto *layout = qobject_cast<QVBoxLayout *>(f.panel()->layout());
        QVERIFY(layout);
        QCOMPARE(layout->count(), 7);
        QCOMPARE(layout->itemAt(0)->widget(), material());
        QCOMPARE(layout->itemAt(1)->widget(), order());
        QCOMPARE(layout->itemAt(2)->widget(), chute());
        auto *label = qobject_cast<QLabel *>(layout->itemAt(3)->widget());
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Result"));
        QCOMPARE(label->styleSheet(), QStringLiteral("color:white;background:#303133"));
        QCOMPARE(label->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
        QVERIFY(qobject_cast<QListWidget *>(layout->itemAt(4)->widget()));
        QCOMPARE(layout->itemAt(5)->widget(), table());
        QCOMPARE(layout->stretch(5), 1);
        QCOMPARE(material()->minimumHeight(), 50);
        QCOMPARE(order()->minimumHeight(), 50);
        QCOMPARE(chute()->toolTip(), QStringLiteral("滑槽刻度"));

        QCOMPARE(table()->columnCount(), 3);
        QCOMPARE(table()->rowCount(), 0);
        QStringList headers;
        for (int c = 0; c < 3; ++c) {
            headers << table()->horizontalHeaderItem(c)->text();
            QCOMPARE(table()->horizontalHeader()->sectionResizeMode(c), QHeaderView::Stretch);
        }
        QCOMPARE(headers, (QStringList { QStringLiteral("圆径"), QStringLiteral("结果"), QStringLiteral("位置(cm)") }));

        auto *buttons = layout->itemAt(6)->layout();
        QVERIFY(buttons);
        QCOMPARE(qobject_cast<QPushButton *>(buttons->itemAt(0)->widget())->text(), QStringLiteral("报表查询"));
        QCOMPARE(qobject_cast<QPushButton *>(buttons->itemAt(1)->widget())->text(),
                 QStringLiteral("导出当前产品尺寸数据"));
        QVERIFY(buttons->itemAt(2)->spacerItem());
    }

    void materialNumberForwarding()
    {
        QTest::keyClicks(material(), QStringLiteral("M1"));
        QCOMPARE(f.host()->materialNumbers, (QStringList { QStringLiteral("M"), QStringLiteral("M1") }));
        material()->clear();
        QCOMPARE(f.host()->materialNumbers.last(), QString());
        QJsonObject settings { { QStringLiteral("Custom_TALVORIN"),
                                 QJsonObject { { QStringLiteral("MaterialBarcode"), QStringLiteral("R7") } } } };
        f.panel()->deserialize(settings);
        QCOMPARE(f.host()->materialNumbers.last(), QStringLiteral("R7"));

        const int calls = f.host()->materialNumbers.size();
        QTest::keyClicks(order(), QStringLiteral("O9"));
        QTest::keyClicks(chute(), QStringLiteral("12"));
        QCOMPARE(f.host()->materialNumbers.size(), calls);
    }

    void serialize_data()
    {
        QTest::addColumn<QString>("chuteText");
        QTest::addColumn<QString>("materialText");
        QTest::addColumn<QString>("orderText");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("all empty") << QString() << QString() << QString() << QByteArray(R"({"hckd":""})");
        QTest::newRow("no material") << "12" << QString() << "A1" << QByteArray(R"({"OrderBarcode":"A1","hckd":"12"})");
        QTest::newRow("all set") << "3" << "M" << "O"
                                 << QByteArray(R"({"MaterialBarcode":"M","OrderBarcode":"O","hckd":"3"})");
    }

    void serialize()
    {
        QFETCH(QString, chuteText);
        QFETCH(QString, materialText);
        QFETCH(QString, orderText);
        QFETCH(QByteArray, expected);
        chute()->setText(chuteText);
        material()->setText(materialText);
        order()->setText(orderText);
        QJsonObject settings { { QStringLiteral("Other"), 5 },
                               { QStringLiteral("Custom_TALVORIN"), QStringLiteral("old") } };
        f.panel()->serialize(settings);
        QCOMPARE(settings.value(QStringLiteral("Other")).toInt(), 5);
        QCOMPARE(QJsonDocument(settings.value(QStringLiteral("Custom_TALVORIN")).toObject()).toJson(QJsonDocument::Compact),
                 expected);
    }

    void deserialize_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("expected"); // chute, material, order
        const QStringList before { QStringLiteral("c0"), QStringLiteral("m0"), QStringLiteral("o0") };
        QTest::newRow("no member") << QByteArray(R"({"x":1})") << before;
        QTest::newRow("only hckd") << QByteArray(R"({"Custom_TALVORIN":{"hckd":"9"}})")
                                   << QStringList { "9", "m0", "o0" };
        QTest::newRow("number empties") << QByteArray(R"({"Custom_TALVORIN":{"hckd":5,"OrderBarcode":true}})")
                                        << QStringList { "", "m0", "" };
        QTest::newRow("member not an object") << QByteArray(R"({"Custom_TALVORIN":[1,2]})") << before;
        QTest::newRow("all three") << QByteArray(R"({"Custom_TALVORIN":{"hckd":"1","MaterialBarcode":"M","OrderBarcode":"O"}})")
                                   << QStringList { "1", "M", "O" };
    }

    void deserialize()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, expected);
        chute()->setText(QStringLiteral("c0"));
        material()->setText(QStringLiteral("m0"));
        order()->setText(QStringLiteral("o0"));
        QJsonObject object = QJsonDocument::fromJson(settings).object();
        f.panel()->deserialize(object);
        QCOMPARE((QStringList { chute()->text(), material()->text(), order()->text() }), expected);
    }

    void roundTripKeepsFilledBarcode()
    {
        chute()->setText(QStringLiteral("7"));
        order()->setText(QStringLiteral("O1"));
        QJsonObject settings;
        f.panel()->serialize(settings);
        material()->setText(QStringLiteral("filled meanwhile"));
        f.panel()->deserialize(settings);
        QCOMPARE(chute()->text(), QStringLiteral("7"));
        QCOMPARE(order()->text(), QStringLiteral("O1"));
        QCOMPARE(material()->text(), QStringLiteral("filled meanwhile"));
    }

    void cameraPositions_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QStringList>("shown"); // position column of four holes
        QTest::newRow("three entries") << QVariant("P1,a;P2,b;P3") << QStringList { "P1", "P2", "P3", "null" };
        QTest::newRow("trailing semicolon") << QVariant("P1,a;") << QStringList { "P1", "", "null", "null" };
        QTest::newRow("missing") << QVariant() << QStringList { "", "null", "null", "null" };
        QTest::newRow("leading comma") << QVariant(",x;250") << QStringList { "", "5", "null", "null" };
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
        QCOMPARE(positionsShown(4), shown);
    }

    void otherModesKeepPositions()
    {
        f.host()->panelStrings.insert(QStringLiteral("VpKeys::strCamCbPos"), QStringLiteral("P1;P2"));
        emit f.host()->curRunningModeChanged(CurMode_Run);
        f.host()->panelStrings.insert(QStringLiteral("VpKeys::strCamCbPos"), QStringLiteral("Q1"));
        for (CurMode mode : { CurMode_Stop, CurMode_Debug, static_cast<CurMode>(-4) })
            emit f.host()->curRunningModeChanged(mode);
        QCOMPARE(f.host()->panelQueries.size(), 1);
        QCOMPARE(positionsShown(2), (QStringList { "P1", "P2" }));
        emit f.host()->curRunningModeChanged(CurMode_Run);
        QCOMPARE(positionsShown(2), (QStringList { "Q1", "null" }));
    }

    void reportPlacement_data()
    {
        QTest::addColumn<int>("anchorHeight");
        QTest::addColumn<int>("top");
        QTest::newRow("1080") << 1080 << 80;
        QTest::newRow("900") << 900 << -10;
        QTest::newRow("odd") << 1001 << 40;
    }

    void reportPlacement()
    {
        QFETCH(int, anchorHeight);
        QFETCH(int, top);
        MainWindow first;
        MainWindow second;
        first.resize(1920, anchorHeight);
        second.resize(1920, anchorHeight);
        first.show();
        second.show();
        f.panel()->move(1600, 30);
        // The anchor is the last main window in Qt's list of top-level widgets.
        QWidget *anchor = nullptr;
        const QWidgetList topLevels = QApplication::topLevelWidgets();
        for (QWidget *widget : topLevels)
            if (qobject_cast<MainWindow *>(widget))
                anchor = widget;

        QPointer<QDialog> dialog;
        QPoint placed;
        QSize size;
        // The dialog runs modally inside the click; read it once its own loop runs.
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            const QWidgetList all = QApplication::allWidgets();
            for (QWidget *widget : all) {
                auto *shown = qobject_cast<QDialog *>(widget);
                if (shown && shown->isVisible()) {
                    dialog = shown;
                    placed = shown->pos();
                    size = shown->size();
                    shown->reject();
                }
            }
        });
        poll.start(10);
        const auto buttons = f.panel()->findChildren<QPushButton *>();
        for (QPushButton *button : buttons)
            if (button->text() == QStringLiteral("报表查询"))
                button->click();
        QVERIFY(dialog);
        QCOMPARE(dialog->parentWidget(), anchor);
        QCOMPARE(size, QSize(1350, 920));
        QCOMPARE(placed.y(), top);
        QCOMPARE(placed.x(), f.panel()->mapToGlobal(f.panel()->pos()).x() - 1350);
        delete dialog.data();
    }
};

QTEST_MAIN(PanelTest)
#include "tst_panel.moc"
