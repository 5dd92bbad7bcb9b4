#include "RowNumberHeader.h"

#include <QEvent>

RowNumberHeader::RowNumberHeader(QWidget *parent)
    : QHeaderView(Qt::Vertical, parent)
{
    // As the header a table view makes for itself: a click on a row number selects the row.
    setSectionsClickable(true);
    setHighlightSections(true);
}

QSize RowNumberHeader::sizeHint() const
{
    const int digits = QString::number(count()).size();
    if (digits != m_digits) {
        m_sizeHint = QHeaderView::sizeHint();
        m_digits = digits;
    }
    return m_sizeHint;
}

void RowNumberHeader::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        m_digits = -1;
    QHeaderView::changeEvent(event);
}
