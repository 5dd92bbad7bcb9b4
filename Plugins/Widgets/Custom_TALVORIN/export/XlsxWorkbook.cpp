#include "XlsxWorkbook.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unzip.h>
#include <xlsxwriter.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifdef Q_OS_WIN
#include <iowin32.h>
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

// The file that writing through name reaches: symbolic links are followed to the file they
// name, which need not exist yet, so that the link itself stays. Empty for a loop of links.
QString linkTarget(const QString &name)
{
    QString path = name;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(path);
        if (!info.isSymbolicLink())
            return path;
        path = info.symLinkTarget();
    }
    return QString();
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Tells whether a stream of XML is whole: every element closed, in order, one root and nothing
// but blanks around it. Enough to see a part that was cut short or lost a piece; no validating
// parser. Written by hand for speed: a 320 MB sheet (200,000 products) takes it 0.9 s, and
// QXmlStreamReader 8.4 s, which nearly doubled the export's CPU time (11 s to 21 s).
class XmlNesting
{
public:
    bool feed(const char *p, const char *end);
    bool isWhole() const { return m_ok && m_state == State::Text && m_open.empty() && m_rootDone; }

private:
    enum class State { Text, Open, Name, Tag, Quote, EmptyEnd, EndName, EndBlank, Skip };
    bool fail() { return m_ok = false; }
    bool startElement();
    bool endElement();

    State m_state = State::Text;
    char m_quote = 0;
    bool m_ok = true;
    bool m_rootDone = false;
    std::string m_name;
    std::vector<std::string> m_open;
};

bool XmlNesting::startElement()
{
    if (m_rootDone)
        return fail();
    m_open.push_back(m_name);
    return true;
}

bool XmlNesting::endElement()
{
    if (m_open.empty() || m_open.back() != m_name)
        return fail();
    m_open.pop_back();
    m_rootDone = m_open.empty();
    return true;
}

bool XmlNesting::feed(const char *p, const char *end)
{
    while (m_ok && p < end) {
        switch (m_state) {
        case State::Text:
            if (m_open.empty()) {
                for (; p < end && isBlank(*p); ++p) { }
                if (p < end && *p != '<')
                    return fail();
            } else {
                p = static_cast<const char *>(std::memchr(p, '<', size_t(end - p)));
                if (!p)
                    return true;
            }
            if (p < end) {
                m_state = State::Open;
                ++p;
            }
            break;
        case State::Open:
            m_name.clear();
            if (*p == '/') {
                m_state = State::EndName;
            } else if (*p == '?' || *p == '!') {
                m_state = State::Skip;
            } else if (*p == '>' || *p == '<' || isBlank(*p)) {
                return fail();
            } else {
                m_name += *p;
                m_state = State::Name;
            }
            ++p;
            break;
        case State::Name:
            if (*p == '>') {
                m_state = State::Text;
                startElement();
            } else if (*p == '/') {
                m_state = State::EmptyEnd;
            } else if (isBlank(*p)) {
                m_state = State::Tag;
            } else if (*p == '<') {
                return fail();
            } else {
                m_name += *p;
            }
            ++p;
            break;
        case State::Tag:
            if (*p == '"' || *p == '\'') {
                m_quote = *p;
                m_state = State::Quote;
            } else if (*p == '/') {
                m_state = State::EmptyEnd;
            } else if (*p == '>') {
                m_state = State::Text;
                startElement();
            } else if (*p == '<') {
                return fail();
            }
            ++p;
            break;
        case State::Quote:
            p = static_cast<const char *>(std::memchr(p, m_quote, size_t(end - p)));
            if (!p)
                return true;
            m_state = State::Tag;
            ++p;
            break;
        case State::EmptyEnd:
            if (*p != '>' || !startElement())
                return fail();
            endElement();
            m_state = State::Text;
            ++p;
            break;
        case State::EndName:
        case State::EndBlank:
            if (*p == '>') {
                m_state = State::Text;
                endElement();
            } else if (isBlank(*p)) {
                m_state = State::EndBlank;
            } else if (m_state == State::EndBlank || *p == '<') {
                return fail();
            } else {
                m_name += *p;
            }
            ++p;
            break;
        case State::Skip:
            p = static_cast<const char *>(std::memchr(p, '>', size_t(end - p)));
            if (!p)
                return true;
            m_state = State::Text;
            ++p;
            break;
        }
    }
    return m_ok;
}

