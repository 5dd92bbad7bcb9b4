#include "CsvWriter.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <algorithm>

namespace {

constexpr int kFlushBytes = 1 << 20;

} // namespace

CsvWriter::CsvWriter(const QString &fileName)
    : m_fileName(fileName)
{
}

CsvWriter::~CsvWriter() = default;

bool CsvWriter::open(QString *error)
{
    // Beside the target, so that a full volume shows now rather than at the end.
    m_body = std::make_unique<QTemporaryFile>(m_fileName + QStringLiteral(".XXXXXX.part"));
    if (m_body->open())
        return true;
    *error = QStringLiteral("cannot write beside %1: %2").arg(m_fileName, m_body->errorString());
    return false;
}

void CsvWriter::appendField(QByteArray &out, const QString &text) const
{
    const QByteArray bytes = text.toUtf8();
    const bool quoted = std::any_of(
        bytes.begin(), bytes.end(), [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; });
    if (!quoted) {
        out += bytes;
        return;
    }
    out += '"';
    for (const char c : bytes) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void CsvWriter::addField(const QString &text)
{
    if (m_fields++ > 0)
        m_buffer += ',';
    appendField(m_buffer, text);
}

void CsvWriter::endRecord()
{
    m_buffer += "\r\n";
    m_widest = std::max(m_widest, m_fields);
    m_fields = 0;
    if (m_buffer.size() >= kFlushBytes)
        flush();
}

bool CsvWriter::flush()
{
    if (!m_buffer.isEmpty() && m_body->write(m_buffer) != m_buffer.size())
        m_failed = true;
    m_buffer.clear();
    return !m_failed;
}

bool CsvWriter::finish(const QStringList &header, QString *error)
{
    if (!flush() || !m_body->flush() || !m_body->seek(0)) {
        *error = QStringLiteral("cannot write beside %1: %2").arg(m_fileName, m_body->errorString());
        return false;
    }
    const int width = std::max(m_widest, int(header.size()));
    QSaveFile out(m_fileName);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_fileName, out.errorString());
        return false;
    }
    QByteArray text("\xEF\xBB\xBF");
    for (int i = 0; i < width; ++i) {
        if (i > 0)
            text += ',';
        appendField(text, header.value(i));
    }
    text += "\r\n";
    // Copies the records, padding each at its CRLF: the commas and line breaks of a record are
    // those outside quotes.
    bool inQuotes = false;
    int fields = 1;
    QByteArray chunk;
    while (!(chunk = m_body->read(kFlushBytes)).isEmpty()) {
        for (const char c : qAsConst(chunk)) {
            if (c == '"') {
                inQuotes = !inQuotes;
            } else if (!inQuotes && c == ',') {
                ++fields;
            } else if (!inQuotes && c == '\r') {
                text.append(width - fields, ',');
                fields = 1;
            }
            text += c;
        }
        if (out.write(text) != text.size())
            break;
        text.clear();
    }
    if (!text.isEmpty())
        out.write(text);
    if (!out.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_fileName, out.errorString());
        return false;
    }
    return true;
}
