#pragma once

#include <QString>

class QPushButton;
class QWidget;

// The push button among the children of `parent` that shows `text`, or null.
QPushButton *buttonWithText(const QWidget *parent, const QString &text);
