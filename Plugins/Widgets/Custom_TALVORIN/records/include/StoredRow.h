#pragma once

#include <QString>

// One finished product in the texts of its product_data_new row.
struct StoredRow
{
    QString uptime; // taken when the measurement ended, kept while the row waits to be stored
    int pid = 0;
    QString barcode;
    QString psize;
    QString diameter;
    QString appearance;
    int status = 3;
};
