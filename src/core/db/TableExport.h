#pragma once

#include "platform/AppFolder.h"
#include "platform/Database.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <set>
#include <string>

namespace talvesk::db {

// A whole table, in table order, into a new workbook: the captions in row 1, then one row per
// table row. Columns in `amounts` are written as numbers when `amountValue` reads the stored text
// as one (the rule the rest of the program reads amounts by, so that a sum in the spreadsheet
// counts what the program counts); everything else as text, so account numbers and codes keep
// every digit. A missing value is an empty cell.
struct TableLayout {
    QString table;
    QStringList columns;
    QStringList captions;
    std::set<int> amounts;
    std::optional<double> (*amountValue)(QStringView) = nullptr; // needed when there are amounts
    QString sheetName{}; // the worksheet's name, after what it holds
};

// Which rows an export takes: a condition over the table's columns, with its values bound as ?1,
// ?2..., and what the connection must be taught before it runs (functions the condition calls).
// An empty condition takes every row.
struct RowFilter {
    std::string where;
    QStringList values;
    std::function<void(platform::Database &)> prepare;
};

// What an export and a clearing say when they end well.
inline const QString kExportDone = QStringLiteral("已成功匯出成Excel檔");
inline const QString kClearDone = QStringLiteral("清除資料完成!");
// How a clearing's safety copy is named in its message: the database as it was before clearing.
inline const QString kBeforeClearing = QStringLiteral("清除前");

struct ExportResult {
    qint64 rows = 0;        // table rows written
    qint64 cutCells = 0;    // cells cut to the 32,767 characters a cell holds
    qint64 firstCutRow = 0; // the worksheet row (1-based) and column of the first of them
    QString firstCutColumn; // its letters
};

// What an export says of the cells it had to cut, or nothing when it cut none.
QString cutCellsNote(const ExportResult &result);

// Exports to `path`. A table longer than a worksheet holds is refused before anything is written
// (error 6). The connection is closed when it returns. The workbook's scratch files are made in
// `path`'s folder and every write to them is checked. Throws platform::Error naming the cause; on
// failure a file already under `path` stays as it was and nothing new is left. `progress` gets
// (rows written, rows in all). `filter` narrows the rows to those it matches, still in table order.
ExportResult exportTable(const platform::AppFolder &app, const TableLayout &layout, const QString &path,
                   const std::function<void(qint64, qint64)> &progress = {}, const RowFilter &filter = {});

// Where an export goes: the user's documents folder, "<prefix>_yyyyMMdd_HHmmss.xlsx"; a name
// already taken gets " (2)", " (3)"... so no earlier export is overwritten.
QString exportPath(const QString &prefix, const QDateTime &when);

// Deletes every row of a table in one statement and one transaction: on failure the table stays
// whole. First the whole database is copied to its safety copy (ldb/BeforeClearStore.mdb for
// SMdata, ldb/BeforeClearReceivables.mdb otherwise), holding the database throughout; returns
// that file's path. A read-only database is refused (error 70), as is one that another connection
// holds longer than the busy wait. Throws platform::Error.
QString clearTable(const platform::AppFolder &app, const QString &table);

// The number of rows of one of the program's tables. Throws platform::Error.
qint64 countRows(const platform::AppFolder &app, const QString &table);

} // namespace talvesk::db
