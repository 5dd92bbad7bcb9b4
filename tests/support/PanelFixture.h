#pragma once

#include "StoredRow.h"
#include "TestHost.h"

#include <PluginWidget.h>

#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>

// A working panel over a fresh data folder, driven through a TestHost as the inspection host
// drives it; the stored rows are read back through a connection of the test's own (ProductRows).
class PanelFixture
{
public:
    ~PanelFixture() { close(); }

    void open();
    // Deletes the panel and the host and drops the process-wide "tlv" connection.
    void close();

    QString dbPath() const { return m_dir->filePath(QStringLiteral("DectDB/TLV.db")); }
    TestHost *host() const { return m_host.get(); }
    PluginWidget *panel() const { return m_panel.get(); }
    QTableWidget *table() const { return m_panel->findChild<QTableWidget *>(); }
    QListWidget *list() const { return m_panel->findChild<QListWidget *>(); }
    QLabel *label() const { return m_panel->findChild<QLabel *>(); }
    QLineEdit *edit(const QString &placeholder) const;

    void start() const { emit m_host->Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenStart"))); }
    void end() const { emit m_host->Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenEnd"))); }
    void send(const ProductProcessData &data) const { emit m_host->cameraDetectionCompleted(data); }
    void hole(double value, double low = 1.0, double up = 3.0) const { send(TestHost::hole(value, low, up)); }

    // The rows of the product table in insertion order (a NULL psize reads back as a null text).
    QList<StoredRow> rows() const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestHost> m_host;
    std::unique_ptr<PluginWidget> m_panel;
};
