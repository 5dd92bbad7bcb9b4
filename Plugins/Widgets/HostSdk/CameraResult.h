#pragma once

#include "MeasureItem.h"

#include <QMap>
#include <QMetaType>
#include <QString>

// One entry of a detection result. `kind`: 0 size group, 1 diameter group (one hole),
// 2 appearance result.
struct CameraResult
{
    int camera = 0;
    int kind = 0;
    int cycle = 0;
    int productId = 0;
    double exposureMs = 0.0;
    bool appearanceOk = true;
    QString algorithm;
    QMap<QString, MeasureItem> items;
    QString imagePath;
};

Q_DECLARE_METATYPE(CameraResult)
