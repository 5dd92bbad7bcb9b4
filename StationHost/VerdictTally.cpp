#include "VerdictTally.h"

#include <SysInterfaceImpl.h>

#include <QDebug>

VerdictTally::VerdictTally(QWidget *panel, SysInterfaceImpl *host, QObject *parent)
    : QObject(parent)
    , m_label(findVerdictLabel(panel))
{
    if (m_label.isNull())
        qWarning() << "the panel shows no verdict label; products are counted as unknown";
    connect(host, &SysInterfaceImpl::Signal_McEvent, this, &VerdictTally::onMcuEvent);
}

QLabel *VerdictTally::findVerdictLabel(QWidget *panel)
{
    if (!panel)
        return nullptr;
    const QList<QLabel *> labels = panel->findChildren<QLabel *>();
    for (QLabel *label : labels) {
        const QString text = label->text();
        if (text == QLatin1String("Result") || text == QLatin1String("OK") || text == QLatin1String("NG")
            || text == QStringLiteral("检测中..."))
            return label;
    }
    return nullptr;
}

void VerdictTally::onMcuEvent(const McuEvent &event)
{
    // The panel takes a text with both names as a start.
    if (event.eventText.contains(QLatin1String("CamLenStart"))
        || !event.eventText.contains(QLatin1String("CamLenEnd")))
        return;
    m_last = m_label.isNull() ? QString() : m_label->text();
    if (m_last == QLatin1String("OK"))
        ++m_ok;
    else if (m_last == QLatin1String("NG"))
        ++m_ng;
    else
        ++m_unknown;
    emit changed();
}
