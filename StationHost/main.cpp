#include "HostOptions.h"
#include "StationRun.h"

#include <SysInterface.h>

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QVector>

#include <cstdio>

int main(int argc, char **argv)
{
    // The application object gets the arguments with ours protected from Qt's own options.
    QList<QByteArray> arguments = HostOptions::protectedArguments(argc, argv);
    QVector<char *> appArgv;
    for (QByteArray &argument : arguments)
        appArgv << argument.data();
    appArgv << nullptr;
    int appArgc = arguments.size();

    // Without a window system the host still runs, offscreen; this has to be decided before
    // the application object picks its platform.
    if (HostOptions::wantsOffscreen(argc, argv))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(appArgc, appArgv.data());
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
    StationRun run(options);
    return run.exec();
}
