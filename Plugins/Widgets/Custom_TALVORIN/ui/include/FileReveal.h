#pragma once

#include <QString>

// Shows a saved file in the platform's file manager: Explorer with the file selected on
// Windows, the file's folder through xdg-open on a desktop elsewhere. Nothing waits for it.
namespace FileReveal {

// explorer.exe /select,"C:\dir\f.xlsx"
QString explorerCommandLine(const QString &fileName);
void reveal(const QString &fileName);

} // namespace FileReveal
