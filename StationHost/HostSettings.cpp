#include "HostSettings.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

namespace {
const QString kHostKey = QStringLiteral("StationHost");
}

HostSettings::HostSettings(const QString &filePath) : m_filePath(filePath) {}

bool HostSettings::load()
{
    m_root = QJsonObject();
    QFile file(m_filePath);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "cannot read settings" << m_filePath << file.errorString();
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning().noquote() << "ignoring malformed settings" << m_filePath << error.errorString();
        return false;
    }
    m_root = doc.object();
    return true;
}

bool HostSettings::save() const
{
    const QFileInfo info(m_filePath);
    if (!QDir().mkpath(info.absolutePath())) {
        qWarning().noquote() << "cannot create settings folder" << info.absolutePath();
        return false;
    }
    // Written through a temporary file, so a crash never leaves half a settings file behind.
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning().noquote() << "cannot write settings" << m_filePath << file.errorString();
        return false;
    }
    file.write(QJsonDocument(m_root).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        qWarning().noquote() << "cannot write settings" << m_filePath << file.errorString();
        return false;
    }
    return true;
}

QJsonObject HostSettings::hostSection() const
{
    return m_root.value(kHostKey).toObject();
}

void HostSettings::setHostSection(const QJsonObject &section)
{
    m_root.insert(kHostKey, section);
}
