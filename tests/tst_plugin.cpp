// The plugin as the inspection host sees it: loaded from the built module, never linked.
#include <PluginWidget.h>
#include <SysInterface.h>

#include <QDir>
#include <QLibrary>
#include <QPluginLoader>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "TestHost.h"

using InstanceFunction = QObject *(*)();
using MetadataFunction = const char *(*)();

static const QByteArray kMetadata = QByteArray("QTMETADATA !", 12)
    + QByteArray::fromHex("00050f00bf02781f") + QByteArray("com.kvt.quorvex.Custom_TALVORIN")
    + QByteArray::fromHex("036f") + QByteArray("Custom_TALVORIN") + QByteArray::fromHex("ff");

class PluginTest : public QObject
{
    Q_OBJECT

private:
    QString modulePath() const
    {
        const QDir dir(qEnvironmentVariable("TLV_PLUGIN_DIR"));
#ifdef Q_OS_WIN
        return dir.filePath(QStringLiteral("Custom_TALVORIN.dll"));
#else
        return dir.filePath(QStringLiteral("Custom_TALVORIN.so"));
#endif
    }
    QLibrary m_library;
    QTemporaryDir m_dataDir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dataDir.isValid());
        QVERIFY(QDir(m_dataDir.path()).mkpath(QStringLiteral("DectDB")));
        m_library.setFileName(modulePath());
        QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
    }

    void metadataBlock()
    {
        const auto metadata = reinterpret_cast<MetadataFunction>(m_library.resolve("qt_plugin_query_metadata"));
        QVERIFY(metadata);
        const char *first = metadata();
        QCOMPARE(metadata(), first);
        QCOMPARE(kMetadata.size(), 69);
        QCOMPARE(QByteArray(first, 69), kMetadata);
    }

    void metadataSection()
    {
        const QString objcopy = QStandardPaths::findExecutable(QStringLiteral("objcopy"));
        if (objcopy.isEmpty())
            QSKIP("objcopy is not installed");
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("qtmetad.bin"));
        // A PE section name has at most eight characters (".qtmetad"); ELF keeps Qt's full name.
#ifdef Q_OS_WIN
        const QString section = QStringLiteral("--only-section=.qtmetad");
#else
        const QString section = QStringLiteral("--only-section=.qtmetadata");
#endif
        QCOMPARE(QProcess::execute(objcopy, { QStringLiteral("-O"), QStringLiteral("binary"), section, modulePath(), out }),
                 0);
        QFile bytes(out);
        QVERIFY(bytes.open(QIODevice::ReadOnly));
        QCOMPARE(bytes.readAll(), kMetadata);
    }

    void identityThroughLoader()
    {
        QPluginLoader loader(modulePath());
        QCOMPARE(loader.metaData().value(QStringLiteral("IID")).toString(),
                 QStringLiteral("com.kvt.quorvex.Custom_TALVORIN"));
        QCOMPARE(loader.metaData().value(QStringLiteral("className")).toString(), QStringLiteral("Custom_TALVORIN"));
        auto *plugin = qobject_cast<PluginWidget *>(loader.instance());
        QVERIFY(plugin);
        QCOMPARE(plugin->pluginId(), QStringLiteral("com.kvt.quorvex.Custom_TALVORIN"));
        QCOMPARE(plugin->displayName(), QStringLiteral("TALVORIN-V2.2"));
        QCOMPARE(plugin->category(), QStringLiteral("定制"));
        QVERIFY(plugin->pluginFlag());
        QVERIFY(plugin->children().isEmpty()); // the prototype builds no widgets
    }

    void instanceHolder()
    {
        const auto instance = reinterpret_cast<InstanceFunction>(m_library.resolve("qt_plugin_instance"));
        QVERIFY(instance);
        QPointer<QObject> first = instance();
        QVERIFY(first);
        QCOMPARE(instance(), first.data());
        delete first.data();
        QVERIFY(first.isNull());
        QObject *second = instance();
        QVERIFY(second);
        QCOMPARE(instance(), second);
    }

    void metacast_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("answers");
        QTest::newRow("interface identifier") << QByteArray("com.kvt.quorvex.PluginWidget") << true;
        QTest::newRow("class name") << QByteArray("Custom_TALVORIN") << true;
        QTest::newRow("base class") << QByteArray("QWidget") << true;
        QTest::newRow("QObject") << QByteArray("QObject") << true;
        QTest::newRow("plain PluginWidget") << QByteArray("PluginWidget") << false;
        QTest::newRow("plain SerializeInterface") << QByteArray("SerializeInterface") << false;
        QTest::newRow("unknown") << QByteArray("QDialog") << false;
    }

    void metacast()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, answers);
        const auto instance = reinterpret_cast<InstanceFunction>(m_library.resolve("qt_plugin_instance"));
        QObject *object = instance();
        QCOMPARE(object->qt_metacast(name.constData()), answers ? static_cast<void *>(object) : nullptr);
        QCOMPARE(object->qt_metacast(nullptr), static_cast<void *>(nullptr));
    }

    void slotTable()
    {
        const auto instance = reinterpret_cast<InstanceFunction>(m_library.resolve("qt_plugin_instance"));
        QObject *object = instance();
        const QMetaObject *meta = object->metaObject();
        QCOMPARE(meta->className(), "Custom_TALVORIN");
        QCOMPARE(meta->superClass(), &QWidget::staticMetaObject);
        QCOMPARE(meta->methodCount() - meta->methodOffset(), 5);
        const QList<QByteArray> expected { "onCameraDetectionCompleted(ProductProcessData)", "onExport()",
                                           "onCurRunningModeChanged(CurMode)", "onQuery()",
                                           "onMcuEvent(McuEvent)" };
        for (int i = 0; i < expected.size(); ++i) {
            const QMetaMethod method = meta->method(meta->methodOffset() + i);
            QCOMPARE(method.methodSignature(), expected.at(i));
            QCOMPARE(method.access(), QMetaMethod::Private);
        }
        // An index past the panel's own slots reaches none and comes back reduced.
        void *args[] = { nullptr };
        QCOMPARE(object->qt_metacall(QMetaObject::InvokeMetaMethod, meta->methodOffset() + 7, args), 2);
    }

    void createWorkingPanel()
    {
        QPluginLoader loader(modulePath());
        auto *prototype = qobject_cast<PluginWidget *>(loader.instance());
        QVERIFY(prototype);
        TestHost host;
        host.data = m_dataDir.path();
        std::unique_ptr<PluginWidget> panel(prototype->create(&host));
        QVERIFY(panel);
        QVERIFY(panel.get() != prototype);
        QVERIFY(panel->parent() == nullptr);
        QVERIFY(QFile::exists(QDir(m_dataDir.path()).filePath(QStringLiteral("DectDB/TLV.db"))));
        panel.reset();
        // The host's interface outlives the panel and keeps emitting.
        emit host.Signal_McEvent(McuEvent());
        emit host.cameraDetectionCompleted(ProductProcessData());
    }
};

