#include "HistorySwitch.h"

#include <QDir>
#include <QSet>

namespace {

QSet<QString> &switchedOn()
{
    static QSet<QString> paths;
    return paths;
}

QString key(const QString &dbPath)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(dbPath));
}

} // namespace

void HistorySwitch::set(const QString &dbPath, bool on)
{
    if (on)
        switchedOn().insert(key(dbPath));
    else
        switchedOn().remove(key(dbPath));
}

bool HistorySwitch::isOn(const QString &dbPath)
{
    return switchedOn().contains(key(dbPath));
}
