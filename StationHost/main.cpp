#include "HostAutomation.h"
#include "HostOptions.h"
#include "HostSettings.h"
#include "LineSimulator.h"
#include "MainWindow.h"
#include "StationSysInterface.h"
#include "VerdictTally.h"

#include <PluginWidget.h>
#include <SysInterface.h>

#ifdef TLV_HAVE_DATAGEN
#include <ProductDataGenerator.h>
#endif

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kHoles = 20;
constexpr int kCameraPositions = 24;

QString pluginFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Custom_TALVORIN.dll");
#else
    return QStringLiteral("Custom_TALVORIN.so");
#endif
}

QString locatePlugin(const QString &requested)
{
    if (!requested.isEmpty()) {
        const QFileInfo info(requested);
        return info.isDir() ? QDir(requested).filePath(pluginFileName()) : requested;
    }
    QStringList candidates;
    candidates << QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../plugins/") + pluginFileName());
#ifdef TLV_BUILD_PLUGIN_DIR
    candidates << QDir(QStringLiteral(TLV_BUILD_PLUGIN_DIR)).filePath(pluginFileName());
#endif
    for (const QString &candidate : qAsConst(candidates)) {
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return candidates.constFirst();
}

// Reads one number from the product database on a connection of its own, so the panel's
// connection is left alone. Returns -1 when the file cannot be read.
qlonglong queryNumber(const QString &dbPath, const QString &sql)
{
    if (!QFileInfo::exists(dbPath))
        return 0;
    const QString name = QStringLiteral("station_host_readback");
    qlonglong result = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dbPath);
        if (!db.open()) {
            qWarning().noquote() << "cannot open" << dbPath << db.lastError().text();
        } else if (!db.tables().contains(QStringLiteral("product_data_new"))) {
            result = 0;
        } else {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next())
                result = query.value(0).toLongLong();
            else
                qWarning().noquote() << "cannot read" << dbPath << query.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

qlonglong countRows(const QString &dbPath)
{
    return queryNumber(dbPath, QStringLiteral("SELECT COUNT(*) FROM product_data_new"));
}

bool seedDatabase(const QString &dbPath, int products, int days, quint32 seed)
{
#ifdef TLV_HAVE_DATAGEN
    if (!ProductDataGenerator::generate(dbPath, products, days, QDateTime::currentDateTime(), kHoles, seed)) {
        qCritical().noquote() << "could not seed" << dbPath;
        return false;
    }
    QTextStream(stdout) << "seeded: " << products << " products over " << days << " days\n";
    return true;
#else
    Q_UNUSED(dbPath);
    Q_UNUSED(products);
    Q_UNUSED(days);
    Q_UNUSED(seed);
    qCritical() << "--seed-demo: this build has no data generator";
    return false;
#endif
}

} // namespace

