#include "SaveFilePrompt.h"

#include <QFileDialog>

SaveFilePrompt::Override &SaveFilePrompt::current()
{
    static Override instance;
    return instance;
}

void SaveFilePrompt::setOverride(Override override)
{
    current() = std::move(override);
}

QString SaveFilePrompt::getSaveFileName(QWidget *parent, const QString &caption, const QString &filter)
{
    if (current())
        return current()(parent, caption, filter);
    return QFileDialog::getSaveFileName(parent, caption, QString(), filter);
}
