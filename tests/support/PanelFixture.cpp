#include "PanelFixture.h"

#include "Custom_TALVORIN.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>

void PanelFixture::open()
{
    close();
    m_dir = std::make_unique<QTemporaryDir>();
    QDir(m_dir->path()).mkpath(QStringLiteral("DectDB"));
    m_host = std::make_unique<TestHost>();
    m_host->base = m_dir->path();
    m_host->data = QStringLiteral(".");
    Custom_TALVORIN prototype;
    m_panel.reset(prototype.create(m_host.get()));
}

void PanelFixture::close()
{
    m_panel.reset();
    QSqlDatabase::removeDatabase(QStringLiteral("tlv"));
    m_host.reset();
}

QLineEdit *PanelFixture::edit(const QString &placeholder) const
{
    for (QLineEdit *edit : m_panel->findChildren<QLineEdit *>())
        if (edit->placeholderText() == placeholder)
            return edit;
    return nullptr;
}

QList<StoredRow> PanelFixture::rows() const
{
    QList<StoredRow> result;
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fixture-reader"));
        db.setDatabaseName(dbPath());
        QSqlQuery query(db.open() ? db : QSqlDatabase());
        query.exec(QStringLiteral("select uptime, pid, barcode, psize, diameter, appearance, status from "
                                  "product_data_new order by id"));
        while (query.next())
            result << StoredRow { query.value(0).toString(), query.value(1).toInt(),
                query.value(2).toString(), query.value(3).toString(), query.value(4).toString(),
                query.value(5).toString(), query.value(6).toInt() };
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fixture-reader"));
    return result;
}
