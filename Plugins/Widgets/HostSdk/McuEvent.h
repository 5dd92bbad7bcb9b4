#pragma once

#include <QMetaType>
#include <QString>
#include <QVariant>

// An event of the line's microcontroller. The panel reads only `eventText`, the fifth string.
struct McuEvent
{
    QString source;
    QString device;
    QString eventId;
    QString timeText;
    QString eventText;
    QVariant payload;
};

Q_DECLARE_METATYPE(McuEvent)
