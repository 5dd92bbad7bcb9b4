#include "SyncMark.h"

#include <QFile>
#include <QSaveFile>

namespace {

const QByteArray kMagic = QByteArrayLiteral("tlv-sync 1");
const QByteArray kSent = QByteArrayLiteral("sent_up_to=");
const QByteArray kStation = QByteArrayLiteral("station=");

} // namespace

QString SyncMark::pathFor(const QString &dbPath)
{
    return dbPath + QStringLiteral(".sync");
}

SyncMark::State SyncMark::read(const QString &dbPath)
{
    State state;
    QFile file(pathFor(dbPath));
    if (!file.exists())
        return state;
    state.exists = true;
    if (!file.open(QIODevice::ReadOnly))
        return state;
    const QList<QByteArray> lines = file.read(4096).split('\n');
    if (lines.isEmpty() || lines.at(0).trimmed() != kMagic)
        return state;
    bool haveMark = false;
    for (const QByteArray &line : lines) {
        const QByteArray text = line.trimmed();
        if (text.startsWith(kSent))
            state.sentUpTo = text.mid(kSent.size()).toLongLong(&haveMark);
        else if (text.startsWith(kStation))
            state.station = QString::fromUtf8(text.mid(kStation.size()));
    }
    state.valid = haveMark && state.sentUpTo >= 0;
    if (!state.valid)
        state.sentUpTo = 0;
    return state;
}

qint64 SyncMark::retentionLimit(const QString &dbPath)
{
    const State state = read(dbPath);
    return state.exists ? state.sentUpTo : -1;
}

bool SyncMark::write(const QString &dbPath, qint64 sentUpTo, const QString &station, QString *error)
{
    QSaveFile file(pathFor(dbPath));
    const QByteArray text = kMagic + '\n' + kSent + QByteArray::number(sentUpTo) + '\n' + kStation
        + station.toUtf8().replace('\n', ' ') + '\n';
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    if (error)
        *error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
    return false;
}
