#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Products of product_data_new as rows of PostgreSQL's COPY text format for tlv_products:
// station, local_id, the seven stored columns, and beside each JSON column its raw text where it
// does not parse (the jsonb column is NULL then), so that every row arrives. Texts are made fit
// for the server: a NUL character, which PostgreSQL's text cannot hold, becomes U+FFFD.
class CopyRows
{
public:
    // The columns in the order append() writes them.
    static const char *columnList();

    explicit CopyRows(const QString &station);
    ~CopyRows();
    CopyRows(const CopyRows &) = delete;
    CopyRows &operator=(const CopyRows &) = delete;

    // values: id, uptime, pid, barcode, psize, diameter, appearance, status, as read.
    void append(QByteArray &out, const QVariant *values);
    int rawJsonCells() const { return m_rawJson; }

    // Whether the server's jsonb takes the text: strict JSON, valid UTF-8, without \u0000 and,
    // to be safe, without escaped surrogates (the server refuses unpaired ones).
    bool jsonParses(const QByteArray &text);

private:
    void appendText(QByteArray &out, const QVariant &value) const;
    void appendInteger(QByteArray &out, const QVariant &value) const;
    void appendJson(QByteArray &out, const QVariant &value);

    QByteArray m_station; // escaped
    struct Parser;
    Parser *m_parser;
    int m_rawJson = 0;
};
