#include "QFrameHelper.h"

#include <QMouseEvent>
#include <QTest>
#include <QWidget>

namespace {

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &local, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, local, widget->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

// Press at `from`, move by `delta` with the button held, release; returns how far the window went.
QPoint drag(QWidget *widget, const QPoint &from, const QPoint &delta, Qt::MouseButton button = Qt::LeftButton)
{
    const QPoint before = widget->pos();
    sendMouse(widget, QEvent::MouseButtonPress, from, button, button);
    sendMouse(widget, QEvent::MouseMove, from + delta, Qt::NoButton, button);
    // The widget moved under the cursor, so the release lands at the original local point.
    sendMouse(widget, QEvent::MouseButtonRelease, from, button, Qt::NoButton);
    return widget->pos() - before;
}

} // namespace

class TestFrameHelper : public QObject
{
    Q_OBJECT

private slots:
    void dragsByTitleBand_data();
    void dragsByTitleBand();
    void neverResizes();
    void maximisedWindowStays();
    void notMovableWhenSwitchedOff();
    void helperGoneLeavesWidgetAlone();
};

void TestFrameHelper::dragsByTitleBand_data()
{
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<int>("button");
    QTest::addColumn<QPoint>("moved");

    QTest::newRow("top edge") << QPoint(50, 0) << int(Qt::LeftButton) << QPoint(40, 25);
    QTest::newRow("inside band") << QPoint(200, 59) << int(Qt::LeftButton) << QPoint(40, 25);
    QTest::newRow("below band") << QPoint(200, 60) << int(Qt::LeftButton) << QPoint(0, 0);
    QTest::newRow("right button") << QPoint(50, 10) << int(Qt::RightButton) << QPoint(0, 0);
}

void TestFrameHelper::dragsByTitleBand()
{
    QFETCH(QPoint, press);
    QFETCH(int, button);
    QFETCH(QPoint, moved);

    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.setGeometry(100, 100, 400, 300);
    auto *helper = new QFrameHelper(&window);
    helper->activateOn(&window);
    helper->setTitleHeight(60);
    helper->setWidgetMovable(true);
    helper->setWidgetResizable(false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(drag(&window, press, QPoint(40, 25), Qt::MouseButton(button)), moved);
    QCOMPARE(window.size(), QSize(400, 300));
}

void TestFrameHelper::neverResizes()
{
    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.setGeometry(100, 100, 400, 300);
    QFrameHelper helper(&window);
    helper.activateOn(&window);
    helper.setTitleHeight(60);
    helper.setWidgetMovable(true);
    helper.setWidgetResizable(true);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Corners and edges, where a resizing helper would grab.
    for (const QPoint &at : {QPoint(399, 299), QPoint(0, 150), QPoint(399, 150), QPoint(200, 299)}) {
        drag(&window, at, QPoint(30, 30));
        QCOMPARE(window.size(), QSize(400, 300));
    }
    QCOMPARE(window.pos(), QPoint(100, 100));
}

void TestFrameHelper::maximisedWindowStays()
{
    QWidget window(nullptr, Qt::FramelessWindowHint);
    QFrameHelper helper(&window);
    helper.activateOn(&window);
    helper.setTitleHeight(60);
    helper.setWidgetMovable(true);
    window.showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect geometry = window.geometry();
    drag(&window, QPoint(50, 10), QPoint(40, 40));
    QCOMPARE(window.geometry(), geometry);
}

void TestFrameHelper::notMovableWhenSwitchedOff()
{
    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.setGeometry(100, 100, 400, 300);
    QFrameHelper helper(&window);
    helper.activateOn(&window);
    helper.setTitleHeight(60);
    helper.setWidgetMovable(false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(drag(&window, QPoint(50, 10), QPoint(40, 40)), QPoint(0, 0));
}

void TestFrameHelper::helperGoneLeavesWidgetAlone()
{
    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.setGeometry(100, 100, 400, 300);
    {
        QFrameHelper helper;
        helper.activateOn(&window);
        helper.setTitleHeight(60);
        helper.setWidgetMovable(true);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(drag(&window, QPoint(50, 10), QPoint(40, 40)), QPoint(0, 0));

    // And a widget that dies before its helper leaves the helper harmless.
    QFrameHelper helper;
    {
        QWidget shortLived;
        helper.activateOn(&shortLived);
    }
    helper.setWidgetMovable(true);
}

QTEST_MAIN(TestFrameHelper)
#include "tst_framehelper.moc"
