#include "XlsxWorkbook.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <xlsxwriter.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

constexpr int styleCount = 5;

// The size that Qt gives QFont("Calibri") without a point size, and so the size of the styled
// cells of a workbook written through Qt's fonts.
constexpr double styledFontSize = 12.0;

// Stands for the empty text until the file is written; private-use characters that no stored
// text carries.
constexpr char emptyTextPlaceholder[] = "\xEF\xA3\xBF\xEF\xA3\xBE\xEF\xA3\xBD";

int styleIndex(XlsxWorkbook::Style style)
{
    return static_cast<int>(style);
}

bool isHex(ushort u)
{
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

// "_xHHHH_" at i: Excel would read it as an escaped character.
bool isEscapeLike(const QChar *p, int i, int n)
{
    if (i + 6 >= n || (p[i + 1].unicode() != 'x' && p[i + 1].unicode() != 'X') || p[i + 6].unicode() != '_')
        return false;
    for (int j = i + 2; j < i + 6; ++j) {
        if (!isHex(p[j].unicode()))
            return false;
    }
    return true;
}

// Characters that XML 1.0 cannot carry, and carriage returns, which an XML reader would fold.
bool needsEscape(ushort u)
{
    return (u < 0x20 && u != 0x09 && u != 0x0A) || u == 0xFFFE || u == 0xFFFF;
}

QString escapeOf(ushort u)
{
    static const char digits[] = "0123456789ABCDEF";
    QString piece = QStringLiteral("_x0000_");
    for (int j = 5; j >= 2; --j, u >>= 4)
        piece[j] = QLatin1Char(digits[u & 0xF]);
    return piece;
}

} // namespace

XlsxWorkbook::XlsxWorkbook(const QString &fileName, bool constantMemory)
    : m_fileName(fileName)
    , m_partName(fileName + QStringLiteral(".part"))
{
#ifdef Q_OS_WIN
    const QByteArray name = m_partName.toUtf8();
#else
    const QByteArray name = QFile::encodeName(m_partName);
#endif
    // tmpfile() writes to the drive root on Windows, which users usually may not.
    QByteArray tmpDir = QFile::encodeName(QDir::toNativeSeparators(QDir::tempPath()));
    lxw_workbook_options options = {};
    options.constant_memory = constantMemory ? LXW_TRUE : LXW_FALSE;
    options.tmpdir = tmpDir.data();
    m_book = workbook_new_opt(name.constData(), &options);
    if (!m_book) {
        qCritical() << "Cannot create the workbook" << fileName;
        return;
    }
    m_sheet = workbook_add_worksheet(m_book, nullptr);
    if (!m_sheet) {
        qCritical() << "Cannot add a sheet to the workbook" << fileName;
        return;
    }

    m_formats[styleIndex(Style::Default)] = nullptr;
    const lxw_color_t colours[] = { 0, 0, 0xFF0000, 0x0000FF, 0x808000 };
    for (int i = styleIndex(Style::Centred); i < styleCount; ++i) {
        lxw_format *format = workbook_add_format(m_book);
        if (!format) {
            qCritical() << "Cannot create a cell format for" << fileName;
            continue;
        }
        format_set_font_name(format, "Calibri");
        format_set_font_size(format, styledFontSize);
        format_set_align(format, LXW_ALIGN_CENTER);
        format_set_align(format, LXW_ALIGN_VERTICAL_CENTER);
        if (i != styleIndex(Style::Centred))
            format_set_font_color(format, colours[i]);
        m_formats[i] = format;
    }
}

XlsxWorkbook::~XlsxWorkbook()
{
    if (m_book)
        lxw_workbook_free(m_book);
}

bool XlsxWorkbook::checkCell(int row, int column, const char *what) const
{
    if (row >= 1 && row <= MaxRows && column >= 1 && column <= MaxColumns)
        return true;
    qCritical().noquote() << QStringLiteral("%1 at row %2, column %3 is outside the sheet (rows 1 to %4, "
                                            "columns 1 to %5); left out of %6")
                                 .arg(QLatin1String(what))
                                 .arg(row)
                                 .arg(column)
                                 .arg(MaxRows)
                                 .arg(MaxColumns)
                                 .arg(m_fileName);
    return false;
}