struct ZipCloser
{
    void operator()(void *zip) const { unzClose(zip); }
};
using Zip = std::unique_ptr<void, ZipCloser>;

Zip openZip(const QString &fileName)
{
#ifdef Q_OS_WIN
    // minizip's own file functions take names in the ANSI code page.
    zlib_filefunc64_def files;
    fill_win32_filefunc64W(&files);
    return Zip(unzOpen2_64(reinterpret_cast<const wchar_t *>(fileName.utf16()), &files));
#else
    return Zip(unzOpen64(QFile::encodeName(fileName).constData()));
#endif
}

QString readError(int error)
{
    // minizip passes zlib's errors on as they are.
    if (error >= Z_VERSION_ERROR)
        return QString::fromUtf8(zError(error));
    return QStringLiteral("minizip error %1").arg(error);
}

// Reads a written package back: every part inflated, its length compared with the zip
// directory's and its CRC-32 by minizip, and each XML part checked for whole nesting. The
// directory describes what was read out of the temporary files, cut short or not, so it is the
// XML that shows a loss. Returns what is wrong with the package, or an empty text.
QString checkPackage(const QString &fileName)
{
    const Zip zip = openZip(fileName);
    if (!zip) {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read it back: %1").arg(file.errorString());
        return QStringLiteral("its zip directory is damaged");
    }
    constexpr unsigned chunk = 256 * 1024;
    QByteArray buffer(int(chunk), Qt::Uninitialized);
    int at = unzGoToFirstFile(zip.get());
    for (; at == UNZ_OK; at = unzGoToNextFile(zip.get())) {
        unz_file_info64 info = {};
        char rawName[512];
        if (unzGetCurrentFileInfo64(zip.get(), &info, rawName, sizeof rawName, nullptr, 0, nullptr, 0)
                != UNZ_OK
            || unzOpenCurrentFile(zip.get()) != UNZ_OK)
            return QStringLiteral("its zip directory is damaged");
        const QByteArray name(rawName, int(qMin<uLong>(info.size_filename, sizeof rawName)));
        const bool isXml = name.endsWith(".xml") || name.endsWith(".rels");
        XmlNesting xml;
        quint64 size = 0;
        int read = 0;
        while ((read = unzReadCurrentFile(zip.get(), buffer.data(), chunk)) > 0) {
            size += quint64(read);
            if (isXml && !xml.feed(buffer.constData(), buffer.constData() + read))
                break;
        }
        // Reports a CRC-32 that differs from the directory's once the whole part was read.
        const int closed = unzCloseCurrentFile(zip.get());
        const QString part = QString::fromUtf8(name);
        if (read < 0)
            return QStringLiteral("its part %1 does not inflate: %2").arg(part, readError(read));
        if (isXml && !xml.isWhole())
            return QStringLiteral("its part %1 is not whole XML").arg(part);
        if (closed != UNZ_OK || size != info.uncompressed_size)
            return QStringLiteral("its part %1 does not read back as written").arg(part);
    }
    if (at != UNZ_END_OF_LIST_OF_FILE)
        return QStringLiteral("its zip directory is damaged");
    return QString();
}

} // namespace

