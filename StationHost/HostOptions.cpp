#include "HostOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QtGlobal>

#include <cstring>

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

bool HostOptions::parse(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Station host: loads the TALVORIN panel and drives a simulated line."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataOpt(QStringLiteral("data"), QStringLiteral("Data folder (holds DectDB)."),
                                     QStringLiteral("DIR"), QStringLiteral("station-data"));
    const QCommandLineOption settingsOpt(QStringLiteral("settings"),
                                         QStringLiteral("Host settings JSON (default: <data>/station_host.json)."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption pluginOpt(QStringLiteral("plugin"), QStringLiteral("Plugin library or its folder."),
                                       QStringLiteral("PATH"));
    const QCommandLineOption productsOpt(QStringLiteral("products"), QStringLiteral("Run N products, then quit."),
                                         QStringLiteral("N"));
    const QCommandLineOption rateOpt(QStringLiteral("rate"), QStringLiteral("Products per second (0 = flat out)."),
                                     QStringLiteral("HZ"));
    const QCommandLineOption seedOpt(QStringLiteral("seed-demo"),
                                     QStringLiteral("Fill the database with N generated products first."),
                                     QStringLiteral("N"));
    const QCommandLineOption seedDaysOpt(QStringLiteral("seed-days"),
                                         QStringLiteral("Days the generated products span (default 7)."),
                                         QStringLiteral("DAYS"));
    const QCommandLineOption randomSeedOpt(QStringLiteral("seed"),
                                           QStringLiteral("Random seed of the line and the generated products."),
                                           QStringLiteral("S"));
    const QCommandLineOption reportOpt(QStringLiteral("open-report"),
                                       QStringLiteral("Press the panel's report button after the first product."));
    const QCommandLineOption panelShotOpt(QStringLiteral("screenshot-panel"),
                                          QStringLiteral("Save an image of the window in mid-cycle."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption reportShotOpt(QStringLiteral("screenshot-report"),
                                           QStringLiteral("Save an image of the report with a product clicked."),
                                           QStringLiteral("FILE"));
    const QCommandLineOption headlessOpt(QStringLiteral("headless"),
                                         QStringLiteral("Run offscreen for a fixed number of products and print a summary."));
    parser.addOptions({dataOpt, settingsOpt, pluginOpt, productsOpt, rateOpt, seedOpt, seedDaysOpt, randomSeedOpt, reportOpt,
                       panelShotOpt, reportShotOpt, headlessOpt});
    parser.process(arguments);   // handles --help and --version itself

    const auto toInt = [&](const QCommandLineOption &opt, int minimum, int *out) {
        if (!parser.isSet(opt))
            return true;
        bool ok = false;
        const int value = parser.value(opt).toInt(&ok);
        if (!ok || value < minimum) {
            *error = QStringLiteral("--%1 needs an integer of at least %2").arg(opt.names().constFirst()).arg(minimum);
            return false;
        }
        *out = value;
        return true;
    };
    if (!toInt(productsOpt, 0, &products) || !toInt(seedOpt, 0, &seedDemo) || !toInt(seedDaysOpt, 1, &seedDays))
        return false;
    if (parser.isSet(randomSeedOpt)) {
        bool ok = false;
        seed = parser.value(randomSeedOpt).toUInt(&ok);
        if (!ok) {
            *error = QStringLiteral("--seed needs an unsigned integer");
            return false;
        }
        fixedSeed = true;
    }
    if (parser.isSet(rateOpt)) {
        bool ok = false;
        rate = parser.value(rateOpt).toDouble(&ok);
        if (!ok || rate < 0.0) {
            *error = QStringLiteral("--rate needs a number of at least 0");
            return false;
        }
    }

    dataDir = QDir::current().absoluteFilePath(parser.value(dataOpt));
    settingsFile = parser.isSet(settingsOpt) ? QDir::current().absoluteFilePath(parser.value(settingsOpt))
                                             : QDir(dataDir).filePath(QStringLiteral("station_host.json"));
    if (parser.isSet(pluginOpt))
        pluginPath = QDir::current().absoluteFilePath(parser.value(pluginOpt));
    openReport = parser.isSet(reportOpt);
    if (parser.isSet(panelShotOpt))
        panelShot = QDir::current().absoluteFilePath(parser.value(panelShotOpt));
    if (parser.isSet(reportShotOpt))
        reportShot = QDir::current().absoluteFilePath(parser.value(reportShotOpt));
    headless = parser.isSet(headlessOpt);
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
