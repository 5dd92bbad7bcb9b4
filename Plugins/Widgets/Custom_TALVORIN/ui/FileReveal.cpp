#include "FileReveal_p.h"

#include <QDebug>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>

namespace {

const QLatin1String explorer("explorer.exe");

QString selectArgument(const QString &fileName)
{
    QString path = fileName;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return QStringLiteral("/select,\"%1\"").arg(path);
}

#ifndef Q_OS_WIN
bool hasDisplay()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return false;
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}
#endif

FileReveal::Launcher &current()
{
    static FileReveal::Launcher instance;
    return instance;
}

} // namespace

void FileReveal::setLauncher(Launcher launcher)
{
    current() = std::move(launcher);
}

QString FileReveal::explorerCommandLine(const QString &fileName)
{
    return explorer + QLatin1Char(' ') + selectArgument(fileName);
}

void FileReveal::reveal(const QString &fileName)
{
#ifdef Q_OS_WIN
    // Explorer parses its own command line; an argument list would be quoted the wrong way.
    const QString program = explorer;
    const QStringList arguments;
    const QString nativeArguments = selectArgument(fileName);
#else
    const QString program = QStringLiteral("xdg-open");
    const QStringList arguments { QFileInfo(fileName).absolutePath() };
    const QString nativeArguments;
#endif
    if (current()) {
        current()(program, arguments, nativeArguments);
        return;
    }
#ifdef Q_OS_WIN
    QProcess process;
    process.setProgram(program);
    process.setNativeArguments(nativeArguments);
    if (!process.startDetached())
        qCritical().noquote() << "Cannot start" << explorerCommandLine(fileName);
#else
    if (!hasDisplay()) {
        qDebug() << "No desktop to show" << fileName << "in";
        return;
    }
    if (!QProcess::startDetached(program, arguments))
        qCritical() << "Cannot start" << program << arguments;
#endif
}
