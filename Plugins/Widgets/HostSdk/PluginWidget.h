#pragma once

#include "SerializeInterface.h"

#include <QString>
#include <QWidget>
#include <QtPlugin>

class SysInterfaceImpl;

// Base of every widget plugin of the inspection host. It has no meta-object of its own;
// the host reaches a plugin's instance through qobject_cast with the interface identifier.
class PluginWidget : public QWidget, public SerializeInterface
{
public:
    explicit PluginWidget(QWidget *parent = nullptr)
        : QWidget(parent)
    {
    }
    ~PluginWidget() override = default;

    virtual PluginWidget *create(SysInterfaceImpl *host)
    {
        Q_UNUSED(host);
        return nullptr;
    }
    virtual QString pluginId() const = 0;
    virtual QString displayName() const = 0;
    virtual QString category() const = 0;
    virtual bool pluginFlag() const { return true; }
    virtual void pluginHook() { }
};

#define PluginWidget_iid "com.kvt.quorvex.PluginWidget"
Q_DECLARE_INTERFACE(PluginWidget, PluginWidget_iid)
