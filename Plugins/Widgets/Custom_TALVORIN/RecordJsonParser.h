#pragma once

#include "ApeInfo.h"
#include "HoleInfo.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

// Reads the "diameter" and "appearance" column texts of product_data_new into item records.
//
// Rules: empty text, a parse error or a top level that is not an array give no items; an
// element gives an item only when it is an object holding all four keys; "idx" reads as
// QJsonValue::toInt(0), "status" only from a JSON boolean, numbers as QJsonValue::toDouble(0)
// turned into text by QString::number(v, 'g', 6), "ngtypes" as an array of strings.
//
// parseHoles/parseApes run on simdjson and give exactly what the QJsonDocument based
// parseHolesQt/parseApesQt give. Whenever an input lies where the two JSON readers could
// disagree (simdjson rejects it, surrogate escapes, zero or subnormal doubles that Qt may
// treat as underflow, -0), the fast path hands the whole text to the Qt reader instead.
class RecordJsonParser
{
public:
    using HoleList = QList<std::shared_ptr<tlv::HoleInfo>>;
    using ApeList = QList<std::shared_ptr<tlv::ApeInfo>>;

    static HoleList parseHoles(const QString &text);
    static ApeList parseApes(const QString &text);
    static HoleList parseHoles(const char *utf8, qsizetype size);
    static ApeList parseApes(const char *utf8, qsizetype size);
    static HoleList parseHoles(const QByteArray &utf8) { return parseHoles(utf8.constData(), utf8.size()); }
    static ApeList parseApes(const QByteArray &utf8) { return parseApes(utf8.constData(), utf8.size()); }

    // Reference readers on QJsonDocument.
    static HoleList parseHolesQt(const QByteArray &utf8);
    static ApeList parseApesQt(const QByteArray &utf8);

    // Same text as QString::number(v, 'g', 6), without going through QLocale.
    static QString numberText(double v);

    // Number of inputs the fast path handed to the Qt reader in this thread (for tests).
    static quint64 fallbackCount();
};
