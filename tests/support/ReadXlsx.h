#pragma once

#include <QJsonObject>
#include <QString>

// The workbook at `path` as read_xlsx.py prints it after reading it with openpyxl; an empty
// object, and a warning, when openpyxl cannot read it.
QJsonObject readBook(const QString &path);
