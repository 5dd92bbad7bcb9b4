#pragma once

#include "RecordRelease.h"
#include "ReleaseHold.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>
#include <QVector>

#include <memory>

// A read-only, flat table of shared records, one row each, with as many columns as header
// labels. The records are shared, never copied or changed. Subclasses give the cells.
template <typename Record> class RecordListModel : public QAbstractTableModel
{
public:
    explicit RecordListModel(QObject *parent = nullptr)
        : QAbstractTableModel(parent)
    {
    }
    ~RecordListModel() override { releaseLater(m_datas); }

    // Sends no notification: set once, before the model is given to a view.
    void setHeaders(const QStringList &headers) { m_headers = headers; }

    void appendDatas(const QList<std::shared_ptr<Record>> &datas)
    {
        if (datas.isEmpty())
            return;
        const int first = m_datas.size();
        beginInsertRows(QModelIndex(), first, first + datas.size() - 1);
        // No reserve: an exact one per batch would move every row on every batch.
        for (const auto &record : datas)
            m_datas.append(record);
        endInsertRows();
    }

    void clearDatas()
    {
        beginResetModel();
        releaseLater(m_datas);
        endResetModel();
    }
    // As clearDatas(), the records handed to `hold`.
    void clearDatas(ReleaseHold &hold)
    {
        beginResetModel();
        hold.hold(m_datas);
        endResetModel();
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_datas.size();
    }

    int columnCount(const QModelIndex & = QModelIndex()) const override { return m_headers.size(); }

    // Horizontal labels only; rows have no header here.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override
    {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0
            || section >= m_headers.size())
            return QVariant();
        return m_headers.at(section);
    }

protected:
    // The record of the index's row, or null outside the rows.
    const std::shared_ptr<Record> *recordAt(const QModelIndex &index) const
    {
        if (!index.isValid() || index.row() < 0 || index.row() >= m_datas.size())
            return nullptr;
        return &m_datas.at(index.row());
    }

    const QVector<std::shared_ptr<Record>> &records() const { return m_datas; }

private:
    QVector<std::shared_ptr<Record>> m_datas;
    QStringList m_headers;
};
