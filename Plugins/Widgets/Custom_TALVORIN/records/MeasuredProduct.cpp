#include "MeasuredProduct.h"

#include "KeptLimit.h"
#include "StoredRowWriter.h"
#include "Tolerance.h"

namespace {

struct Judged
{
    double value;
    bool ok;
    Tolerance limits;
};

Judged judge(const MeasureItem &item)
{
    const double value = item.values.value(QStringLiteral("MeasureResults")).toDouble();
    const Tolerance limits { item.values.value(QStringLiteral("LowTolerance")).toDouble(),
        item.values.value(QStringLiteral("UpTolerance")).toDouble() };
    return { value, limits.accepts(value), limits };
}

} // namespace

void MeasuredProduct::setCameraPositions(const QString &value)
{
    m_camPositions.clear();
    const QStringList entries = value.split(QLatin1Char(';'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &entry : entries)
        m_camPositions.append(
            entry.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive).constFirst());
}

void MeasuredProduct::start()
{
    m_ok = true;
    m_status = ProductStatus::Ok;
    m_sizeValues.clear();
    m_sizeLines.clear();
    m_holes.clear();
    m_holePositionTexts.clear();
    m_appearance.clear();
    m_limits.clear();
}

void MeasuredProduct::add(const CameraResult &entry)
{
    switch (entry.kind) {
    case 0:
        addSizes(entry);
        break;
    case 1:
        addHole(entry);
        break;
    case 2:
        addAppearance(entry);
        break;
    default:
        break;
    }
}

void MeasuredProduct::addSizes(const CameraResult &entry)
{
    for (const MeasureItem &item : entry.items) {
        if (!item.name.contains(QStringLiteral("TALVORIN")) && !item.name.contains(QStringLiteral("宽度")))
            continue;
        const Judged judged = judge(item);
        m_ok = m_ok && judged.ok;
        m_sizeValues.insert(item.name, judged.value);
        m_limits.insert(item.name, judged.limits);
        m_sizeLines.append(QStringLiteral("%1:\t%2").arg(item.name).arg(judged.value, 0, 'g', 6));
    }
}

void MeasuredProduct::addHole(const CameraResult &entry)
{
    const MeasureItem *hole = nullptr;
    for (const MeasureItem &item : entry.items) {
        if (item.name.contains(QStringLiteral("圆径"))) {
            hole = &item;
            break;
        }
    }
    if (!hole)
        return;
    const Judged judged = judge(*hole);
    m_ok = m_ok && judged.ok;
    if (!judged.ok)
        m_status &= ProductStatus::AppearanceOk;

    // A camera reading past 200 is a position along the chute, in tenths of a centimetre.
    const int idx = m_holes.size();
    m_limits.insert(KeptLimit::holeName(idx), judged.limits);
    const QString positionText
        = idx < m_camPositions.size() ? m_camPositions.at(idx) : QStringLiteral("null");
    double position = -1.0;
    if (positionText != QLatin1String("null")) {
        position = positionText.toDouble();
        if (position > 0.0)
            position = (position - 200.0) * 0.1;
    }
    m_holePositionTexts.append(position > 0.0 ? QString::number(position, 'g', 6) : positionText);
    m_holes.append(HoleEntry { idx, judged.ok, judged.value, static_cast<float>(position) });
}

void MeasuredProduct::addAppearance(const CameraResult &entry)
{
    m_productId = entry.productId;
    const bool ok = entry.appearanceOk;
    if (!ok)
        m_status &= ProductStatus::DiametersOk;
    m_ok = m_ok && ok;
    m_appearance.append(ApeEntry { m_appearance.size(), ok, QStringList(), 0.0f });
}

QString MeasuredProduct::holeValueText(int idx) const
{
    return QString::number(m_holes.at(idx).value, 'f', 5);
}

int MeasuredProduct::largestHole() const
{
    int largest = -1;
    double maxValue = -9999.0;
    for (const HoleEntry &hole : m_holes) {
        if (hole.value >= maxValue) {
            maxValue = hole.value;
            largest = hole.idx;
        }
    }
    return largest;
}

int MeasuredProduct::smallestHole() const
{
    int smallest = -1;
    double minValue = 99999.0;
    for (const HoleEntry &hole : m_holes) {
        if (hole.value <= minValue) {
            minValue = hole.value;
            smallest = hole.idx;
        }
    }
    return smallest;
}

StoredRow MeasuredProduct::row(const QString &barcode) const
{
    StoredRow row;
    row.uptime = StoredRowWriter::currentUptimeText();
    row.pid = m_productId;
    row.barcode = barcode;
    row.psize = StoredRowWriter::psizeText(m_sizeValues);
    row.diameter = StoredRowWriter::diameterJson(m_holes);
    row.appearance = StoredRowWriter::appearanceJson(m_appearance);
    row.status = m_status;
    return row;
}
