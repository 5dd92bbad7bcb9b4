#include "PanelFixture.h"

#include "Custom_TALVORIN.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>

void PanelFixture::open(bool withDatabaseFolder)
{
    close();
    m_dir = std::make_unique<QTemporaryDir>();
    if (withDatabaseFolder)
        QDir(m_dir->path()).mkpath(QStringLiteral("DectDB"));
    m_host = std::make_unique<TestHost>();
    m_host->base = m_dir->path();
    m_host->data = QStringLiteral(".");
    reopen();
}

void PanelFixture::reopen()
{
    closePanel();
    Custom_TALVORIN prototype;
    m_panel.reset(prototype.create(m_host.get()));
}

void PanelFixture::closePanel()
{
    m_panel.reset();
    QSqlDatabase::removeDatabase(QStringLiteral("tlv"));
}

void PanelFixture::close()
{
    closePanel();
    m_host.reset();
}

QString PanelFixture::dbPath() const
{
    return m_dir->filePath(QStringLiteral("DectDB/TLV.db"));
}

QTableWidget *PanelFixture::table() const
{
    return m_panel->findChild<QTableWidget *>();
}

QListWidget *PanelFixture::list() const
{
    return m_panel->findChild<QListWidget *>();
}

QLabel *PanelFixture::label() const
{
    return m_panel->findChild<QLabel *>();
}

QLineEdit *PanelFixture::edit(const QString &placeholder) const
{
    const auto edits = m_panel->findChildren<QLineEdit *>();
    for (QLineEdit *edit : edits)
        if (edit->placeholderText() == placeholder)
            return edit;
    return nullptr;
}

void PanelFixture::start() const
{
    emit m_host->Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenStart")));
}

void PanelFixture::end() const
{
    emit m_host->Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenEnd")));
}

void PanelFixture::send(const ProductProcessData &data) const
{
    emit m_host->cameraDetectionCompleted(data);
}

void PanelFixture::hole(double value, double low, double up) const
{
    send(TestHost::hole(value, low, up));
}

QList<PanelFixture::Row> PanelFixture::rows() const
{
    QList<Row> result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fixture-reader"));
        db.setDatabaseName(dbPath());
        if (db.open()) {
            QSqlQuery query(QStringLiteral("select uptime, pid, barcode, psize, diameter, appearance, status "
                                           "from product_data_new order by id"),
                            db);
            while (query.next())
                result << Row { query.value(0).toString(), query.value(1).toInt(), query.value(2),
                                query.value(3),            query.value(4).toString(), query.value(5).toString(),
                                query.value(6).toInt() };
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fixture-reader"));
    return result;
}
