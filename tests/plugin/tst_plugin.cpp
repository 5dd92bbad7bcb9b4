// The plugin as the inspection host sees it: loaded from the built module, never linked.
#include <PluginWidget.h>

#include <QDir>
#include <QLibrary>
#include <QPluginLoader>
#include <QTemporaryDir>
#include <QtTest>

#include "MessageGuard.h"
#include "TestHost.h"

class PluginTest : public QObject
{
    Q_OBJECT

    static QString modulePath()
    {
        return QDir(qEnvironmentVariable("TLV_PLUGIN_DIR")).filePath(QStringLiteral("Custom_TALVORIN.so"));
    }

private slots:
    void initTestCase() { MessageGuard::install(); }
    void cleanup() { QCOMPARE(MessageGuard::takeUnexpected(), QString()); }

    void hostContract()
    {
        // The metadata block the host reads before it loads anything.
        QLibrary library(modulePath());
        QVERIFY2(library.load(), qPrintable(library.errorString()));
        using MetadataFunction = const char *(*)();
        const auto metadata = reinterpret_cast<MetadataFunction>(library.resolve("qt_plugin_query_metadata"));
        QVERIFY(metadata);
        const QByteArray expected = QByteArray("QTMETADATA !", 12) + QByteArray::fromHex("00050f00bf02781f")
            + "com.kvt.quorvex.Custom_TALVORIN" + QByteArray::fromHex("036f") + "Custom_TALVORIN"
            + QByteArray::fromHex("ff");
        QCOMPARE(expected.size(), 69);
        QCOMPARE(QByteArray(metadata(), 69), expected);

        // Identity, interface and the slot table in the host's order.
        QPluginLoader loader(modulePath());
        QObject *instance = loader.instance();
        QVERIFY(instance && instance->qt_metacast("com.kvt.quorvex.PluginWidget") == instance);
        auto *prototype = qobject_cast<PluginWidget *>(instance);
        QCOMPARE((QStringList { prototype->pluginId(), prototype->displayName(), prototype->category() }),
            (QStringList { "com.kvt.quorvex.Custom_TALVORIN", "TALVORIN-V2.2", "定制" }));
        QVERIFY(prototype->children().isEmpty());
        const QMetaObject *meta = instance->metaObject();
        QStringList signatures;
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
            signatures << QString::fromLatin1(meta->method(i).methodSignature());
        QCOMPARE(signatures,
            (QStringList { "onCameraDetectionCompleted(ProductProcessData)", "onExport()",
                "onCurRunningModeChanged(CurMode)", "onQuery()", "onMcuEvent(McuEvent)" }));

        // A working panel opens its database; the host's interface outlives it.
        QTemporaryDir data;
        QVERIFY(QDir(data.path()).mkpath(QStringLiteral("DectDB")));
        TestHost host;
        host.data = data.path();
        std::unique_ptr<PluginWidget> panel(prototype->create(&host));
        QVERIFY(panel && panel.get() != prototype && !panel->parent());
        QVERIFY(QFile::exists(data.filePath(QStringLiteral("DectDB/TLV.db"))));
        panel.reset();
        emit host.Signal_McEvent(McuEvent());
    }
};

QTEST_MAIN(PluginTest)
#include "tst_plugin.moc"
