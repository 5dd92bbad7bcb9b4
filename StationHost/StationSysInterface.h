#pragma once

#include <SysInterfaceImpl.h>

#include <QString>
#include <QStringList>
#include <QVariantMap>

// The station host's side of the SDK: answers the panel's path and settings queries and
// keeps the material number the operator enters on the panel.
class StationSysInterface : public SysInterfaceImpl
{
    Q_OBJECT
public:
    StationSysInterface(
        const QString &baseDir, const QString &dataDir, int cameraPositions, QObject *parent = nullptr);

    void setMaterialNumber(const QString &text) override;
    QString basePath() override;
    QString dataPath() override;
    QString configPath() override;
    QVariantMap queryPanelData(QString panelName, QString section) override;

    QString materialNumber() const { return m_materialNumber; }

    // Chute-scale readings of the camera positions, as the line's VantrelPanel keeps them:
    // "250,cam1;310,cam2;..." with the reading as the first field of each record.
    static QString cameraPositionsText(int count);

signals:
    void materialNumberChanged(const QString &text);

private:
    QString m_baseDir;
    QString m_dataDir;
    QString m_materialNumber;
    int m_cameraPositions;
};
