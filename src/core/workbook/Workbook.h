#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace talvesk::workbook {

// One cell's stored value, typed.
struct CellValue {
    enum class Kind { Empty, Text, Number, Boolean, Error, DateTime };
    Kind kind = Kind::Empty;
    QString text;      // Text: the text; Error: the error's code, such as #N/A
    double number = 0; // Number; Boolean (0 or 1); DateTime: days since 1899-12-30
};

class Worksheet {
public:
    virtual ~Worksheet() = default;
    virtual QString name() const = 0;
    // The last row that holds a cell, as the sheet tells it before being read through (an .xlsx
    // sheet's declared dimension, when it has one): a measure for progress, never a bound on what
    // is read, since a declared dimension can be wrong either way.
    virtual qint64 lastUsedRow() = 0;
    // The first row at or after `from` that holds at least one cell, or 0 when no row does. Reads
    // forward like cell(); the rows an import reads are exactly these.
    virtual qint64 nextUsedRow(qint64 from) = 0;
    // The cell at a 1-based row and a column named by its letters ("A", "AB"). Reading rows in
    // increasing order streams through the sheet; going back starts the sheet again.
    virtual CellValue cell(qint64 row, QStringView column) = 0;
};

struct WorkbookLimits {
    qint64 maxPartBytes = qint64(1) << 30;          // no single part may inflate past this
    // The shared-string table's memory: a million rows of unique text fit, and a reading stays
    // well within 300 MB with the table full.
    qint64 maxSharedStringBytes = qint64(128) << 20;
    // Asked now and then while a workbook is opened (a large shared-string table, a .csv read
    // through once): true ends the opening with error 32755, so a count can be left at once.
    std::function<bool()> stopRequested;
};

class Workbook {
public:
    virtual ~Workbook() = default;

    // Opens .xlsx / .xlsm (and other zip-based workbooks), .xls, .ods or .csv: by content where it
    // tells (a compound file, a zip), otherwise by suffix. Throws platform::Error with a clear
    // description when the file is missing or is not a readable workbook.
    static std::unique_ptr<Workbook> open(const QString &path, const WorkbookLimits &limits = {});

    // Worksheet names in workbook order.
    virtual QStringList worksheetNames() const = 0;
    // Throws platform::Error when the workbook has no worksheet of that name.
    virtual std::unique_ptr<Worksheet> worksheet(const QString &name) = 0;
};

// The text an import takes from a cell: text trimmed, a whole number below 10^16 with all its
// digits, any other number in numberText's form, a date in
// dateTimeText's form, TRUE / FALSE as "True" / "False", nothing for an empty cell. A cell holding
// an error value throws platform::Error naming the worksheet, the cell and the error.
QString cellText(Worksheet &sheet, qint64 row, QStringView column);

// 0-based index of a column named by letters (A = 0, Z = 25, AA = 26); -1 when not a column name
// (empty, not letters, or past XFD).
int columnIndex(QStringView letters);
// The letters of a 0-based column index (0 = A, 26 = AA).
QString columnLetters(int index);

// A number as the workbook imports take it: shortest form with at most 15 significant digits,
// exponent form (1.23456789012346E+15) from 10^15 up and below 10^-4.
QString numberText(double value);
// The serial of 9999-12-31, the last date a worksheet holds.
inline constexpr double kLastDateSerial = 2958465;
// Whether a date/time serial names a calendar date (0 to 9999-12-31, time of day included).
bool isDateSerial(double serial);
// A date/time serial (isDateSerial) as "yyyy/M/d", followed by " HH:mm:ss" when the time is not
// midnight.
QString dateTimeText(double serial);
// The calendar date of a date/time serial (isDateSerial).
void serialToDate(double serial, int &year, int &month, int &day);

} // namespace talvesk::workbook
