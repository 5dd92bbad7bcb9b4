#include "StationRun.h"

#include "DatabaseBackup.h"
#include "DatabaseCheck.h"
#include "HostAutomation.h"
#include "HostSettings.h"
#include "LineSimulator.h"
#include "MainWindow.h"
#include "StationSysInterface.h"
#include "VerdictTally.h"

#include <PluginWidget.h>

#ifdef TLV_HAVE_DATAGEN
#include <ProductDataGenerator.h>
#endif

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kHoles = 20;
constexpr int kCameraPositions = 24;
constexpr qint64 kGB = qint64(1) << 30;

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
    candidates << QDir(QCoreApplication::applicationDirPath())
                      .filePath(QStringLiteral("../plugins/") + pluginFileName());
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
// connection is left alone. Returns -1 when the file cannot be read, and says why in `error`.
qlonglong queryNumber(const QString &dbPath, const QString &sql, QString *error = nullptr)
{
    if (!QFileInfo::exists(dbPath))
        return 0;
    const QString name = QStringLiteral("station_host_readback");
    qlonglong result = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        // Long enough for a backup's lock, short enough for a host whose file stays locked.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
        db.setDatabaseName(dbPath);
        QSqlError failure;
        if (!db.open()) {
            failure = db.lastError();
        } else {
            QSqlQuery query(db);
            const bool listed = query.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = "
                                                          "'table' AND name = 'product_data_new'"))
                && query.next();
            if (listed && query.value(0).toInt() == 0)
                result = 0;
            else if (listed && query.exec(sql) && query.next())
                result = query.value(0).toLongLong();
            else
                failure = query.lastError();
        }
        if (failure.isValid()) {
            qWarning().noquote() << "cannot read" << dbPath << failure.text();
            if (error)
                *error = failure.databaseText();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

qlonglong countRows(const QString &dbPath, QString *error = nullptr)
{
    return queryNumber(dbPath, QStringLiteral("SELECT COUNT(*) FROM product_data_new"), error);
}

QString gigabytes(qint64 bytes)
{
    return QStringLiteral("%1 GB").arg(double(bytes) / double(kGB), 0, 'f', 1);
}

// The free space of the volume that holds `folder`, marked LOW below the larger of 1 GB and
// 5 % of the volume.
QString diskSpace(const QString &folder)
{
    const QStorageInfo volume(folder);
    if (!volume.isValid() || !volume.isReady())
        return QStringLiteral("unknown (%1)").arg(QDir::toNativeSeparators(folder));
    const qint64 total = volume.bytesTotal();
    const qint64 free = volume.bytesAvailable();
    const qint64 threshold = qMax(kGB, total / 20);
    QString text = QStringLiteral("%1 free of %2").arg(gigabytes(free), gigabytes(total));
    if (free < threshold)
        text += QStringLiteral(" LOW, below %1").arg(gigabytes(threshold));
    return text;
}

// With the history on, the limits are kept too, as the panel keeps them.
bool seedDatabase(const QString &dbPath, int products, int days, quint32 seed, bool history)
{
#ifdef TLV_HAVE_DATAGEN
    if (!ProductDataGenerator::generate(
            dbPath, products, days, QDateTime::currentDateTime(), kHoles, seed, history)) {
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
    Q_UNUSED(history);
    qCritical() << "--seed-demo: this build has no data generator";
    return false;
#endif
}

} // namespace

StationRun::StationRun(const HostOptions &options)
    : m_options(options)
    , m_out(stdout)
    // The same place the panel computes from dataPath(); checked, seeded and read back here.
    , m_dbPath(
          QDir(QDir(options.dataDir).filePath(QStringLiteral("DectDB"))).filePath(QStringLiteral("TLV.db")))
{
}

StationRun::~StationRun() = default;

int StationRun::exec()
{
    // Before the panel opens it: over a foreign file the panel loses every product, over one
    // that is no database it ends the process.
    const QString unusable = DatabaseCheck::problem(m_dbPath);
    if (!unusable.isEmpty()) {
        std::fprintf(stderr, "station_host: %s\n", qPrintable(unusable));
        return 2;
    }
    if (!loadPlugin())
        return m_options.pluginPath.isEmpty() ? 1 : 2;
    if (!prepareDatabase() || !buildLine())
        return 1;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [this]() { saveSettings(); });
    QObject::connect(m_simulator.get(), &LineSimulator::finished, qApp, [this]() { finishWhenDone(); });
    QObject::connect(m_automation.get(), &HostAutomation::done, qApp, [this]() { finishWhenDone(); });

    m_window->show();
    QTimer::singleShot(0, m_simulator.get(), &LineSimulator::start);
    const int rc = QApplication::exec();
    m_verdictLabel = m_tally->hasLabel();
    // The panel goes first, so that whatever it still holds is stored before the rows are read.
    delete m_panel;
    m_panel = nullptr;
    int status = checkRows();
    if (!m_options.backupFile.isEmpty() && !backUp())
        status = 1;
    return rc == 0 ? status : rc;
}