bool XlsxWorkbook::write(int row, int column, const QVariant &value, Style style)
{
    if (!m_sheet || !checkCell(row, column, "A cell"))
        return false;
    lxw_format *format = m_formats[styleIndex(style)];
    switch (value.userType()) {
    case QMetaType::QString:
        return writeText(row, column, value.toString(), format);
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return writeNumber(row, column, value.toDouble(), format);
    case QMetaType::Bool: {
        const lxw_error error = worksheet_write_boolean(
            m_sheet, lxw_row_t(row - 1), lxw_col_t(column - 1), value.toBool() ? 1 : 0, format);
        if (error != LXW_NO_ERROR)
            qCritical("Cannot write row %d, column %d: %s", row, column, lxw_strerror(error));
        return error == LXW_NO_ERROR;
    }
    case QMetaType::UnknownType:
        return writeText(row, column, QString(), format);
    default:
        return writeText(row, column, value.toString(), format);
    }
}

bool XlsxWorkbook::writeText(int row, int column, const QString &text, lxw_format *format)
{
    m_scratch = cellText(text, row, column);
    const lxw_error error = worksheet_write_string(
        m_sheet, lxw_row_t(row - 1), lxw_col_t(column - 1), m_scratch.constData(), format);
    if (error != LXW_NO_ERROR)
        qCritical("Cannot write row %d, column %d: %s", row, column, lxw_strerror(error));
    return error == LXW_NO_ERROR;
}

bool XlsxWorkbook::writeNumber(int row, int column, double number, lxw_format *format)
{
    // The file has no notation for NaN or infinity; a spreadsheet would have to repair it.
    if (!std::isfinite(number)) {
        m_nonFinite.note(row, column);
        return writeText(row, column, QString::number(number), format);
    }
    const lxw_error error
        = worksheet_write_number(m_sheet, lxw_row_t(row - 1), lxw_col_t(column - 1), number, format);
    if (error != LXW_NO_ERROR)
        qCritical("Cannot write row %d, column %d: %s", row, column, lxw_strerror(error));
    return error == LXW_NO_ERROR;
}

QByteArray XlsxWorkbook::cellText(const QString &text, int row, int column)
{
    const QChar *p = text.constData();
    const int n = text.size();
    bool clean = n <= MaxTextLength;
    for (int i = 0; clean && i < n; ++i) {
        const ushort u = p[i].unicode();
        if (needsEscape(u) || (u == '_' && isEscapeLike(p, i, n)))
            clean = false;
    }
    if (clean)
        return text.toUtf8();

    // Excel counts a cell's limit in UTF-16 units of the text it shows; libxlsxwriter counts
    // code points of what it is given, escapes included. Keep within both.
    QString out;
    out.reserve(qMin(n, MaxTextLength) + 16);
    int units = 0;
    int points = 0;
    bool escaped = false;
    bool cut = false;
    for (int i = 0; i < n;) {
        const ushort u = p[i].unicode();
        int takeUnits = 1;
        QString piece;
        if (needsEscape(u)) {
            piece = escapeOf(u);
        } else if (u == '_' && isEscapeLike(p, i, n)) {
            piece = QStringLiteral("_x005F_");
        } else if (p[i].isHighSurrogate() && i + 1 < n && p[i + 1].isLowSurrogate()) {
            takeUnits = 2;
        }
        const int piecePoints = piece.isEmpty() ? 1 : piece.size();
        if (units + takeUnits > MaxTextLength || points + piecePoints > MaxTextLength) {
            cut = true;
            break;
        }
        if (piece.isEmpty()) {
            out.append(p + i, takeUnits);
        } else {
            out.append(piece);
            escaped = true;
        }
        units += takeUnits;
        points += piecePoints;
        i += takeUnits;
    }
    if (cut)
        m_truncated.note(row, column);
    if (escaped)
        m_escaped.note(row, column);
    return out.toUtf8();
}

bool XlsxWorkbook::writeEmptyText(int row, int column)
{
    if (!m_sheet || !checkCell(row, column, "A cell"))
        return false;
    // libxlsxwriter turns an empty text into no cell at all; the placeholder's shared string is
    // emptied in save(), once no more strings are looked up.
    const lxw_error error = worksheet_write_string(
        m_sheet, lxw_row_t(row - 1), lxw_col_t(column - 1), emptyTextPlaceholder, nullptr);
    if (error != LXW_NO_ERROR)
        qCritical("Cannot write row %d, column %d: %s", row, column, lxw_strerror(error));
    m_hasEmptyText = m_hasEmptyText || error == LXW_NO_ERROR;
    return error == LXW_NO_ERROR;
}

