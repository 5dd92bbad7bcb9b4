#pragma once

#include "HoleInfo.h"
#include "RecordListModel.h"

// The holes of the product shown in detail, one row each, every cell centred and an NG hole in
// red.
class ReportItemModel : public RecordListModel<tlv::HoleInfo>
{
    Q_OBJECT

public:
    explicit ReportItemModel(QObject *parent = nullptr);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
};
