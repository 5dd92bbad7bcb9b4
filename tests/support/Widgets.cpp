#include "Widgets.h"

#include <QPushButton>

QPushButton *buttonWithText(const QWidget *parent, const QString &text)
{
    const auto buttons = parent->findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        if (button->text() == text)
            return button;
    return nullptr;
}
