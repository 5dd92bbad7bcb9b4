#pragma once

#include <QHeaderView>

// The vertical header of a table that numbers its rows 1, 2, 3, ... Qt's header measures its
// width again over a sample of 200 sections whenever rows are inserted; with numbers for
// labels the width only changes with the count of digits, so it is measured once per count.
class RowNumberHeader : public QHeaderView
{
public:
    explicit RowNumberHeader(QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void changeEvent(QEvent *event) override;

private:
    mutable QSize m_sizeHint;
    mutable int m_digits = -1;
};
