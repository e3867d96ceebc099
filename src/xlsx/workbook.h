#pragma once

// xlsx/: the workbook layer, .xlsx read and written with QuaZip and
// pugixml; used by the results table and the import. Uses base/.

#include "base/result.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <functional>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>


// "A" -> 1, "AB" -> 28; and back.
int columnNumber(const QString &letters);
QString columnLetters(int number);

// The few worksheet operations the results table needs.
class ResultsSheet
{
public:
    virtual ~ResultsSheet() = default;
    // `cell` is an A1 address such as "B4".
    virtual void setText(const QString &cell, const QString &text) = 0;
    virtual void setNumber(const QString &cell, double value) = 0;
    // A number as the table shows it: `shown` is its text (a plain decimal,
    // perhaps with a sign), written as a number in the cell's style with the
    // number format `format`, which shows it as that text.
    virtual void setShownNumber(const QString &cell, const QString &shown,
                                const QString &format) = 0;
    // The same by row and column (1 = A), for the many cells of a table:
    // no address is made to be read again.
    virtual void setTextAt(int row, int column, const QString &text)
    {
        setText(columnLetters(column) + QString::number(row), text);
    }
    virtual void setShownNumberAt(int row, int column, const QString &shown, const QString &format)
    {
        setShownNumber(columnLetters(column) + QString::number(row), shown, format);
    }
    // Copies rows first..last (values, styles, row heights, merged cells and
    // page breaks inside them) to start at row `destination`.
    virtual void copyRows(int first, int last, int destination) = 0;
};

class XlsxStyles;

// A worksheet of an .xlsx workbook. Cells written here become inline
// strings or numbers; cells copied keep what they hold, shared strings
// included.
class XlsxSheet : public ResultsSheet
{
public:
    void setText(const QString &cell, const QString &text) override;
    void setNumber(const QString &cell, double value) override;
    void setShownNumber(const QString &cell, const QString &shown,
                        const QString &format) override;
    void copyRows(int first, int last, int destination) override;
    void setTextAt(int row, int column, const QString &text) override;
    void setShownNumberAt(int row, int column, const QString &shown, const QString &format) override;

    // What a cell holds as text (an inline string, a shared string or a
    // number), for checks.
    QString text(const QString &cell) const;

    // A cell's value as read: empty, a number (its text as stored, the cached
    // result of a formula included), a date (a number in a date format), or
    // a text.
    struct Value
    {
        enum Kind { Empty, Number, Date, Text } kind = Empty;
        QString text;
    };
    Value value(int row, int column) const;
    // The last row that holds anything; 0 for an empty sheet.
    int lastRow() const;

    // How the sheet prints: A4 landscape (or portrait), fitted to one page
    // wide, `header` centred at the top of every page ("" for none).
    void setPrintSetup(bool landscape, const QString &header);
    // The cell's text wrapped within its width and centred.
    void setWrapped(const QString &cell);
    // A thin border all round the cell, as a printed table's cells have.
    void setBordered(const QString &cell);
    // A row's height in points, as the sheet keeps it.
    void setRowHeight(int row, double points);

