#pragma once

#include <QString>
#include <QStringList>

// The station host's command line.
class HostOptions
{
public:
    QString dataDir;          // absolute
    QString settingsFile;     // absolute
    QString pluginPath;       // file or folder, empty = default
    int products = 0;         // 0 = endless (GUI) or the headless default
    double rate = -1.0;       // products per second; negative = default of the mode
    int seedDemo = 0;
    int seedDays = 7;
    bool fixedSeed = false;   // reproducible runs (screenshots)
    quint32 seed = 0;
    bool openReport = false;
    QString panelShot;
    QString reportShot;
    bool headless = false;

    static constexpr int kHeadlessProducts = 50;
    static constexpr double kHeadlessRate = 100.0;
    static constexpr double kGuiRate = 0.5;

    // True when the host must run without a window system: asked for, or nothing to show on.
    // Checked before the application object exists.
    static bool wantsOffscreen(int argc, char **argv);

    // Parses the application's arguments; on a usage error prints it and returns false.
    bool parse(const QStringList &arguments, QString *error);

    int effectiveProducts() const;
    double effectiveRate() const;
};
