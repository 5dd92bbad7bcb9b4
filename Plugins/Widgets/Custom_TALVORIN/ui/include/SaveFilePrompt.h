#pragma once

#include <QString>

class QWidget;

// The save-file question of the exports.
namespace SaveFilePrompt {

// The chosen file name, or an empty text when the user cancelled.
QString getSaveFileName(QWidget *parent, const QString &caption, const QString &filter);

} // namespace SaveFilePrompt
