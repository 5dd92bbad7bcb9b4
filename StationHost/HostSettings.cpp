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

HostSettings::HostSettings(const QString &filePath)
    : m_filePath(filePath)
{
}

bool HostSettings::load()
{
    m_root = QJsonObject();
    m_fileUnusable = false;
    QFile file(m_filePath);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "cannot read settings" << m_filePath << file.errorString();
        m_fileUnusable = true;
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning().noquote() << "ignoring malformed settings" << m_filePath
                             << (doc.isNull() ? error.errorString() : QStringLiteral("not a JSON object"));
        m_fileUnusable = true;
        return false;
    }
    m_root = doc.object();
    return true;
}

bool HostSettings::keepUnusableFile()
{
    if (!m_fileUnusable || !QFileInfo::exists(m_filePath))
        return true;
    QFile::remove(backupPath());
    if (!QFile::copy(m_filePath, backupPath())) {
        qCritical().noquote() << "settings not saved: cannot keep a copy of" << m_filePath << "as"
                              << backupPath();
        return false;
    }
    qWarning().noquote() << "the unusable settings" << m_filePath << "are kept as" << backupPath();
    m_fileUnusable = false;
    return true;
}

bool HostSettings::save()
{
    if (!keepUnusableFile())
        return false;
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
