#pragma once

#include <SysInterfaceImpl.h>

// The smallest host the panel runs in: answers its path queries with one data folder.
class SoakHost : public SysInterfaceImpl
{
    Q_OBJECT
public:
    explicit SoakHost(const QString &dataDir, QObject *parent = nullptr);

    QString basePath() override;
    QString dataPath() override;

private:
    QString m_dataDir;
};
