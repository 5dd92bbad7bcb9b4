#pragma once

#include "ApeInfo.h"
#include "HoleInfo.h"

#include <QList>
#include <QMetaType>
#include <QString>

#include <memory>

namespace tlv {

// One stored product, as the report reads it. Created by the record worker, never changed
// after it has been emitted, shared by std::shared_ptr only.
struct ProductInfo
{
    QString uptime;
    int pid = 0;
    QString barcode;
    QString psize;
    QList<std::shared_ptr<HoleInfo>> vtHoles;
    QList<std::shared_ptr<ApeInfo>> vtApes;
    int status = 0;
    qint64 id = 0; // the row's id: the order the products were stored in
};

} // namespace tlv

Q_DECLARE_METATYPE(std::shared_ptr<tlv::ProductInfo>)
Q_DECLARE_METATYPE(QList<std::shared_ptr<tlv::ProductInfo>>)
