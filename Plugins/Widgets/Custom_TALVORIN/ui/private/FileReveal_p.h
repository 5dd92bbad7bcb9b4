#pragma once

#include "FileReveal.h"

#include <QStringList>

#include <functional>

// For tests and benchmarks: what reveal() would start, taken instead of starting it.
namespace FileReveal {

// A program with its arguments, or (Windows) one native command line.
using Launcher = std::function<void(
    const QString &program, const QStringList &arguments, const QString &nativeArguments)>;

// Stands in for the process start (and for the display check off Windows); an empty function
// restores the real start.
void setLauncher(Launcher launcher);

} // namespace FileReveal
