// A line in a box: drives one panel through the host's signals, so that a test can kill it or
// give it a file that is no database and compare what it claimed against the file.
// Writes "stored <pid>" on stdout, flushed at once, for every product the store reports in the
// file. Options: --base DIR  --first-pid N  --count N (0 = endless).
#include "Custom_TALVORIN.h"
#include "TestHost.h"

#include <QApplication>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

QtMessageHandler defaultHandler = nullptr;

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const QRegularExpression stored(QStringLiteral("^pid: (\\d+) .*Data inserted successfully\\.$"));
    const QRegularExpressionMatch match = stored.match(message);
    if (match.hasMatch()) {
        std::printf("stored %s\n", qPrintable(match.captured(1)));
        std::fflush(stdout);
    } else if (type != QtDebugMsg) {
        defaultHandler(type, context, message);
    }
}

const char *option(int argc, char **argv, const char *name, const char *fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    return fallback;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    defaultHandler = qInstallMessageHandler(handler);
    const int firstPid = std::atoi(option(argc, argv, "--first-pid", "1"));
    const int count = std::atoi(option(argc, argv, "--count", "0"));

    TestHost host;
    host.base = QString::fromLocal8Bit(option(argc, argv, "--base", "."));
    host.data = QStringLiteral(".");
    Custom_TALVORIN prototype;
    std::unique_ptr<PluginWidget> panel(prototype.create(&host));
    for (int pid = firstPid; count == 0 || pid < firstPid + count; ++pid) {
        emit host.Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenStart")));
        emit host.cameraDetectionCompleted(
            TestHost::sizeGroup({ { QStringLiteral("宽度1"), 10.0 + pid % 7 } }, 0.0, 20.0));
        for (int h = 0; h < 1 + pid % 4; ++h)
            emit host.cameraDetectionCompleted(TestHost::hole(2.0 + h * 0.01, 1.0, 3.0));
        emit host.cameraDetectionCompleted(TestHost::appearance(pid, pid % 5 != 0));
        emit host.Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenEnd")));
        if (pid % 16 == 0)
            QCoreApplication::processEvents();
    }
    return 0;
}