    // A block of merged cells, rows and columns counted from 1.
    struct Range
    {
        int firstRow, firstColumn, lastRow, lastColumn;
    };
    const std::vector<Range> &mergedRanges() const { return m_merges; }
    // The widths of columns 1 to `count` in characters, as the sheet sets
    // them (its default width where it sets none).
    std::vector<double> columnWidths(int count) const;

private:
    std::string closingXml(size_t from) const;
    friend class XlsxWorkbook;
    // A piece of text kept in the sheet's store of texts (m_texts): a cell
    // holds two, and a cell copied shares its texts, so that a sheet of
    // hundreds of thousands of cells copies them without allocating.
    struct Piece
    {
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
    };
    // A cell as read (its attributes and inner XML kept as they were), or as
    // written here: an inline string or a number, with the style it had.
    struct Cell
    {
        enum Kind : char { Raw, Inline, Number };
        int column = 0; // 1 = A
        Kind kind = Raw;
        int style = -1;   // Inline and Number: the s attribute, -1 for none
        Piece attributes; // Raw: every attribute but r
        Piece value;      // Raw: inner XML; Inline: escaped text; Number: the number
    };
    Piece keep(std::string_view text);
    std::string_view view(Piece piece) const { return std::string_view(m_texts).substr(piece.offset, piece.size); }
    struct Row
    {
        bool used = false;
        std::string attributes;  // every attribute but r and spans
        std::vector<Cell> cells; // in column order
    };
    Result<void> load(const QByteArray &xml);
    QByteArray save() const;
    // The sheet's XML, given to `sink` a block at a time; false when the
    // sink refused a block.
    bool writeTo(const std::function<bool(std::string_view)> &sink) const;
    Cell &cell(const QString &address);
    Cell &cell(int row, int column);
    void writeText(Cell &c, const QString &text);
    void writeShownNumber(Cell &c, const QString &shown, const QString &format);
    Row &row(int number);
    const Row *findRow(int number) const;
    const Cell *findCell(int row, int column) const;
    QString textOf(const Cell &cell) const;

    std::string m_xml;       // the sheet with an empty sheetData, merges and breaks left out
    std::string m_texts;     // the cells' texts, one after another (a text replaced stays)
    // By row number, a row only where one is present: at most a pointer a
    // row number up to the last row (the rows are bounded by the sheet's
    // 1,048,576).
    std::vector<std::unique_ptr<Row>> m_rows;
    std::vector<Range> m_merges;
    std::set<int> m_rowBreaks;
    const std::vector<QString> *m_sharedStrings = nullptr;
    const std::vector<bool> *m_dateStyles = nullptr;
    XlsxStyles *m_styles = nullptr;
    // The cell's style made anew by one of the styles' changes.
    void restyle(const QString &address, int (XlsxStyles::*change)(int));
};

// An .xlsx workbook read whole into memory and written back as a whole.
class XlsxWorkbook
{
public:
    XlsxWorkbook();
    ~XlsxWorkbook();

    Result<void> open(const QString &path);
    // A new workbook in memory with one empty sheet of that name and the
    // given column widths (characters, from column A).
    Result<void> create(const QString &sheetName, const std::vector<double> &columnWidths);
    // The sheet of that name (never null), or why there is none.
    Result<XlsxSheet *> sheet(const QString &name);
    // Adds an empty sheet of that name right after the sheet `after`, with
    // the given column widths (in characters, from column A); refused when
    // the name is taken or `after` is not a sheet.
    Result<XlsxSheet *> addSheet(const QString &name, const QString &after,
                                 const std::vector<double> &columnWidths);
    // The names of the sheets, in workbook order.
    QStringList sheetNames() const { return m_sheetOrder; }
    // Rows `first` to `last` of sheet `name` printed at the top of every page.
    Result<void> setPrintTitles(const QString &name, int first, int last);
    // Writes the workbook to `path`, replacing a file there only once the
    // new one is complete.
    Result<void> save(const QString &path) const;
    // The workbook as the bytes of an .xlsx file.
    Result<QByteArray> save() const;

private:
    bool writeZip(QIODevice &device) const;
    // Reads the workbook's parts from m_entries: sheets, styles, strings.
    Result<void> loadParts(const QString &path);

    std::vector<std::pair<QString, QByteArray>> m_entries; // in zip order
    std::vector<QString> m_sharedStrings;
    std::vector<bool> m_dateStyles;                         // by cell style: does it show a date?
    std::unique_ptr<XlsxStyles> m_styles;                   // the cell styles, for number formats
    std::map<QString, std::unique_ptr<XlsxSheet>> m_sheets; // by entry name
    std::map<QString, QString> m_sheetEntries;              // sheet name -> entry
    QStringList m_sheetOrder;
};

