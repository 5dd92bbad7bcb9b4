#pragma once

#include "ApeEntry.h"
#include "HoleEntry.h"
#include "ProductStatus.h"
#include "StoredRow.h"
#include "Tolerance.h"

#include <CameraResult.h>

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The product on the line between two cycle starts: every camera result judged against its
// limits, the status bits, the texts the panel shows and the row the store keeps.
class MeasuredProduct
{
public:
    // The line's hole positions ("reading,camera;..."), one entry per hole in measuring order.
    void setCameraPositions(const QString &value);

    // A new product: the results so far are dropped (the camera positions stay).
    void start();
    // Sizes (kind 0), one hole (kind 1) or the appearance (kind 2); other kinds are ignored.
    void add(const CameraResult &entry);

    bool isOk() const { return m_ok; }
    int status() const { return m_status; }
    int productId() const { return m_productId; }
    // "name:\tvalue" per size item, in the order the items came.
    const QStringList &sizeLines() const { return m_sizeLines; }
    const QList<HoleEntry> &holes() const { return m_holes; }
    QString holeValueText(int idx) const;
    // The position shown for a hole: centimetres along the chute, or the line's own text.
    QString holePositionText(int idx) const { return m_holePositionTexts.at(idx); }
    // The holes to mark at the end of a cycle, -1 when none; a later equal value wins.
    int largestHole() const;
    // The limits each characteristic was judged against, by its KeptLimit name.
    const QMap<QString, Tolerance> &limits() const { return m_limits; }
    int smallestHole() const;

    // The finished product as stored, stamped now.
    StoredRow row(const QString &barcode) const;

private:
    void addSizes(const CameraResult &entry);
    void addHole(const CameraResult &entry);
    void addAppearance(const CameraResult &entry);

    QStringList m_camPositions;
    bool m_ok = true;
    int m_status = ProductStatus::Ok;
    int m_productId = 0;
    QMap<QString, double> m_sizeValues;
    QStringList m_sizeLines;
    QList<HoleEntry> m_holes;
    QStringList m_holePositionTexts;
    QList<ApeEntry> m_appearance;
    QMap<QString, Tolerance> m_limits;
};
