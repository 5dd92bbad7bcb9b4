#include "ProductDataGenerator.h"

#include "ApeEntry.h"
#include "HoleEntry.h"
#include "KeptLimit.h"
#include "LimitTable.h"
#include "ProductStatus.h"
#include "ProductStore.h"
#include "ProductTable.h"
#include "StoredRowWriter.h"
#include "Tolerance.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>
#include <QVariant>

#include <cmath>

namespace {

constexpr double kNominalDiameter = 8.0;
constexpr Tolerance kDiameterLimits { kNominalDiameter - 0.05, kNominalDiameter + 0.05 };
constexpr double kHolePitchReadings = 115.0; // chute readings between two holes
constexpr Tolerance kLengthLimits { 1198.5, 1201.5 };
constexpr Tolerance kWidthLimits { 34.94, 35.06 };

double gaussian(QRandomGenerator &rng, double sigma)
{
    // Box-Muller; enough for test data.
    const double u1 = 1.0 - rng.generateDouble();
    const double u2 = rng.generateDouble();
    return sigma * std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

struct Product
{
    QString barcode;
    QString psize;
    QString diameter;
    QString appearance;
    int status = 3;
};

Product makeProduct(QRandomGenerator &rng, int holes, const QStringList &materials)
{
    static const QStringList kDefects { QStringLiteral("划伤"), QStringLiteral("脏污"),
        QStringLiteral("缺角") };
    Product p;

    // Some lines run without configured camera positions: every hole then sits at -1.
    const bool positioned = rng.bounded(50) != 0;
    const double startReading = 200.0 + 30.0 + rng.bounded(20.0);
    const bool sizeTrouble = rng.bounded(20) == 0;
    QList<HoleEntry> holeEntries;
    holeEntries.reserve(holes);
    bool holesOk = true;
    for (int i = 0; i < holes; ++i) {
        HoleEntry hole;
        hole.idx = i;
        hole.value = kNominalDiameter + gaussian(rng, sizeTrouble ? 0.04 : 0.012);
        hole.status = kDiameterLimits.accepts(hole.value);
        if (positioned) {
            const float reading = float(startReading + i * kHolePitchReadings + gaussian(rng, 0.3));
            hole.position = (reading - 200.0f) * 0.1f;
        } else {
            hole.position = -1.0f;
        }
        holesOk = holesOk && hole.status;
        holeEntries.append(hole);
    }

    QList<ApeEntry> apes;
    const int findings = 1 + rng.bounded(3);
    bool apesOk = true;
    for (int i = 0; i < findings; ++i) {
        ApeEntry ape;
        ape.idx = i;
        ape.status = rng.bounded(25) != 0;
        if (!ape.status && rng.bounded(3) != 0) { // the panel itself leaves ngtypes empty
            const int count = 1 + rng.bounded(2);
            for (int k = 0; k < count; ++k)
                ape.ngtypes.append(kDefects.at(rng.bounded(kDefects.size())));
        }
        ape.position = ape.status ? 0.0f : float(rng.bounded(2400)) * 0.1f;
        apesOk = apesOk && ape.status;
        apes.append(ape);
    }

    QMap<QString, double> sizes;
    sizes.insert(QStringLiteral("TALVORIN长度"), 1200.0 + gaussian(rng, 0.4));
    sizes.insert(QStringLiteral("宽度"), 35.0 + gaussian(rng, 0.02));

    p.barcode = materials.at(rng.bounded(materials.size())) + QLatin1Char(',')
        + QStringLiteral("WO%1").arg(240000 + rng.bounded(500), 6, 10, QLatin1Char('0'));
    p.psize = StoredRowWriter::psizeText(sizes);
    p.diameter = StoredRowWriter::diameterJson(holeEntries);
    p.appearance = StoredRowWriter::appearanceJson(apes);
    p.status = ProductStatus::of(holesOk, apesOk);
    return p;
}

// The limits the products are made against, from the first product of this fill on.
bool keepLimits(QSqlDatabase &db, int holes)
{
    QSqlQuery query(db);
    QString error;
    if (!query.exec(QStringLiteral("select coalesce(max(id), 0) + 1 from product_data_new"))
        || !query.next()) {
        qCritical() << "ProductDataGenerator: cannot read the next id:" << query.lastError().text();
        return false;
    }
    QMap<QString, Tolerance> limits { { QStringLiteral("TALVORIN长度"), kLengthLimits },
        { QStringLiteral("宽度"), kWidthLimits } };
    for (int i = 0; i < holes; ++i)
        limits.insert(KeptLimit::holeName(i), kDiameterLimits);
    if (!LimitTable::create(db, &error)
        || !LimitTable::insert(db, query.value(0).toLongLong(), limits, &error)) {
        qCritical() << "ProductDataGenerator: cannot keep the limits:" << error;
        return false;
    }
    return true;
}

bool fill(
    QSqlDatabase &db, int products, int days, const QDateTime &end, int holes, quint32 seed, bool limits)
{
    QSqlQuery query(db);
    if (!db.tables().contains(QStringLiteral("product_data_new"))
        && !query.exec(QLatin1String(ProductTable::createSql))) {
        qCritical() << "ProductDataGenerator: create table failed:" << query.lastError().text();
        return false;
    }
    if (!db.transaction()) {
        qCritical() << "ProductDataGenerator: transaction failed:" << db.lastError().text();
        return false;
    }
    if (limits && !keepLimits(db, holes)) {
        db.rollback();
        return false;
    }
    if (!query.prepare(QLatin1String(ProductTable::insertSql))) {
        qCritical() << "ProductDataGenerator: prepare failed:" << query.lastError().text();
        db.rollback();
        return false;
    }

    QRandomGenerator rng(seed);
    QStringList materials;
    for (int i = 0; i < 6; ++i)
        materials << QStringLiteral("TLV-%1").arg(100200 + rng.bounded(800));

    const qint64 span = qint64(days) * 86400;
    const QDateTime start = end.addSecs(-span);
    for (int i = 0; i < products; ++i) {
        const Product p = makeProduct(rng, holes, materials);
        const QDateTime stamp = start.addSecs(span * (i + 1) / products);
        query.bindValue(0, StoredRowWriter::uptimeText(stamp));
        query.bindValue(1, i + 1);
        query.bindValue(2, p.barcode);
        query.bindValue(3, p.psize);
        query.bindValue(4, p.diameter);
        query.bindValue(5, p.appearance);
        query.bindValue(6, p.status);
        if (!query.exec()) {
            qCritical() << "ProductDataGenerator: insert failed:" << query.lastError().text();
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        qCritical() << "ProductDataGenerator: commit failed:" << db.lastError().text();
        return false;
    }
    return true;
}

} // namespace

bool ProductDataGenerator::generate(const QString &dbPath, int products, int days, const QDateTime &end,
    int holes, quint32 seed, bool keepLimits)
{
    if (products < 0 || days < 0 || holes < 0) {
        qCritical() << "ProductDataGenerator: negative count";
        return false;
    }
    if (!QDir().mkpath(QFileInfo(dbPath).absolutePath())) {
        qCritical() << "ProductDataGenerator: cannot create the folder of" << dbPath;
        return false;
    }

    const QString name = QStringLiteral("tlvgen-") + QUuid::createUuid().toString();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dbPath);
        if (!db.open()) {
            qCritical() << "ProductDataGenerator: open failed:" << db.lastError().text();
        } else {
            ok = fill(db, products, days, end, holes, seed, keepLimits);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}
