#pragma once

#include "SaveFilePrompt.h"

#include <functional>

// For tests and benchmarks: an answer to the save-file question instead of the file dialog.
namespace SaveFilePrompt {

using Override = std::function<QString(QWidget *parent, const QString &caption, const QString &filter)>;

// An empty function restores the file dialog.
void setOverride(Override override);

} // namespace SaveFilePrompt
