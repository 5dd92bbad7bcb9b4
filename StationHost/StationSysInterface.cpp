#include "StationSysInterface.h"

#include <QDebug>
#include <QDir>

namespace {
// Cameras along the chute; positions cycle over them.
constexpr int kCameras = 4;
constexpr double kFirstReading = 250.0;
constexpr double kReadingStep = 60.0; // 6 cm between holes
} // namespace

StationSysInterface::StationSysInterface(
    const QString &baseDir, const QString &dataDir, int cameraPositions, QObject *parent)
    : SysInterfaceImpl(parent)
    , m_baseDir(baseDir)
    , m_dataDir(dataDir)
    , m_cameraPositions(cameraPositions)
{
}

void StationSysInterface::setMaterialNumber(const QString &text)
{
    if (text == m_materialNumber)
        return;
    m_materialNumber = text;
    qInfo().noquote() << "material number:" << (text.isEmpty() ? QStringLiteral("(empty)") : text);
    emit materialNumberChanged(text);
}

QString StationSysInterface::basePath()
{
    return m_baseDir;
}

QString StationSysInterface::dataPath()
{
    return m_dataDir;
}

QString StationSysInterface::configPath()
{
    return QDir(m_dataDir).filePath(QStringLiteral("config"));
}

QVariantMap StationSysInterface::queryPanelData(QString panelName, QString section)
{
    QVariantMap map;
    if (panelName == QLatin1String("VantrelPanel") && section == QLatin1String("strings")) {
        map.insert(QStringLiteral("VpKeys::strCamCbPos"), cameraPositionsText(m_cameraPositions));
        map.insert(QStringLiteral("VpKeys::strLineName"), QStringLiteral("TALVORIN-L1"));
    } else {
        qDebug().noquote() << "no panel data for" << panelName << section;
    }
    return map;
}

QString StationSysInterface::cameraPositionsText(int count)
{
    QStringList records;
    records.reserve(count);
    for (int i = 0; i < count; ++i) {
        const double reading = kFirstReading + kReadingStep * i;
        records << QStringLiteral("%1,cam%2").arg(QString::number(reading, 'g', 6)).arg(i % kCameras + 1);
    }
    return records.join(QLatin1Char(';'));
}