int main(int argc, char **argv)
{
    // Without a window system the host still runs, offscreen; this has to be decided before
    // the application object picks its platform.
    if (HostOptions::wantsOffscreen(argc, argv))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("station_host"));
    QApplication::setOrganizationName(QStringLiteral("TALVORIN"));
    QApplication::setApplicationVersion(QStringLiteral("2.2"));
    SysInterface::registerMetaTypes();

    HostOptions options;
    QString error;
    if (!options.parse(QApplication::arguments(), &error)) {
        std::fprintf(stderr, "station_host: %s\n", qPrintable(error));
        return 2;
    }
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        options.headless = true;

    QTextStream out(stdout);
    const QString dbDir = QDir(options.dataDir).filePath(QStringLiteral("DectDB"));
    if (!QDir().mkpath(dbDir)) {
        qCritical().noquote() << "cannot create the data folder" << dbDir;
        return 1;
    }
    // The same place the panel computes from dataPath(); used here for seeding and read-back.
    const QString dbPath = QDir(dbDir).filePath(QStringLiteral("TLV.db"));
    const quint32 seed = options.fixedSeed ? options.seed : QRandomGenerator::global()->generate();
    if (options.seedDemo > 0 && !seedDatabase(dbPath, options.seedDemo, options.seedDays, seed))
        return 1;
    const qlonglong rowsBefore = countRows(dbPath);

    const QString pluginFile = locatePlugin(options.pluginPath);
    QPluginLoader loader(pluginFile);
    QObject *instance = loader.instance();
    if (!instance) {
        qCritical().noquote() << "cannot load the panel plugin" << pluginFile << loader.errorString();
        return 1;
    }
    auto *prototype = qobject_cast<PluginWidget *>(instance);
    if (!prototype) {
        qCritical().noquote() << pluginFile << "is no PluginWidget:" << instance->metaObject()->className();
        return 1;
    }
    out << "plugin: " << prototype->pluginId() << " | " << prototype->displayName() << " | "
        << prototype->category() << "  (" << QDir::toNativeSeparators(pluginFile) << ")\n";
    out.flush();

    StationSysInterface host(QCoreApplication::applicationDirPath(), options.dataDir, kCameraPositions);
    PluginWidget *panel = prototype->create(&host);
    if (!panel) {
        qCritical() << "the plugin created no panel";
        return 1;
    }

    HostSettings settings(options.settingsFile);
    settings.load();
    panel->deserialize(settings.root());

    LineSimulator simulator(&host);
    simulator.setHoles(kHoles);
    simulator.setRate(options.effectiveRate());
    simulator.setProductLimit(options.effectiveProducts());
    simulator.setSeed(seed + 1);
    const qlonglong lastPid = queryNumber(dbPath, QStringLiteral("SELECT COALESCE(MAX(pid), 0) FROM product_data_new"));
    simulator.setFirstProductId(int(qMax<qlonglong>(lastPid, 0)) + 1);

    // After the panel's own connection: the tally reads the verdict the panel has just shown.
    VerdictTally tally(panel, &host);
    MainWindow window(panel, prototype->displayName(), &host, &simulator, &tally, dbPath);
    const QJsonObject hostSection = settings.hostSection();
    if (!options.headless && hostSection.contains(QStringLiteral("geometry")))
        window.restoreGeometry(QByteArray::fromBase64(hostSection.value(QStringLiteral("geometry")).toString().toLatin1()));
    else
        window.resize(1560, 900);

    HostAutomation automation(&window, panel, &simulator);
    automation.setPanelShot(options.panelShot);
    automation.setReportShot(options.reportShot);
    automation.setOpenReport(options.openReport);
    automation.arm();

    const auto saveSettings = [&]() {
        panel->serialize(settings.root());
        QJsonObject section = settings.hostSection();
        section.insert(QStringLiteral("rate"), simulator.rate());
        section.insert(QStringLiteral("lastRun"), QDateTime::currentDateTime().toString(Qt::ISODate));
        if (!options.headless)
            section.insert(QStringLiteral("geometry"), QString::fromLatin1(window.saveGeometry().toBase64()));
        settings.setHostSection(section);
        if (!settings.save())
            qCritical().noquote() << "settings not saved:" << settings.filePath();
    };
    QObject::connect(&app, &QCoreApplication::aboutToQuit, saveSettings);

    int exitCode = 0;
    bool quitting = false;
    const auto finishWhenDone = [&]() {
        const bool lineDone = simulator.productLimit() == 0 ? !options.panelShot.isEmpty() || !options.reportShot.isEmpty()
                                                            : simulator.productsDone() >= simulator.productLimit();
        if (quitting || !lineDone || !automation.isDone())
            return;
        quitting = true;
        if (options.headless) {
            const qlonglong rows = countRows(dbPath);
            out << "station_host summary\n"
                << "products: " << tally.products() << "\n"
                << "OK: " << tally.ok() << "\n"
                << "NG: " << tally.ng() << "\n"
                << "verdicts: " << (tally.hasLabel() ? "panel label" : "none (no verdict label)")
                << "; simulator expected OK " << simulator.expectedOk() << ", NG " << simulator.expectedNg()
                << "\n"
                << "database: " << QDir::toNativeSeparators(dbPath) << "\n"
                << "rows: " << rows << "\n"
                << "rows added: " << (rows - qMax<qlonglong>(rowsBefore, 0)) << "\n"
                << "settings: " << QDir::toNativeSeparators(settings.filePath()) << "\n";
            out.flush();
            if (rows < 0)
                exitCode = 3;
        }
        // Leaves nested loops too (an open report dialog).
        QCoreApplication::exit(exitCode);
    };
    QObject::connect(&simulator, &LineSimulator::finished, &app, finishWhenDone);
    QObject::connect(&automation, &HostAutomation::done, &app, finishWhenDone);

    window.show();
    QTimer::singleShot(0, &simulator, &LineSimulator::start);
    const int rc = QApplication::exec();
    return rc == 0 ? exitCode : rc;
}
