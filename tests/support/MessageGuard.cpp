#include "MessageGuard.h"

#include <QTest>

#include <mutex>

namespace {

struct Ignored
{
    QtMsgType type;
    QRegularExpression pattern;
};

QtMessageHandler previousHandler = nullptr;
// std::mutex rather than QMutex: ThreadSanitizer sees its locking of the worker's messages.
std::mutex mutex;
QList<QRegularExpression> expected;
QList<Ignored> ignored;
QStringList logged;
QStringList unexpected;

// The offscreen platform says so for every window with a size limit; it is no fault of ours.
const QRegularExpression platformNoise(
    QStringLiteral("^This plugin does not support propagateSizeHints\\(\\)$"));

bool announced(QtMsgType type, const QString &message)
{
    // As QtTest's handler does: the first matching ignore takes the message.
    for (int i = 0; i < ignored.size(); ++i) {
        if (ignored.at(i).type == type && ignored.at(i).pattern.match(message).hasMatch()) {
            ignored.removeAt(i);
            return true;
        }
    }
    if (platformNoise.match(message).hasMatch())
        return true;
    for (const QRegularExpression &pattern : qAsConst(expected))
        if (pattern.match(message).hasMatch())
            return true;
    return false;
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg) {
        std::lock_guard<std::mutex> lock(mutex);
        logged << message;
        if (!announced(type, message) && (type == QtWarningMsg || type == QtCriticalMsg))
            unexpected << message;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

void MessageGuard::install()
{
    previousHandler = qInstallMessageHandler(handler);
}

void MessageGuard::expect(const QRegularExpression &pattern)
{
    std::lock_guard<std::mutex> lock(mutex);
    expected << pattern;
}

void MessageGuard::ignore(QtMsgType type, const QRegularExpression &pattern)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        ignored << Ignored { type, pattern };
    }
    QTest::ignoreMessage(type, pattern);
}

QStringList MessageGuard::messages()
{
    std::lock_guard<std::mutex> lock(mutex);
    return logged;
}

QString MessageGuard::takeUnexpected()
{
    std::lock_guard<std::mutex> lock(mutex);
    const QString lines = unexpected.join(QLatin1Char('\n'));
    expected.clear();
    ignored.clear();
    logged.clear();
    unexpected.clear();
    return lines;
}
