#pragma once

#include "ProductInfo.h"

#include <QString>
#include <QVector>

#include <memory>

// The defect causes of many products, counted as the report's bar chart counts them for one
// (each NG hole as "尺寸NG", each NG finding with each of its defect names), most frequent
// first (equal counts by name), each with the share of all defects up to and including it.
class DefectPareto
{
public:
    struct Cause
    {
        QString name;
        int count = 0;
        double cumulativeShare = 0.0; // 0 to 1
    };

    static QVector<Cause> of(const QVector<std::shared_ptr<tlv::ProductInfo>> &products);
};
