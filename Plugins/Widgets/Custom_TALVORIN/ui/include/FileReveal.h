#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Shows a saved file in the platform's file manager: Explorer with the file selected on
// Windows, the file's folder through xdg-open on a desktop elsewhere. Nothing waits for it.
class FileReveal
{
public:
    // What would be started: a program with its arguments, or (Windows) one native command line.
    using Launcher = std::function<void(
        const QString &program, const QStringList &arguments, const QString &nativeArguments)>;

    // explorer.exe /select,"C:\dir\f.xlsx"
    static QString explorerCommandLine(const QString &fileName);
    static void reveal(const QString &fileName);

    // Stands in for the process start (and for the display check off Windows); an empty
    // function restores the real start.
    static void setLauncher(Launcher launcher);

private:
    static Launcher &launcher();
};
