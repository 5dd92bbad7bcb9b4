#pragma once

#include "CameraResult.h"

#include <QDateTime>
#include <QMetaType>
#include <QVector>

// One detection result as the host emits it; the panel accepts exactly one entry in `results`.
struct ProductProcessData
{
    int station = 0;
    QDateTime time;
    QVector<CameraResult> results;
};

Q_DECLARE_METATYPE(ProductProcessData)
