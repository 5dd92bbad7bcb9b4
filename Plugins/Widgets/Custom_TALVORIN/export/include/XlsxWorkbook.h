#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

// An xlsx workbook on top of libxlsxwriter: one sheet, or more through addSheet(). Rows and
// columns count from 1.
//
// Text cells are made safe for the file: texts longer than a cell can hold are cut, characters
// that XML cannot carry (control characters such as GS 0x1D) are written as Excel's _xHHHH_
// escapes, and a literal _xHHHH_ in the text is protected as _x005F_xHHHH_, so Excel shows the
// original text. Numbers that are not finite become text. What was changed is logged once, on
// save.
//
// The workbook is written beside the target as name.part and takes the target's place only once
// it is complete: a cancelled (never saved) or failed save leaves the target as it was. Complete
// means that every libxlsxwriter call succeeded and that the file reads back whole: the library
// ignores failed writes to its temporary files, which a full temp folder turns into a workbook
// with parts cut short. A target that is a symbolic link keeps the link; its target is written.
//
// In constant-memory mode each row goes to disk as soon as a later row is written, so memory
// stays flat however long the sheet gets; rows must then be written in ascending order.
class XlsxWorkbook
{
public:
    enum class Style { Default, Centred, Red, Blue, DarkYellow };

    static constexpr int MaxRows = 1048576;
    static constexpr int MaxColumns = 16384;
    static constexpr int MaxTextLength = 32767;

    // The first sheet is named `firstSheetName`, or as Excel names it (Sheet1) when that is empty.
    explicit XlsxWorkbook(
        const QString &fileName, bool constantMemory = false, const QString &firstSheetName = QString());
    ~XlsxWorkbook();

    XlsxWorkbook(const XlsxWorkbook &) = delete;
    XlsxWorkbook &operator=(const XlsxWorkbook &) = delete;

    bool isValid() const { return m_sheet != nullptr; }

    // Starts a further sheet, named `name` or as Excel names them (Sheet2, Sheet3, ...); later
    // writes go to it.
    bool addSheet(const QString &name = QString());

    // A QString becomes a text cell, integral and floating-point values a number cell, a bool a
    // boolean cell; a null value or empty text writes nothing (a blank cell when styled).
    bool write(int row, int column, const QVariant &value, Style style = Style::Default);
    // A text cell that holds the empty text (write() leaves no cell for it). Not in
    // constant-memory mode.
    bool writeEmptyText(int row, int column);
    // Merges the range; the top-left cell gets text, the other cells are blank.
    bool mergeCells(int firstRow, int firstColumn, int lastRow, int lastColumn, const QString &text,
        Style style = Style::Default);
    // Merges a range of sheet `sheet` (counted from 1) whose top-left cell was written already and
    // whose other cells are empty: what mergeCells() leaves with the default style, for rows that
    // constant-memory mode has sent to disk.
    bool mergeWritten(int sheet, int firstRow, int firstColumn, int lastRow, int lastColumn);
    int sheetCount() const { return int(m_sheets.size()); }
    // Writes the file, reads it back, puts it in place and releases the workbook; later calls do
    // nothing and return false. proceed, when given, is asked just before the file would replace
    // the target: false discards it. Failures are logged with the file name and the reason.
    bool save(const std::function<bool()> &proceed = {});

private:
    bool writeText(int row, int column, const QString &text, lxw_format *format);
    bool writeNumber(int row, int column, double number, lxw_format *format);
    bool checkCell(int row, int column, const char *what) const;
    // Both corners on the sheet and at least two cells, or logged.
    bool checkMerge(int firstRow, int firstColumn, int lastRow, int lastColumn) const;
    QByteArray cellText(const QString &text, int row, int column);
    bool checkError(int error, const char *what, int row = 0, int column = 0);
    void logChanges() const;
    bool tempFilesWritten() const;
    bool putInPlace();

    QString m_fileName;
    QString m_targetName; // the file behind m_fileName when that is a symbolic link
    QString m_partName;
    lxw_workbook *m_book = nullptr;
    lxw_worksheet *m_sheet = nullptr;
    QVector<lxw_worksheet *> m_sheets;
    bool m_failed = false; // a libxlsxwriter call failed: the file would lack what it was given
    lxw_format *m_formats[5] = {};
    QByteArray m_scratch;
    bool m_hasEmptyText = false;

    struct Change
    {
        int count = 0;
        int row = 0;
        int column = 0;
        void note(int r, int c)
        {
            if (count++ == 0) {
                row = r;
                column = c;
            }
        }
    };
    Change m_truncated;
    Change m_escaped;
    Change m_nonFinite;
};
