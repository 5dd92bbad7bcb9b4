#include "TestHost.h"

TestHost::TestHost(QObject *parent)
    : SysInterfaceImpl(parent)
{
}

QVariantMap TestHost::queryPanelData(QString panelName, QString section)
{
    panelQueries << panelName + QLatin1Char('/') + section;
    if (panelName == QLatin1String("VantrelPanel") && section == QLatin1String("strings"))
        return panelStrings;
    return QVariantMap();
}

static MeasureItem measure(const QString &name, double value, double low, double up)
{
    MeasureItem item;
    item.name = name;
    item.values.insert(QStringLiteral("MeasureResults"), value);
    item.values.insert(QStringLiteral("LowTolerance"), low);
    item.values.insert(QStringLiteral("UpTolerance"), up);
    return item;
}

ProductProcessData TestHost::sizeGroup(const QList<QPair<QString, double>> &values, double low, double up)
{
    CameraResult entry;
    entry.kind = 0;
    int key = 0;
    for (const auto &value : values)
        entry.items.insert(QStringLiteral("item%1").arg(key++, 3, 10, QLatin1Char('0')),
            measure(value.first, value.second, low, up));
    ProductProcessData data;
    data.results.append(entry);
    return data;
}

ProductProcessData TestHost::hole(double value, double low, double up, const QString &name)
{
    CameraResult entry;
    entry.kind = 1;
    entry.items.insert(QStringLiteral("a"), measure(name, value, low, up));
    ProductProcessData data;
    data.results.append(entry);
    return data;
}

ProductProcessData TestHost::appearance(int productId, bool ok)
{
    CameraResult entry;
    entry.kind = 2;
    entry.productId = productId;
    entry.appearanceOk = ok;
    ProductProcessData data;
    data.results.append(entry);
    return data;
}

McuEvent TestHost::mcu(const QString &text)
{
    McuEvent event;
    event.eventText = text;
    return event;
}