bool StationRun::loadPlugin()
{
    const QString file = locatePlugin(m_options.pluginPath);
    m_loader.setFileName(file);
    QObject *instance = m_loader.instance();
    if (!instance) {
        qCritical().noquote()
            << QStringLiteral("cannot load the panel plugin %1: %2").arg(file, m_loader.errorString());
        return false;
    }
    m_prototype = qobject_cast<PluginWidget *>(instance);
    if (!m_prototype) {
        qCritical().noquote() << file << "is no PluginWidget:" << instance->metaObject()->className();
        return false;
    }
    m_out << "plugin: " << m_prototype->pluginId() << " | " << m_prototype->displayName() << " | "
          << m_prototype->category() << "  (" << QDir::toNativeSeparators(file) << ")\n";
    m_out.flush();
    return true;
}

bool StationRun::prepareDatabase()
{
    const QString dbDir = QFileInfo(m_dbPath).absolutePath();
    if (!QDir().mkpath(dbDir)) {
        qCritical().noquote() << "cannot create the data folder" << dbDir;
        return false;
    }
    m_seed = m_options.fixedSeed ? m_options.seed : QRandomGenerator::global()->generate();
    if (m_options.seedDemo > 0
        && !seedDatabase(m_dbPath, m_options.seedDemo, m_options.seedDays, m_seed, m_options.history))
        return false;
    m_rowsBefore = countRows(m_dbPath);
    const qlonglong lastPid = m_rowsBefore < 0
        ? 0
        : queryNumber(m_dbPath, QStringLiteral("SELECT COALESCE(MAX(pid), 0) FROM product_data_new"));
    m_firstPid = int(qMax<qlonglong>(lastPid, 0)) + 1;
    return true;
}

bool StationRun::buildLine()
{
    m_host = std::make_unique<StationSysInterface>(
        QCoreApplication::applicationDirPath(), m_options.dataDir, kCameraPositions);
    m_panel = m_prototype->create(m_host.get());
    if (!m_panel) {
        qCritical() << "the plugin created no panel";
        return false;
    }
    m_settings = std::make_unique<HostSettings>(m_options.settingsFile);
    m_settings->load();
    // The panel keeps a year of products searchable unless the user turns that off.
    const QString panelKey = QStringLiteral("Custom_TALVORIN");
    QJsonObject &root = m_settings->root();
    QJsonObject own = root.value(panelKey).toObject();
    if (m_options.history)
        own.insert(QStringLiteral("History"), QStringLiteral("1"));
    else
        own.remove(QStringLiteral("History"));
    if (m_options.history || root.contains(panelKey))
        root.insert(panelKey, own);
    m_panel->deserialize(root);

    m_simulator = std::make_unique<LineSimulator>(m_host.get());
    m_simulator->setHoles(kHoles);
    m_simulator->setRate(m_options.effectiveRate());
    m_simulator->setProductLimit(m_options.effectiveProducts());
    m_simulator->setSeed(m_seed + 1);
    m_simulator->setFirstProductId(m_firstPid);

    // After the panel's own connection: the tally reads the verdict the panel has just shown.
    m_tally = std::make_unique<VerdictTally>(m_panel, m_host.get());
    m_window = std::make_unique<MainWindow>(
        m_panel, m_prototype->displayName(), m_host.get(), m_simulator.get(), m_tally.get(), m_dbPath);
    restoreGeometry();

    m_automation = std::make_unique<HostAutomation>(m_window.get(), m_panel, m_simulator.get());
    m_automation->setPanelShot(m_options.panelShot);
    m_automation->setReportShot(m_options.reportShot);
    m_automation->setOpenReport(m_options.openReport);
    m_automation->arm();
    return true;
}

void StationRun::restoreGeometry()
{
    const QJsonObject section = m_settings->hostSection();
    if (!m_options.headless && section.contains(QStringLiteral("geometry")))
        m_window->restoreGeometry(
            QByteArray::fromBase64(section.value(QStringLiteral("geometry")).toString().toLatin1()));
    else
        m_window->resize(1560, 900);
}

