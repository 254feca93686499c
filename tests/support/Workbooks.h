#pragma once

#include <QByteArray>
#include <QString>

#include <map>

#include <variant>
#include <vector>

namespace talvesk::test {

// A cell for writeXlsx: text, a number, or a date (year, month, day) in a date format.
struct Date {
    int year, month, day;
};
struct Formula {
    QString formula;
    double cached;
};
using Cell = std::variant<std::monostate, QString, double, Date, Formula>;
using Rows = std::vector<std::vector<Cell>>;

// Writes a one-sheet .xlsx with libxlsxwriter; rows[0] goes to worksheet row `firstRow` (1-based).
void writeXlsx(const QString &path, const QString &sheet, const Rows &rows, int firstRow = 1,
               bool constantMemory = false);

// Writes a zip file holding the given parts (name -> content): for workbooks made by hand.
void writeZip(const QString &path, const std::map<QString, QByteArray> &parts);

// The parts of a minimal valid .xlsx with one worksheet "Sheet1" whose <sheetData> (and what goes
// before it, such as <dimension>) is `sheetBody`; shared strings and styles as given (none when empty).
std::map<QString, QByteArray> minimalXlsxParts(const QByteArray &sheetBody, const QByteArray &sharedStrings = {},
                                               const QByteArray &styles = {}, const QByteArray &workbookPr = {});

} // namespace talvesk::test
