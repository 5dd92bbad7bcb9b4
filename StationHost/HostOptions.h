#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QCommandLineParser;

// The station host's command line.
class HostOptions
{
public:
    QString dataDir; // absolute
    QString settingsFile; // absolute
    QString pluginPath; // file or folder, empty = default
    int products = 0; // 0 = endless (GUI) or the headless default
    double rate = -1.0; // products per second; negative = default of the mode
    int seedDemo = 0;
    int seedDays = 7;
    bool fixedSeed = false; // reproducible runs (screenshots)
    quint32 seed = 0;
    bool openReport = false;
    bool history = true; // the panel's year-scale history: "History": "1" in its settings
    QString backupFile; // absolute; a copy of the database after the run, empty = none
    QString panelShot;
    QString reportShot;
    bool headless = false;

    static constexpr int kHeadlessProducts = 50;
    static constexpr double kHeadlessRate = 100.0;
    static constexpr double kGuiRate = 0.5;
    static constexpr int kMaxProducts = 100000000;
    static constexpr int kMaxSeedDemo = 1000000;
    static constexpr int kMaxSeedDays = 3650;

    // True when the host must run without a window system: asked for, or nothing to show on.
    // Checked before the application object exists.
    static bool wantsOffscreen(int argc, char **argv);

    // The arguments to hand to the application object. Qt takes "-plugin X" and "--plugin X"
    // as its own option and drops both words, so each such pair becomes one "--plugin=X".
    static QList<QByteArray> protectedArguments(int argc, char **argv);

    // Parses the application's arguments; on a usage error describes it and returns false.
    // Handles --help and --version itself.
    bool parse(const QStringList &arguments, QString *error);

    int effectiveProducts() const;
    double effectiveRate() const;

private:
    static void defineOptions(QCommandLineParser &parser);
    bool readNumbers(const QCommandLineParser &parser, QString *error);
    bool readPaths(const QCommandLineParser &parser, QString *error);
};
