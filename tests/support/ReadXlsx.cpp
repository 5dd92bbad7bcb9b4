#include "ReadXlsx.h"

#include <QDebug>
#include <QJsonDocument>
#include <QProcess>

QJsonObject readBook(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral(TLV_READ_XLSX), path });
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        qWarning().noquote() << "openpyxl cannot read" << path << python.readAllStandardError();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}
