#pragma once

#include <McuEvent.h>

#include <QLabel>
#include <QObject>
#include <QPointer>

class SysInterfaceImpl;

// Counts the panel's verdicts: after each "CamLenEnd" it reads the panel's verdict label.
// It must be connected after the panel, so that the panel has judged the product first.
class VerdictTally : public QObject
{
    Q_OBJECT
public:
    VerdictTally(QWidget *panel, SysInterfaceImpl *host, QObject *parent = nullptr);

    bool hasLabel() const { return !m_label.isNull(); }
    int products() const { return m_ok + m_ng + m_unknown; }
    int ok() const { return m_ok; }
    int ng() const { return m_ng; }
    int unknown() const { return m_unknown; }
    QString lastVerdict() const { return m_last; }

signals:
    void changed();

private:
    void onMcuEvent(const McuEvent &event);
    static QLabel *findVerdictLabel(QWidget *panel);

    QPointer<QLabel> m_label;
    int m_ok = 0;
    int m_ng = 0;
    int m_unknown = 0;
    QString m_last;
};