XlsxWorkbook::XlsxWorkbook(const QString &fileName, bool constantMemory, const QString &firstSheetName)
    : m_fileName(fileName)
    , m_targetName(linkTarget(fileName))
    , m_partName(m_targetName + QStringLiteral(".part"))
{
    if (m_targetName.isEmpty()) {
        qCritical() << "Cannot create the workbook" << fileName << "behind a loop of symbolic links";
        return;
    }
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
    if (!addSheet(firstSheetName))
        return;

    m_formats[styleIndex(Style::Default)] = nullptr;
    const lxw_color_t colours[] = { 0, 0, 0xFF0000, 0x0000FF, 0x808000 };
    for (int i = styleIndex(Style::Centred); i < styleCount; ++i) {
        lxw_format *format = workbook_add_format(m_book);
        if (!format) {
            qCritical() << "Cannot create a cell format for" << fileName;
            m_failed = true;
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

bool XlsxWorkbook::addSheet(const QString &name)
{
    if (!m_book)
        return false;
    const QByteArray utf8 = name.toUtf8();
    lxw_worksheet *sheet = workbook_add_worksheet(m_book, name.isEmpty() ? nullptr : utf8.constData());
    if (!sheet) {
        qCritical() << "Cannot add a sheet to the workbook" << m_fileName;
        m_failed = true;
        return false;
    }
    m_sheet = sheet;
    m_sheets.append(sheet);
    return true;
}

bool XlsxWorkbook::checkError(int error, const char *what, int row, int column)
{
    if (error == LXW_NO_ERROR)
        return true;
    qCritical("Cannot write %s at row %d, column %d: %s", what, row, column,
        lxw_strerror(static_cast<lxw_error>(error)));
    m_failed = true;
    return false;
}

bool XlsxWorkbook::checkMerge(int firstRow, int firstColumn, int lastRow, int lastColumn) const
{
    if (!checkCell(firstRow, firstColumn, "A merge") || !checkCell(lastRow, lastColumn, "A merge"))
        return false;
    if (lastRow < firstRow || lastColumn < firstColumn
        || (firstRow == lastRow && firstColumn == lastColumn)) {
        qCritical("A merge of rows %d to %d, columns %d to %d needs at least two cells; not merged", firstRow,
            lastRow, firstColumn, lastColumn);
        return false;
    }
    return true;
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
        return checkError(worksheet_write_boolean(m_sheet, lxw_row_t(row - 1), lxw_col_t(column - 1),
                              value.toBool() ? 1 : 0, format),
            "a cell", row, column);
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
    return checkError(worksheet_write_string(
                          m_sheet, lxw_row_t(row - 1), lxw_col_t(column - 1), m_scratch.constData(), format),
        "a cell", row, column);
}

bool XlsxWorkbook::writeNumber(int row, int column, double number, lxw_format *format)
{
    // The file has no notation for NaN or infinity; a spreadsheet would have to repair it.
    if (!std::isfinite(number)) {
        m_nonFinite.note(row, column);
        return writeText(row, column, QString::number(number), format);
    }
    return checkError(
        worksheet_write_number(m_sheet, lxw_row_t(row - 1), lxw_col_t(column - 1), number, format), "a cell",
        row, column);
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
    const bool written = checkError(worksheet_write_string(m_sheet, lxw_row_t(row - 1), lxw_col_t(column - 1),
                                        emptyTextPlaceholder, nullptr),
        "a cell", row, column);
    m_hasEmptyText = m_hasEmptyText || written;
    return written;
}

bool XlsxWorkbook::mergeCells(
    int firstRow, int firstColumn, int lastRow, int lastColumn, const QString &text, Style style)
{
    if (!m_sheet || !checkMerge(firstRow, firstColumn, lastRow, lastColumn))
        return false;
    m_scratch = cellText(text, firstRow, firstColumn);
    const lxw_error error = worksheet_merge_range(m_sheet, lxw_row_t(firstRow - 1),
        lxw_col_t(firstColumn - 1), lxw_row_t(lastRow - 1), lxw_col_t(lastColumn - 1), m_scratch.constData(),
        m_formats[styleIndex(style)]);
    return checkError(error, "a merge", firstRow, firstColumn);
}

bool XlsxWorkbook::mergeWritten(int sheet, int firstRow, int firstColumn, int lastRow, int lastColumn)
{
    if (!m_book || sheet < 1 || sheet > m_sheets.size()
        || !checkMerge(firstRow, firstColumn, lastRow, lastColumn))
        return false;
    // A merge is only a note written after the sheet's rows; worksheet_merge_range() would also
    // write its cells, which constant-memory mode refuses for rows already on disk. The sheet
    // frees the note with its others.
    lxw_worksheet *target = m_sheets.at(sheet - 1);
    auto *range = static_cast<lxw_merged_range *>(std::calloc(1, sizeof(lxw_merged_range)));
    if (!range)
        return checkError(LXW_ERROR_MEMORY_MALLOC_FAILED, "a merge", firstRow, firstColumn);
    range->first_row = lxw_row_t(firstRow - 1);
    range->first_col = lxw_col_t(firstColumn - 1);
    range->last_row = lxw_row_t(lastRow - 1);
    range->last_col = lxw_col_t(lastColumn - 1);
    STAILQ_INSERT_TAIL(target->merged_ranges, range, list_pointers);
    ++target->merged_range_count;
    // The sheet's dimension covers the merge, as worksheet_merge_range() makes it.
    target->dim_rowmax = std::max(target->dim_rowmax, range->last_row);
    target->dim_colmax = std::max(target->dim_colmax, range->last_col);
    return true;
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

// In constant-memory mode the rows went to a temporary file per sheet as they were written
// (all but the last, which the save writes); its error flag keeps any write that failed.
bool XlsxWorkbook::tempFilesWritten() const
{
    bool written = true;
    for (lxw_worksheet *sheet : m_sheets) {
        if (FILE *file = sheet->optimize_tmpfile)
            written = std::fflush(file) == 0 && !std::ferror(file) && written;
    }
    return written;
}

bool XlsxWorkbook::save(const std::function<bool()> &proceed)
{
    if (!m_book)
        return false;
    logChanges();
    const QString tempDir = QDir::toNativeSeparators(QDir::tempPath());
    if (m_failed || !tempFilesWritten()) {
        lxw_workbook_free(m_book);
        m_book = nullptr;
        m_sheet = nullptr;
        m_sheets.clear();
        qCritical().noquote() << QStringLiteral("Cannot save the workbook %1: %2")
                                     .arg(m_fileName,
                                         m_failed ? QStringLiteral("not everything could be written into it")
                                                  : QStringLiteral("its temporary files in %1 could not be "
                                                                   "written (is that disk full?)")
                                                        .arg(tempDir));
        return false;
    }
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
    m_sheets.clear();
    if (error != LXW_NO_ERROR) {
        QFile::remove(m_partName);
        qCritical().noquote() << QStringLiteral("Cannot save the workbook %1: %2")
                                     .arg(m_fileName, QString::fromUtf8(lxw_strerror(error)));
        return false;
    }
    // The parts were assembled in temporary files whose failed writes nothing reported.
    const QString damage = checkPackage(m_partName);
    if (!damage.isEmpty()) {
        QFile::remove(m_partName);
        qCritical().noquote() << QStringLiteral(
            "Cannot save the workbook %1: %2 (were its temporary files in %3 "
            "written completely? is that disk full?)")
                                     .arg(m_fileName, damage, tempDir);
        return false;
    }
    if (proceed && !proceed()) {
        QFile::remove(m_partName);
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
            reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(m_targetName).utf16()),
            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    const QString reason = moved ? QString() : qt_error_string(int(GetLastError()));
#else
    const bool moved
        = std::rename(QFile::encodeName(m_partName).constData(), QFile::encodeName(m_targetName).constData())
        == 0;
    const QString reason = moved ? QString() : qt_error_string(errno);
#endif
    if (moved)
        return true;
    QFile::remove(m_partName);
    qCritical().noquote() << QStringLiteral("Cannot save the workbook %1: %2").arg(m_fileName, reason);
    return false;
}
