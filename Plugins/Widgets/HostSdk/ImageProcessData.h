#pragma once

#include <QMetaType>
#include <QString>
#include <QVariantMap>

// Per-cycle image processing summary; the station panel only passes it through.
struct ImageProcessData
{
    int camera = 0;
    int product = 0;
    int cycle = 0;
    QString imagePath;
    QVariantMap values;
};

Q_DECLARE_METATYPE(ImageProcessData)