// The wrapper re-emits each of the host's signals under the same index; resetCountData runs
// the other way, and the capture signals keep only the camera.
class SysInterfaceTest : public QObject
{
    Q_OBJECT
private slots:
    void reemission_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < 21; ++i)
            QTest::newRow(qPrintable(QString::number(i))) << i;
    }

    void reemission()
    {
        QFETCH(int, index);
        TestHost host;
        SysInterface wrapper(&host);
        QCOMPARE(wrapper.impl, &host);
        const QMetaObject &implMeta = SysInterfaceImpl::staticMetaObject;
        const QMetaObject &wrapMeta = SysInterface::staticMetaObject;
        QCOMPARE(wrapMeta.methodCount() - wrapMeta.methodOffset(), 21);
        const QMetaMethod from = implMeta.method(implMeta.methodOffset() + index);
        const QMetaMethod to = wrapMeta.method(wrapMeta.methodOffset() + index);
        QCOMPARE(from.methodType(), QMetaMethod::Signal);
        QCOMPARE(to.methodType(), QMetaMethod::Signal);

        const bool reversed = index == 15;
        QObject *sender = reversed ? static_cast<QObject *>(&wrapper) : &host;
        QObject *receiver = reversed ? static_cast<QObject *>(&host) : &wrapper;
        const QMetaMethod emitted = reversed ? to : from;
        const QMetaMethod received = reversed ? from : to;
        QSignalSpy spy(receiver, QByteArray("2" + received.methodSignature()).constData());
        QVERIFY(spy.isValid());

        // Arguments: the first int is the camera (7); later ints are product and cycle.
        QVector<QVariant> values;
        QVector<QGenericArgument> args;
        for (int p = 0; p < emitted.parameterCount(); ++p) {
            const int type = emitted.parameterType(p);
            values.append(type == QMetaType::Int ? QVariant(7 + p) : QVariant(type, nullptr));
        }
        for (QVariant &value : values)
            args.append(QGenericArgument(value.typeName(), value.data()));
        while (args.size() < 10)
            args.append(QGenericArgument());
        QVERIFY(emitted.invoke(sender, Qt::DirectConnection, args[0], args[1], args[2], args[3], args[4], args[5],
                               args[6], args[7], args[8], args[9]));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().size(), received.parameterCount());
        if (index == 5 || index == 6) {
            QCOMPARE(received.parameterCount(), 1);
            QCOMPARE(spy.first().first().toInt(), 7);
        }
    }

    void namesThatDiffer()
    {
        const QMetaObject &implMeta = SysInterfaceImpl::staticMetaObject;
        const QMetaObject &wrapMeta = SysInterface::staticMetaObject;
        QCOMPARE(implMeta.method(implMeta.methodOffset() + 11).name(), QByteArray("updateProductDataTitles"));
        QCOMPARE(wrapMeta.method(wrapMeta.methodOffset() + 11).name(), QByteArray("productJudgeSettingsUpdated"));
        QCOMPARE(wrapMeta.className(), "SysInterface");
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    int status = 0;
    {
        PluginTest test;
        status |= QTest::qExec(&test, argc, argv);
    }
    {
        SysInterfaceTest test;
        status |= QTest::qExec(&test, argc, argv);
    }
    return status;
}

#include "tst_plugin.moc"