void StationRun::saveSettings()
{
    m_panel->serialize(m_settings->root());
    QJsonObject section = m_settings->hostSection();
    section.insert(QStringLiteral("rate"), m_simulator->rate());
    section.insert(QStringLiteral("lastRun"), QDateTime::currentDateTime().toString(Qt::ISODate));
    if (!m_options.headless)
        section.insert(QStringLiteral("geometry"), QString::fromLatin1(m_window->saveGeometry().toBase64()));
    m_settings->setHostSection(section);
    if (!m_settings->save())
        qCritical().noquote() << "settings not saved:" << m_settings->filePath();
}

void StationRun::finishWhenDone()
{
    const bool anyShot = !m_options.panelShot.isEmpty() || !m_options.reportShot.isEmpty();
    const bool lineDone = m_simulator->productLimit() == 0
        ? anyShot
        : m_simulator->productsDone() >= m_simulator->productLimit();
    if (m_quitting || !lineDone || !m_automation->isDone())
        return;
    m_quitting = true;
    // Leaves nested loops too (an open report dialog).
    QCoreApplication::exit(0);
}

int StationRun::checkRows()
{
    const int made = m_simulator->productsDone();
    QString unreadable;
    const qlonglong rows = countRows(m_dbPath, &unreadable);
    // Distinct product ids, so that a row stored twice does not hide a lost one.
    const qlonglong stored = made == 0 || rows < 0
        ? 0
        : queryNumber(m_dbPath,
            QStringLiteral("SELECT COUNT(DISTINCT pid) FROM product_data_new WHERE pid BETWEEN %1 AND %2")
                .arg(m_firstPid)
                .arg(qlonglong(m_firstPid) + made - 1),
            &unreadable);
    const bool readable = rows >= 0 && stored >= 0;
    if (m_options.headless)
        printSummary(readable ? rows : -1, readable ? stored : -1, unreadable);
    if (readable && stored >= made)
        return 0;
    const QString lost = readable
        ? QStringLiteral(
            "%1 of %2 products are not in the database (lost, or still queued when the panel closed)")
              .arg(made - stored)
              .arg(made)
        : QStringLiteral("%1 of %2 products cannot be found: the database could not be read (%3)")
              .arg(made)
              .arg(made)
              .arg(unreadable);
    if (m_options.headless)
        m_out << "LOST: " << lost << "\n";
    m_out.flush();
    qCritical().noquote() << lost;
    return 1;
}

void StationRun::printSummary(qlonglong rows, qlonglong stored, const QString &unreadable)
{
    const int made = m_simulator->productsDone();
    const QString rowsText = rows < 0
        ? QStringLiteral("unknown, the database could not be read (%1)").arg(unreadable)
        : QString::number(rows);
    const QString addedText
        = rows < 0 || m_rowsBefore < 0 ? QStringLiteral("unknown") : QString::number(rows - m_rowsBefore);
    const QString storedText = stored < 0 ? QStringLiteral("unknown (%1 products made)").arg(made)
                                          : QStringLiteral("%1 of %2 products").arg(stored).arg(made);
    m_out << "station_host summary\n"
          << "products: " << m_tally->products() << "\n"
          << "OK: " << m_tally->ok() << "\n"
          << "NG: " << m_tally->ng() << "\n"
          << "verdicts: " << (m_verdictLabel ? "panel label" : "none (no verdict label)")
          << "; simulator expected OK " << m_simulator->expectedOk() << ", NG " << m_simulator->expectedNg()
          << "\n"
          << "database: " << QDir::toNativeSeparators(m_dbPath) << "\n"
          << "rows: " << rowsText << "\n"
          << "rows added: " << addedText << "\n"
          << "stored: " << storedText << "\n"
          << "settings: " << QDir::toNativeSeparators(m_settings->filePath()) << "\n"
          << "disk: " << diskSpace(QFileInfo(m_dbPath).absolutePath()) << "\n";
    m_out.flush();
}

bool StationRun::backUp()
{
    const QString target = QDir::toNativeSeparators(m_options.backupFile);
    QString error;
    const bool copied = DatabaseBackup::copy(m_dbPath, m_options.backupFile, &error);
    if (copied)
        m_out << "backup: " << target << "\n";
    else
        m_out << "backup failed: " << error << "\n";
    m_out.flush();
    if (!copied)
        qCritical().noquote() << "no copy of the database in" << target << "-" << error;
    return copied;
}
