#pragma once

#include <QMetaType>

// The host's run mode. It travels as a plain integer; the station panel only acts on CurMode_Run.
enum CurMode : int {
    CurMode_Stop = 0,
    CurMode_Run = 1,
    CurMode_Debug = 2,
    CurMode_Calibrate = 3,
};

Q_DECLARE_METATYPE(CurMode)
