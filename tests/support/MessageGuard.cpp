#include "MessageGuard.h"

#include <QMutex>

namespace {
QtMessageHandler previousHandler = nullptr;
QMutex mutex;
QList<QRegularExpression> expected;
QStringList unexpectedMessages;

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg) {
        QMutexLocker lock(&mutex);
        bool announced = false;
        for (const QRegularExpression &pattern : qAsConst(expected))
            announced = announced || pattern.match(message).hasMatch();
        if (!announced)
            unexpectedMessages << message;
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
    QMutexLocker lock(&mutex);
    expected << pattern;
}

QStringList MessageGuard::unexpected()
{
    QMutexLocker lock(&mutex);
    return unexpectedMessages;
}

void MessageGuard::reset()
{
    QMutexLocker lock(&mutex);
    expected.clear();
    unexpectedMessages.clear();
}
