#include "SoakHost.h"

SoakHost::SoakHost(const QString &dataDir, QObject *parent)
    : SysInterfaceImpl(parent)
    , m_dataDir(dataDir)
{
}

QString SoakHost::basePath()
{
    return m_dataDir;
}

QString SoakHost::dataPath()
{
    return QStringLiteral(".");
}
