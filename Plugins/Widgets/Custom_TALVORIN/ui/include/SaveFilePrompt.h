#pragma once

#include <QString>

#include <functional>

class QWidget;

// The save-file question of the exports, replaceable so that tests can answer it.
class SaveFilePrompt
{
public:
    using Override = std::function<QString(QWidget *parent, const QString &caption, const QString &filter)>;

    // The chosen file name, or an empty text when the user cancelled.
    static QString getSaveFileName(QWidget *parent, const QString &caption, const QString &filter);
    // An empty function restores the file dialog.
    static void setOverride(Override override);

private:
    static Override &current();
};
