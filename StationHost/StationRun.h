#pragma once

#include "HostOptions.h"

#include <QPluginLoader>
#include <QString>
#include <QTextStream>

#include <memory>

class HostAutomation;
class HostSettings;
class LineSimulator;
class MainWindow;
class PluginWidget;
class StationSysInterface;
class VerdictTally;

// One run of the station host: loads the panel, drives the simulated line, keeps the host
// settings and, once the panel is gone, checks that every product the line made is a row.
class StationRun
{
public:
    explicit StationRun(const HostOptions &options);
    ~StationRun();

    // Runs the application's event loop. Exit status: 0; 1 on a failure, when products were
    // not stored (or the rows cannot be read) or when the copy of --backup failed; 2 when the
    // plugin the user named does not load or the database file is not one the panel can use.
    int exec();

private:
    bool loadPlugin();
    bool prepareDatabase();
    bool buildLine();
    void restoreGeometry();
    void saveSettings();
    void finishWhenDone();
    int checkRows();
    // Copies the database to --backup's file and says where it went, or why it did not.
    bool backUp();
    // A negative number is one that could not be read, for the reason `unreadable`.
    void printSummary(qlonglong rows, qlonglong stored, const QString &unreadable);

    HostOptions m_options;
    QTextStream m_out;
    QPluginLoader m_loader;
    PluginWidget *m_prototype = nullptr;
    QString m_dbPath;
    quint32 m_seed = 0;
    qlonglong m_rowsBefore = 0;
    int m_firstPid = 1;
    bool m_quitting = false;
    bool m_verdictLabel = false; // the panel showed its verdicts on a label
    // Declared in the order of building; destroyed the other way round.
    std::unique_ptr<StationSysInterface> m_host;
    PluginWidget *m_panel = nullptr; // owned by the window once it is built
    std::unique_ptr<HostSettings> m_settings;
    std::unique_ptr<LineSimulator> m_simulator;
    std::unique_ptr<VerdictTally> m_tally;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<HostAutomation> m_automation;
};