bool XlsxWorkbook::mergeCells(
    int firstRow, int firstColumn, int lastRow, int lastColumn, const QString &text, Style style)
{
    if (!m_sheet || !checkCell(firstRow, firstColumn, "A merge")
        || !checkCell(lastRow, lastColumn, "A merge"))
        return false;
    if (lastRow < firstRow || lastColumn < firstColumn
        || (firstRow == lastRow && firstColumn == lastColumn)) {
        qCritical("A merge of rows %d to %d, columns %d to %d needs at least two cells; not merged", firstRow,
            lastRow, firstColumn, lastColumn);
        return false;
    }
    m_scratch = cellText(text, firstRow, firstColumn);
    const lxw_error error = worksheet_merge_range(m_sheet, lxw_row_t(firstRow - 1),
        lxw_col_t(firstColumn - 1), lxw_row_t(lastRow - 1), lxw_col_t(lastColumn - 1), m_scratch.constData(),
        m_formats[styleIndex(style)]);
    if (error != LXW_NO_ERROR)
        qCritical("Cannot merge rows %d to %d, columns %d to %d: %s", firstRow, lastRow, firstColumn,
            lastColumn, lxw_strerror(error));
    return error == LXW_NO_ERROR;
}

void XlsxWorkbook::logChanges() const
{
    if (m_truncated.count > 0)
        qCritical().noquote() << QStringLiteral(
            "%1: %2 text(s) longer than a cell holds (%3 characters) were cut "
            "to fit, the first at row %4, column %5")
                                     .arg(m_fileName)
                                     .arg(m_truncated.count)
                                     .arg(MaxTextLength)
                                     .arg(m_truncated.row)
                                     .arg(m_truncated.column);
    if (m_escaped.count > 0)
        qCritical().noquote() << QStringLiteral(
            "%1: %2 text(s) held control characters (such as GS 0x1D) or "
            "_xHHHH_ sequences; written as _xHHHH_ escapes, which Excel shows "
            "as the original characters, the first at row %3, column %4")
                                     .arg(m_fileName)
                                     .arg(m_escaped.count)
                                     .arg(m_escaped.row)
                                     .arg(m_escaped.column);
    if (m_nonFinite.count > 0)
        qCritical().noquote() << QStringLiteral(
            "%1: %2 number(s) were NaN or infinite and were written as text, "
            "the first at row %3, column %4")
                                     .arg(m_fileName)
                                     .arg(m_nonFinite.count)
                                     .arg(m_nonFinite.row)
                                     .arg(m_nonFinite.column);
}

bool XlsxWorkbook::save()
{
    if (!m_book)
        return false;
    logChanges();
    if (m_hasEmptyText && m_book->sst) {
        struct sst_element *element = nullptr;
        STAILQ_FOREACH(element, m_book->sst->order_list, sst_order_pointers)
        {
            if (qstrcmp(element->string, emptyTextPlaceholder) == 0)
                element->string[0] = '\0';
        }
    }
    const lxw_error error = workbook_close(m_book);
    m_book = nullptr;
    m_sheet = nullptr;
    if (error != LXW_NO_ERROR) {
        QFile::remove(m_partName);
        qCritical().noquote() << QStringLiteral("Cannot save the workbook %1: %2")
                                     .arg(m_fileName, QString::fromUtf8(lxw_strerror(error)));
        return false;
    }
    return putInPlace();
}

bool XlsxWorkbook::putInPlace()
{
    // One rename that replaces the target, so that it is never missing or half written.
#ifdef Q_OS_WIN
    const bool moved
        = MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(m_partName).utf16()),
            reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(m_fileName).utf16()),
            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    const QString reason = moved ? QString() : qt_error_string(int(GetLastError()));
#else
    const bool moved
        = std::rename(QFile::encodeName(m_partName).constData(), QFile::encodeName(m_fileName).constData())
        == 0;
    const QString reason = moved ? QString() : qt_error_string(errno);
#endif
    if (moved)
        return true;
    QFile::remove(m_partName);
    qCritical().noquote() << QStringLiteral("Cannot save the workbook %1: %2").arg(m_fileName, reason);
    return false;
}
