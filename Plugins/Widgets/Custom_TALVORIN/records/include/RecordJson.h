#pragma once

#include "ApeInfo.h"
#include "HoleInfo.h"

#include <QByteArray>
#include <QList>

#include <memory>

// Reads the "diameter" and "appearance" column texts of product_data_new into item records:
// texts in, items out.
//
// Rules: empty text, a parse error or a top level that is not an array give no items; an
// element gives an item only when it is an object holding all four keys; "idx" reads as
// QJsonValue::toInt(0), "status" only from a JSON boolean, numbers as QJsonValue::toDouble(0)
// turned into text as QString::number(v, 'g', 6) does, "ngtypes" as an array of strings.
//
// readHoles() and readApes() run on simdjson; the WithQt readers are the reference they agree
// with on every input, QJsonDocument alone.
namespace RecordJson {

using HoleList = QList<std::shared_ptr<tlv::HoleInfo>>;
using ApeList = QList<std::shared_ptr<tlv::ApeInfo>>;

HoleList readHoles(const QByteArray &utf8);
ApeList readApes(const QByteArray &utf8);

HoleList readHolesWithQt(const QByteArray &utf8);
ApeList readApesWithQt(const QByteArray &utf8);

} // namespace RecordJson
