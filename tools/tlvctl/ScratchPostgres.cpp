#include "ScratchPostgres.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

const char *const kUser = "tlv";
const char *const kPort = "5432";

#ifdef Q_OS_UNIX
bool isRoot()
{
    return ::geteuid() == 0;
}
#else
bool isRoot()
{
    return false;
}
#endif

} // namespace

ScratchPostgres::ScratchPostgres() = default;

ScratchPostgres::~ScratchPostgres()
{
    stop();
}

QString ScratchPostgres::binDir()
{
    const QString given = qEnvironmentVariable("TLV_PG_BIN");
    for (const QString &dir : { given, QStringLiteral("/usr/lib/postgresql/15/bin") }) {
        if (!dir.isEmpty() && QFileInfo(QDir(dir).filePath(QStringLiteral("initdb"))).isExecutable()
            && QFileInfo(QDir(dir).filePath(QStringLiteral("pg_ctl"))).isExecutable())
            return dir;
    }
    return {};
}

bool ScratchPostgres::runTool(
    const QString &tool, const QStringList &arguments, QString *output, int timeoutMs) const
{
    QString program = tool == QLatin1String("psql") && !QFileInfo::exists(QDir(binDir()).filePath(tool))
        ? tool
        : QDir(binDir()).filePath(tool);
    QStringList args = arguments;
    // The server refuses to run as root: its tools run as nobody, on a folder given to nobody.
    if (isRoot() && tool != QLatin1String("psql")) {
        args = QStringList { QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
            QStringLiteral("--clear-groups"), QStringLiteral("--"), program }
            + args;
        program = QStringLiteral("setpriv");
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        *output
            = QStringLiteral("%1 did not finish: %2").arg(tool, QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool ScratchPostgres::start(QString *error, const QStringList &settings)
{
    QString output;
    if (binDir().isEmpty()) {
        *error
            = QStringLiteral("PostgreSQL's initdb and pg_ctl were not found (Debian: postgresql-15, or set "
                             "TLV_PG_BIN)");
        return false;
    }
    if (!m_made) {
        m_dir = std::make_unique<QTemporaryDir>(QDir::temp().filePath(QStringLiteral("tlvpg-XXXXXX")));
        if (!m_dir->isValid()) {
            *error = m_dir->errorString();
            return false;
        }
#ifdef Q_OS_UNIX
        if (isRoot()) {
            const passwd *nobody = ::getpwnam("nobody");
            if (!nobody
                || ::chown(QFile::encodeName(m_dir->path()).constData(), nobody->pw_uid, nobody->pw_gid)
                    != 0) {
                *error = QStringLiteral("cannot give %1 to the user nobody").arg(m_dir->path());
                return false;
            }
        }
#endif
        if (!runTool(QStringLiteral("initdb"),
                { QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-U"),
                    QLatin1String(kUser), QStringLiteral("--auth=trust"), QStringLiteral("-E"),
                    QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync") },
                &output, 120000)) {
            *error = QStringLiteral("initdb failed: ") + output;
            return false;
        }
        m_made = true;
        m_settings = settings;
    }
    QString options = QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' -p %2")
                          .arg(m_dir->path(), QLatin1String(kPort));
    for (const QString &setting : qAsConst(m_settings))
        options += QStringLiteral(" -c ") + setting;
    if (!runTool(QStringLiteral("pg_ctl"),
            { QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-l"),
                m_dir->filePath(QStringLiteral("server.log")), QStringLiteral("-o"), options,
                QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("start") },
            &output, 90000)) {
        *error = QStringLiteral("pg_ctl start failed: ") + output;
        return false;
    }
    m_running = true;
    return true;
}

bool ScratchPostgres::stop(QString *error)
{
    if (!m_running)
        return true;
    QString output;
    const bool stopped = runTool(QStringLiteral("pg_ctl"),
        { QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-m"),
            QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop") },
        &output, 90000);
    if (!stopped && error)
        *error = QStringLiteral("pg_ctl stop failed: ") + output;
    m_running = !stopped;
    return stopped;
}

QString ScratchPostgres::conninfo() const
{
    return QStringLiteral("host=%1 port=%2 user=%3 dbname=postgres")
        .arg(m_dir ? m_dir->path() : QString(), QLatin1String(kPort), QLatin1String(kUser));
}

QString ScratchPostgres::psql(const QStringList &arguments, QString *error) const
{
    QString output;
    if (!runTool(QStringLiteral("psql"),
            QStringList { QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"),
                QStringLiteral("-t"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                QStringLiteral("-d"), conninfo() }
                + arguments,
            &output, 600000)) {
        if (error)
            *error = output;
        return {};
    }
    return output.trimmed();
}
