#pragma once

#include <QRegularExpression>
#include <QStringList>
#include <QtGlobal>

// Records what a test logs, from any thread, while passing every message on to QtTest's own
// handler. A warning or critical message the test did not announce is unexpected; each test's
// cleanup() ends with
//     QCOMPARE(MessageGuard::takeUnexpected(), QString());
class MessageGuard
{
public:
    // In initTestCase(), where QtTest's handler is already in place.
    static void install();

    // Announces any number of messages matching `pattern` until the test function ends. They are
    // still printed.
    static void expect(const QRegularExpression &pattern);
    // QTest::ignoreMessage() announced to the guard as well: one message of `type` matching
    // `pattern` must come, and QtTest swallows it. Use this instead of QTest::ignoreMessage().
    static void ignore(QtMsgType type, const QRegularExpression &pattern);

    // The info, warning and critical messages of the test function so far, in the order logged.
    static QStringList messages();

    // The unexpected messages of the test function, one a line (empty when there were none), and
    // a fresh record for the next one: nothing announced, nothing logged.
    static QString takeUnexpected();
};
