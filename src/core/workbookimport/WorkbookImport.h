#pragma once

#include "platform/AppFolder.h"
#include "db/BatchedChanges.h"
#include "workbook/Workbook.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace talvesk::workbookimport {

struct ImportCounts {
    qint64 written = 0;      // rows inserted or updated
    qint64 notProcessed = 0; // rows left alone (no account, no matching receivable, unusable cells)
    qint64 inserted = 0;     // of the rows written, those that made a new record
    qint64 updated = 0;      // and those that found one already there
    qint64 unchanged = 0;    // of the rows updated, those whose stored values stay as they were
    qint64 paidChanged = 0;  // and of the others, those whose receivable already had a payment
    QStringList problems;    // why rows were refused, the first kMaxProblems of them
    qint64 stored() const { return written; }
    // "5 written, 1 not processed", as the batch tool and the journal report them.
    QString summary() const;
    // "3 new, 1 updated, 1 unchanged", as the journal keeps it beside the summary.
    QString changes() const { return db::changesText(inserted, updated - unchanged, unchanged); }

    static constexpr int kMaxProblems = 20;
    // Counts a row refused for `reason`.
    void refuse(qint64 row, const QString &reason);
};

// Whether any of a row's texts holds a NUL character, which no stored value may: it would cut
// the text short wherever the value is shown or exported.
bool holdsNul(const QStringList &texts);
// The message of a completed workbook import.
inline const QString kImportDone = QStringLiteral("Excel 轉入 Access 資料庫完畢！");
inline const QString kNulReason = QStringLiteral("儲存格含有 NUL 字元，未處理");
inline const QString kNoAccountReason = QStringLiteral("沒有虛擬帳號");
// A row's mapped cells as its problem line shows them.
QString rowText(const QStringList &cells);

// The first row of a worksheet, which names its columns, as the mapping window shows it beside
// each letter box. Columns past kMaxHeadingColumns (ZZ) read as empty.
class Headings {
public:
    static constexpr int kMaxHeadingColumns = 26 * 27;
    Headings() = default;
    explicit Headings(QStringList byColumn) : byColumn_(std::move(byColumn)) {}
    // Whether a worksheet was read at all (a mapping opened before a workbook is chosen has none).
    bool known() const { return known_ || !byColumn_.isEmpty(); }
    // The text of the first row's cell in the column `letters` names; empty for an empty cell.
    QString of(QStringView letters) const;
    static Headings read(const QString &workbookPath, const QString &sheetName);

private:
    QStringList byColumn_; // A first, up to the last column that holds a text
    bool known_ = false;
};

// What an import reports while it runs: the last used row once, then every row; and, when it
// stops on a failure, the counts of the rows that are stored.
struct ImportObserver {
    std::function<void(qint64 lastRow)> started;
    std::function<void(qint64 row, const ImportCounts &counts)> rowDone;
    std::function<void(const ImportCounts &stored)> stopped;
    // Each row with what is stored from it (for a preview; left empty, the values are not gathered).
    std::function<void(const db::ShownRow &row)> rowShown;
    // Asked between rows, and while a dry run copies the database and runs its statements: true
    // stops the run with platform::Error errnum::Cancelled.
    std::function<bool()> stopRequested;
};

// The worksheet an import reads, open, its last used row reported to the observer.
struct SheetToImport {
    std::unique_ptr<workbook::Workbook> book;
    std::unique_ptr<workbook::Worksheet> sheet;
};
SheetToImport openSheetToImport(const QString &workbookPath, const QString &sheetName, const ImportObserver &observer);

// Refuses an import whose key column is not mapped, before any row is read: it could only store
// or match rows under an empty account. Throws platform::Error.
void requireMappedAccount(const QString &accountColumn, const QString &accountCaption);

// Whether every one of a row's mapped cells is empty: such a row is skipped without a count.
bool allEmpty(const QStringList &texts);

// An import of one worksheet of a workbook: every row from row 2 to the last that holds a cell.
// Throws platform::Error on the first failure; the rows before it stay written.
class WorkbookImport {
public:
    virtual ~WorkbookImport() = default;
    virtual ImportCounts run(const QString &workbookPath, const QString &sheetName, const ImportObserver &observer) = 0;
    // The names of the values a row shows, in the order of db::ShownRow::values.
    virtual QStringList shownFields() const = 0;
    // The same import with its changes only tried (db::Changes): it stores nothing.
    virtual std::unique_ptr<WorkbookImport> withChanges(db::Changes changes) const = 0;
    // The application folder whose database the import writes.
    virtual const platform::AppFolder &appFolder() const = 0;
    std::unique_ptr<WorkbookImport> dryRun() const { return withChanges(db::Changes::DryRun); }
};

// The first `max` rows of a worksheet as `import` would store them, tried in the database and
// rolled back (db::Changes::FirstRows): the rest of the worksheet is not read. Throws
// platform::Error.
struct Preview {
    QStringList fields;
    std::vector<db::ShownRow> rows;
};
Preview previewRows(const WorkbookImport &import, const QString &workbookPath, const QString &sheetName, int max = 20);

} // namespace talvesk::workbookimport
