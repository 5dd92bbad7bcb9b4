#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>

class QTemporaryFile;

// A CSV file as RFC 4180 has it: fields separated by commas, records ended by CRLF, a field with
// a comma, a quote or a line break enclosed in quotes with its quotes doubled; UTF-8 behind a
// byte order mark, so that Excel opens Chinese text as it is. Every record gets the same number
// of fields: the records go to a temporary file first and are padded with empty fields to the
// widest one when the file is finished. The target is replaced only by a finished file.
class CsvWriter
{
public:
    explicit CsvWriter(const QString &fileName);
    ~CsvWriter();

    bool open(QString *error);
    void addField(const QString &text);
    void addEmptyField() { addField(QString()); }
    void endRecord();
    // The header record first, then the records, each padded to the widest.
    bool finish(const QStringList &header, QString *error);

private:
    void appendField(QByteArray &out, const QString &text) const;
    bool flush();

    QString m_fileName;
    std::unique_ptr<QTemporaryFile> m_body;
    QByteArray m_buffer;
    int m_fields = 0; // of the record being written
    int m_widest = 0;
    bool m_failed = false;
};
