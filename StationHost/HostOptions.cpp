#include "HostOptions.h"

#include "LineSimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

#include <cmath>
#include <cstring>
#include <limits>

bool HostOptions::wantsOffscreen(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0)
            return true;
    }
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
    return false;
#endif
}

QList<QByteArray> HostOptions::protectedArguments(int argc, char **argv)
{
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (i == 0 || (argument != "--plugin" && argument != "-plugin")) {
            arguments << argument;
            continue;
        }
        // A missing value gives an empty one, which the parser rejects.
        arguments << "--plugin=" + (i + 1 < argc ? QByteArray(argv[++i]) : QByteArray());
    }
    return arguments;
}

void HostOptions::defineOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Station host: loads the TALVORIN panel and drives a simulated line."));
    parser.addOptions({
        { QStringLiteral("data"), QStringLiteral("Data folder (holds DectDB)."), QStringLiteral("DIR"),
            QStringLiteral("station-data") },
        { QStringLiteral("settings"),
            QStringLiteral("Host settings JSON (default: <data>/station_host.json)."),
            QStringLiteral("FILE") },
        { QStringLiteral("plugin"), QStringLiteral("Plugin library or its folder."), QStringLiteral("PATH") },
        { QStringLiteral("products"),
            QStringLiteral("Run N products, then quit (0 to %1).").arg(kMaxProducts), QStringLiteral("N") },
        { QStringLiteral("rate"),
            QStringLiteral("Products per second, %1 to %2 (0 = flat out).")
                .arg(LineSimulator::kMinRate)
                .arg(LineSimulator::kMaxRate),
            QStringLiteral("HZ") },
        { QStringLiteral("seed-demo"),
            QStringLiteral("Fill the database with N generated products first (0 to %1).").arg(kMaxSeedDemo),
            QStringLiteral("N") },
        { QStringLiteral("seed-days"),
            QStringLiteral("Days the generated products span (1 to %1, default 7).").arg(kMaxSeedDays),
            QStringLiteral("DAYS") },
        { QStringLiteral("seed"), QStringLiteral("Random seed of the line and the generated products."),
            QStringLiteral("S") },
        { QStringLiteral("open-report"),
            QStringLiteral("Press the panel's report button after the first product.") },
        { QStringLiteral("screenshot-panel"), QStringLiteral("Save an image of the window in mid-cycle."),
            QStringLiteral("FILE") },
        { QStringLiteral("screenshot-report"),
            QStringLiteral("Save an image of the report with a product clicked."), QStringLiteral("FILE") },
        { QStringLiteral("no-history"),
            QStringLiteral("Leave the panel's year-scale history off (no \"History\" in its settings).") },
        { QStringLiteral("backup"),
            QStringLiteral("After the run, write a consistent copy of the database to FILE."),
            QStringLiteral("FILE") },
        { QStringLiteral("headless"),
            QStringLiteral("Run offscreen for a fixed number of products and print a summary.") },
    });
}

bool HostOptions::parse(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    const QCommandLineOption helpOpt = parser.addHelpOption();
    const QCommandLineOption versionOpt = parser.addVersionOption();
    defineOptions(parser);
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(helpOpt))
        parser.showHelp(0);
    if (parser.isSet(versionOpt))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument \"%1\" (see --help)")
                     .arg(parser.positionalArguments().constFirst());
        return false;
    }
    headless = parser.isSet(QStringLiteral("headless"));
    openReport = parser.isSet(QStringLiteral("open-report"));
    history = !parser.isSet(QStringLiteral("no-history"));
    return readNumbers(parser, error) && readPaths(parser, error);
}

