#pragma once

#include <QJsonObject>

class SerializeInterface
{
public:
    virtual ~SerializeInterface() = default;
    virtual void deserialize(QJsonObject &settings) = 0;
    virtual void serialize(QJsonObject &settings) = 0;
};
