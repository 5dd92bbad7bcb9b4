// A line in a box: drives one panel through the host's signals and reports every product it
// ends, so that a test can kill it, starve it of disk or take its rights away and then compare
// what it claimed against the database. One line per event on stdout, flushed at once:
//   stored <pid>              the insert of <pid> reported success
//   failed <pid>              the insert of <pid> reported failure
//   shown <pid> <label> <rows> what the panel showed after the cycle end of <pid>
//   done                      all products ended
// Options (before the application exists, so they also cover its start-up):
//   --base DIR  --first-pid N  --count N (0 = endless)  --pad N (bytes added to the material
//   number)  --user NAME (drop to this account)  --fsize BYTES (largest file it may write).
#include "Custom_TALVORIN.h"
#include "TestHost.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <memory>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

enum class Insert { None, Stored, Failed };
Insert lastInsert = Insert::None;
QtMessageHandler defaultHandler = nullptr;

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("Data inserted successfully.")))
        lastInsert = Insert::Stored;
    else if (message.contains(QLatin1String("Unable to insert data"))
             || message.contains(QLatin1String("DB Open failed")))
        lastInsert = Insert::Failed;
    // The debug lines of every cycle would drown the failures.
    if (type != QtDebugMsg || message.contains(QLatin1String("Error")))
        defaultHandler(type, context, message);
}

const char *option(int argc, char **argv, const char *name, const char *fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    return fallback;
}

bool dropTo(const char *user)
{
    const passwd *account = getpwnam(user);
    if (!account)
        return false;
    return setgroups(0, nullptr) == 0 && setgid(account->pw_gid) == 0 && setuid(account->pw_uid) == 0;
}

void line(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (const char *user = option(argc, argv, "--user", nullptr)) {
        if (!dropTo(user)) {
            std::fprintf(stderr, "cannot run as %s\n", user);
            return 2;
        }
    }
    if (const char *limit = option(argc, argv, "--fsize", nullptr)) {
        // A full disk as a process sees it: writes past the limit fail with EFBIG.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t bytes = std::strtoull(limit, nullptr, 10);
        const rlimit rl { bytes, bytes };
        setrlimit(RLIMIT_FSIZE, &rl);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    defaultHandler = qInstallMessageHandler(handler);

    const int firstPid = std::atoi(option(argc, argv, "--first-pid", "1"));
    const int count = std::atoi(option(argc, argv, "--count", "0"));
    const int pad = std::atoi(option(argc, argv, "--pad", "0"));

    TestHost host;
    host.base = QString::fromLocal8Bit(option(argc, argv, "--base", "."));
    host.data = QStringLiteral(".");
    Custom_TALVORIN prototype;
    std::unique_ptr<PluginWidget> panel(prototype.create(&host));
    QLineEdit *material = nullptr;
    QLineEdit *order = nullptr;
    const auto edits = panel->findChildren<QLineEdit *>();
    for (QLineEdit *edit : edits) {
        if (edit->placeholderText() == QLatin1String("Material number"))
            material = edit;
        else if (edit->placeholderText() == QLatin1String("Order number"))
            order = edit;
    }
    auto *label = panel->findChild<QLabel *>();
    auto *table = panel->findChild<QTableWidget *>();
    if (!material || !order || !label || !table) {
        std::fprintf(stderr, "panel widgets not found\n");
        return 3;
    }
    order->setText(QStringLiteral("WO-%1").arg(firstPid));
    const QString padding(pad, QLatin1Char('p'));

    for (int pid = firstPid; count == 0 || pid < firstPid + count; ++pid) {
        // Every third product has an oversized hole, every fifth an appearance NG.
        const int holes = 1 + pid % 4;
        emit host.Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenStart")));
        emit host.cameraDetectionCompleted(TestHost::sizeGroup(
            { { QStringLiteral("宽度1"), 10.0 + pid % 7 }, { QStringLiteral("TALVORIN长"), 100.5 } }, 0.0, 1000.0));
        for (int h = 0; h < holes; ++h)
            emit host.cameraDetectionCompleted(TestHost::hole(pid % 3 == 0 && h == 0 ? 9.0 : 2.0 + h * 0.01, 1.0, 3.0));
        emit host.cameraDetectionCompleted(TestHost::appearance(pid, pid % 5 != 0));
        material->setText(QStringLiteral("M%1").arg(pid) + padding);
        lastInsert = Insert::None;
        emit host.Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenEnd")));
        const QByteArray id = QByteArray::number(pid);
        line((lastInsert == Insert::Stored ? "stored " : "failed ") + id);
        line("shown " + id + ' ' + label->text().toUtf8() + ' ' + QByteArray::number(table->rowCount()));
        if (pid % 16 == 0)
            QCoreApplication::processEvents();
    }
    line("done");
    return 0;
}