bool HostOptions::readNumbers(const QCommandLineParser &parser, QString *error)
{
    const auto toInt = [&](const QString &name, int minimum, int maximum, int *out) {
        if (!parser.isSet(name))
            return true;
        bool ok = false;
        const int value = parser.value(name).toInt(&ok);
        if (!ok || value < minimum || value > maximum) {
            *error = QStringLiteral("--%1 needs a whole number from %2 to %3, not \"%4\"")
                         .arg(name)
                         .arg(minimum)
                         .arg(maximum)
                         .arg(parser.value(name));
            return false;
        }
        *out = value;
        return true;
    };
    if (!toInt(QStringLiteral("products"), 0, kMaxProducts, &products)
        || !toInt(QStringLiteral("seed-demo"), 0, kMaxSeedDemo, &seedDemo)
        || !toInt(QStringLiteral("seed-days"), 1, kMaxSeedDays, &seedDays))
        return false;
    if (parser.isSet(QStringLiteral("seed"))) {
        const QString text = parser.value(QStringLiteral("seed"));
        bool ok = false;
        seed = text.toUInt(&ok);
        if (!ok || text.trimmed().startsWith(QLatin1Char('-'))) {
            *error = QStringLiteral("--seed needs a whole number from 0 to %1, not \"%2\"")
                         .arg(std::numeric_limits<quint32>::max())
                         .arg(text);
            return false;
        }
        fixedSeed = true;
    }
    if (parser.isSet(QStringLiteral("rate"))) {
        bool ok = false;
        rate = parser.value(QStringLiteral("rate")).toDouble(&ok);
        // NaN fails every comparison, so it is caught by the range check too.
        const bool inRange
            = rate == 0.0 || (rate >= LineSimulator::kMinRate && rate <= LineSimulator::kMaxRate);
        if (!ok || !std::isfinite(rate) || !inRange) {
            *error
                = QStringLiteral("--rate needs 0 (flat out) or products per second from %1 to %2, not \"%3\"")
                      .arg(LineSimulator::kMinRate)
                      .arg(LineSimulator::kMaxRate)
                      .arg(parser.value(QStringLiteral("rate")));
            return false;
        }
    }
    return true;
}

bool HostOptions::readPaths(const QCommandLineParser &parser, QString *error)
{
    for (const char *name :
        { "data", "settings", "plugin", "screenshot-panel", "screenshot-report", "backup" }) {
        const QString option = QString::fromLatin1(name);
        if (parser.isSet(option) && parser.value(option).trimmed().isEmpty()) {
            *error = QStringLiteral("--%1 needs a path").arg(option);
            return false;
        }
    }
    const QDir current = QDir::current();
    dataDir = current.absoluteFilePath(parser.value(QStringLiteral("data")));
    settingsFile = parser.isSet(QStringLiteral("settings"))
        ? current.absoluteFilePath(parser.value(QStringLiteral("settings")))
        : QDir(dataDir).filePath(QStringLiteral("station_host.json"));
    if (QFileInfo::exists(dataDir) && !QFileInfo(dataDir).isDir()) {
        *error = QStringLiteral("--data: %1 is not a folder").arg(QDir::toNativeSeparators(dataDir));
        return false;
    }
    if (QFileInfo(settingsFile).isDir()) {
        *error = QStringLiteral("--settings: %1 is a folder").arg(QDir::toNativeSeparators(settingsFile));
        return false;
    }
    if (parser.isSet(QStringLiteral("backup"))) {
        backupFile = current.absoluteFilePath(parser.value(QStringLiteral("backup")));
        if (QFileInfo(backupFile).isDir()) {
            *error = QStringLiteral("--backup: %1 is a folder").arg(QDir::toNativeSeparators(backupFile));
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("plugin")))
        pluginPath = current.absoluteFilePath(parser.value(QStringLiteral("plugin")));
    if (parser.isSet(QStringLiteral("screenshot-panel")))
        panelShot = current.absoluteFilePath(parser.value(QStringLiteral("screenshot-panel")));
    if (parser.isSet(QStringLiteral("screenshot-report")))
        reportShot = current.absoluteFilePath(parser.value(QStringLiteral("screenshot-report")));
    return true;
}

int HostOptions::effectiveProducts() const
{
    if (products > 0 || !headless)
        return products;
    return kHeadlessProducts;
}

double HostOptions::effectiveRate() const
{
    if (rate >= 0.0)
        return rate;
    return headless ? kHeadlessRate : kGuiRate;
}
