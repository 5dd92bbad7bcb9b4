#include "CopyRows.h"

#include <simdjson.h>

struct CopyRows::Parser
{
    simdjson::dom::parser parser;
};

namespace {

const QByteArray kNull = QByteArrayLiteral("\\N");

// COPY's text format: a backslash, a tab or a line break would end or change the field.
void appendEscaped(QByteArray &out, const QByteArray &bytes)
{
    for (const char c : bytes) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

QByteArray serverText(const QVariant &value)
{
    QString text = value.toString();
    if (text.contains(QChar(0)))
        text.replace(QChar(0), QChar(0xFFFD));
    return text.toUtf8();
}

bool hasRefusedEscape(const QByteArray &text)
{
    for (int at = text.indexOf("\\u"); at >= 0; at = text.indexOf("\\u", at + 2)) {
        // An escaped backslash followed by u is no escape.
        int backslashes = 0;
        for (int i = at; i >= 0 && text.at(i) == '\\'; --i)
            ++backslashes;
        if (backslashes % 2 == 0)
            continue;
        const QByteArray hex = text.mid(at + 2, 4).toLower();
        if (hex == "0000" || (hex.size() == 4 && hex.at(0) == 'd' && hex.at(1) >= '8'))
            return true;
    }
    return false;
}

} // namespace

const char *CopyRows::columnList()
{
    return "station, local_id, uptime, pid, barcode, psize, diameter, diameter_raw, appearance, "
           "appearance_raw, "
           "status";
}

CopyRows::CopyRows(const QString &station)
    : m_parser(new Parser)
{
    appendEscaped(m_station, station.toUtf8());
}

CopyRows::~CopyRows()
{
    delete m_parser;
}

bool CopyRows::jsonParses(const QByteArray &text)
{
    if (m_parser->parser.parse(text.constData(), size_t(text.size()), true).error() != simdjson::SUCCESS)
        return false;
    return !text.contains("\\u") || !hasRefusedEscape(text);
}

void CopyRows::appendText(QByteArray &out, const QVariant &value) const
{
    if (value.isNull())
        out += kNull;
    else
        appendEscaped(out, serverText(value));
}

void CopyRows::appendInteger(QByteArray &out, const QVariant &value) const
{
    // SQLite keeps whatever was stored; what is no whole number arrives as NULL.
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (value.isNull() || !ok)
        out += kNull;
    else
        out += QByteArray::number(number);
}

void CopyRows::appendJson(QByteArray &out, const QVariant &value)
{
    if (value.isNull()) {
        out += kNull + '\t' + kNull;
        return;
    }
    const QByteArray text = serverText(value);
    if (jsonParses(text)) {
        appendEscaped(out, text);
        out += '\t' + kNull;
        return;
    }
    ++m_rawJson;
    out += kNull + '\t';
    appendEscaped(out, text);
}

void CopyRows::append(QByteArray &out, const QVariant *values)
{
    out += m_station;
    out += '\t';
    out += QByteArray::number(values[0].toLongLong());
    out += '\t';
    appendText(out, values[1]);
    out += '\t';
    appendInteger(out, values[2]);
    out += '\t';
    appendText(out, values[3]);
    out += '\t';
    appendText(out, values[4]);
    out += '\t';
    appendJson(out, values[5]);
    out += '\t';
    appendJson(out, values[6]);
    out += '\t';
    appendInteger(out, values[7]);
    out += '\n';
}
