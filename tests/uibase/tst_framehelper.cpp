#include "MessageGuard.h"
#include "QFrameHelper.h"

#include <QMouseEvent>
#include <QTest>
#include <QWidget>

class TestFrameHelper : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MessageGuard::install(); }
    void cleanup() { QCOMPARE(MessageGuard::takeUnexpected(), QString()); }
    void dragsByTopBandOnly_data();
    void dragsByTopBandOnly();
};

void TestFrameHelper::dragsByTopBandOnly_data()
{
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("movable");
    QTest::addColumn<QPoint>("moved");
    QTest::newRow("top edge") << QPoint(50, 0) << int(Qt::LeftButton) << true << QPoint(40, 25);
    QTest::newRow("band's last line") << QPoint(200, 59) << int(Qt::LeftButton) << true << QPoint(40, 25);
    QTest::newRow("below the band") << QPoint(200, 60) << int(Qt::LeftButton) << true << QPoint(0, 0);
    QTest::newRow("corner, no resizing") << QPoint(399, 299) << int(Qt::LeftButton) << true << QPoint(0, 0);
    QTest::newRow("right button") << QPoint(50, 10) << int(Qt::RightButton) << true << QPoint(0, 0);
    QTest::newRow("not movable") << QPoint(50, 10) << int(Qt::LeftButton) << false << QPoint(0, 0);
}

void TestFrameHelper::dragsByTopBandOnly()
{
    QFETCH(QPoint, press);
    QFETCH(int, button);
    QFETCH(bool, movable);
    QFETCH(QPoint, moved);
    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.setGeometry(100, 100, 400, 300);
    QFrameHelper helper(&window);
    helper.activateOn(&window);
    helper.setTitleHeight(60);
    helper.setWidgetMovable(movable);
    helper.setWidgetResizable(true); // asked for, but the window keeps its size
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const auto send = [&](QEvent::Type type, const QPoint &at, Qt::MouseButton which, Qt::MouseButtons held) {
        QMouseEvent event(type, at, window.mapToGlobal(at), which, held, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &event);
    };
    const Qt::MouseButton b = Qt::MouseButton(button);
    const QPoint before = window.pos();
    send(QEvent::MouseButtonPress, press, b, b);
    send(QEvent::MouseMove, press + QPoint(40, 25), Qt::NoButton, b);
    // The window moved under the cursor, so the release lands at the original local point.
    send(QEvent::MouseButtonRelease, press, b, Qt::NoButton);
    QCOMPARE(window.pos() - before, moved);
    QCOMPARE(window.size(), QSize(400, 300));
}

QTEST_MAIN(TestFrameHelper)
#include "tst_framehelper.moc"
