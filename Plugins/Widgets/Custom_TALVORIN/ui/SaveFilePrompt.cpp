#include "SaveFilePrompt_p.h"

#include <QFileDialog>

namespace {

SaveFilePrompt::Override &current()
{
    static SaveFilePrompt::Override instance;
    return instance;
}

} // namespace

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
