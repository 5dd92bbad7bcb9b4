#include "StoredRowWriter.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStringList>

#include <cmath>

QString StoredRowWriter::psizeText(const QMap<QString, double> &sizeValues)
{
    if (sizeValues.isEmpty())
        return QString();
    QStringList parts;
    parts.reserve(sizeValues.size());
    for (auto it = sizeValues.cbegin(); it != sizeValues.cend(); ++it)
        parts << QStringLiteral("%1:%2").arg(it.key()).arg(it.value(), 0, 'g', 6);
    return parts.join(QLatin1Char(';'));
}

namespace {

// A number as QJsonDocument writes it: integral values of up to 53 bits as integers, other
// finite values in the shortest form that reads back exactly, non-finite values as null.
void appendNumber(QByteArray &out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
    } else if (std::trunc(value) == value && std::fabs(value) <= 9007199254740992.0) {
        out += QByteArray::number(static_cast<qint64>(value));
    } else if (std::trunc(value) == value) {
        // Beyond 53 bits the writer's own rules apply.
        const QByteArray one = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
        out += one.mid(1, one.size() - 2);
    } else {
        out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
    }
}

} // namespace

// Written directly rather than through QJsonObject: this runs at every cycle end, and the keys
// come out in the writer's (alphabetical) order.
QString StoredRowWriter::diameterJson(const QList<HoleEntry> &holes)
{
    QByteArray out;
    out.reserve(2 + holes.size() * 64);
    out += '[';
    for (const HoleEntry &hole : holes) {
        if (out.size() > 1)
            out += ',';
        out += R"({"idx":)";
        out += QByteArray::number(hole.idx);
        out += R"(,"position":)";
        appendNumber(out, static_cast<double>(hole.position));
        out += hole.status ? R"(,"status":true,"value":)" : R"(,"status":false,"value":)";
        appendNumber(out, hole.value);
        out += '}';
    }
    out += ']';
    return QString::fromLatin1(out);
}

QString StoredRowWriter::appearanceJson(const QList<ApeEntry> &findings)
{
    QJsonArray array;
    for (const ApeEntry &finding : findings) {
        QJsonObject object;
        object.insert(QStringLiteral("idx"), finding.idx);
        object.insert(QStringLiteral("status"), finding.status);
        object.insert(QStringLiteral("position"), static_cast<double>(finding.position));
        object.insert(QStringLiteral("ngtypes"), QJsonArray::fromStringList(finding.ngtypes));
        array.append(object);
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString StoredRowWriter::uptimeText(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString StoredRowWriter::currentUptimeText()
{
    // The local time conversion costs more than the rest of the row's texts: done once a second.
    thread_local qint64 second = -1;
    thread_local QString text;
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (now != second) {
        second = now;
        text = uptimeText(QDateTime::fromSecsSinceEpoch(now));
    }
    return text;
}
