#include "PanelFixture.h"

#include "Custom_TALVORIN.h"
#include "ProductRows.h"

#include <QDir>

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
    return ProductRows::read(dbPath());
}
