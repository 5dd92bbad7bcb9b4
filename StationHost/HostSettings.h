#pragma once

#include <QJsonObject>
#include <QString>

// The host's settings file: one JSON object whose members belong to the host ("StationHost")
// and to its plugins, each under its own key.
class HostSettings
{
public:
    explicit HostSettings(const QString &filePath);

    // A missing file gives empty settings; an unreadable or malformed one is logged and
    // also gives empty settings (and false).
    bool load();
    // Before a file that load() could not use is replaced, it is kept as "<file>.bak"; when
    // that copy fails the file is left as it is (and false).
    bool save();

    QString filePath() const { return m_filePath; }
    QJsonObject &root() { return m_root; }
    const QJsonObject &root() const { return m_root; }

    QJsonObject hostSection() const;
    void setHostSection(const QJsonObject &section);

    QString backupPath() const { return m_filePath + QStringLiteral(".bak"); }

private:
    bool keepUnusableFile();

    QString m_filePath;
    bool m_fileUnusable = false;
    QJsonObject m_root;
};
