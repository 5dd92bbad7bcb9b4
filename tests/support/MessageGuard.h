#pragma once

#include <QRegularExpression>
#include <QStringList>
#include <QtGlobal>

// Counts warnings and critical messages that a test did not announce, while passing every
// message on to QtTest's own handler. Tests check unexpected() in cleanup().
class MessageGuard
{
public:
    static void install();
    static void expect(const QRegularExpression &pattern);
    static QStringList unexpected();
    static void reset();
};
