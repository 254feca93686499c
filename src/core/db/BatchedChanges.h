#pragma once

#include "db/Connection.h"
#include "db/Journal.h"
#include "platform/AppFolder.h"
#include "platform/Database.h"
#include "platform/Error.h"

#include <QElapsedTimer>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace talvesk::db {

// Whether an operation's changes are kept, or only tried. A dry run (`DryRun`) makes every change
// exactly as the real run would, so that its lookups see the rows it wrote before and its counts
// are the real run's, but on a private copy of the database (openDatabaseFor) that goes when it
// ends: the database itself is never written, and is held no longer than a step of the copy, so
// that another program's writes go on meanwhile. A look at the first rows of a file (`FirstRows`),
// which stops after a few rows, tries them in the database itself inside one transaction that is
// never committed (the dirty pages stay in memory, so the file is not written even for a moment):
// a copy of the whole database would cost far more than those rows hold it.
enum class Changes { Keep, DryRun, FirstRows };
inline bool onlyTried(Changes changes)
{
    return changes != Changes::Keep;
}

// The application's database as an operation with `changes` uses it: for a dry run, a private
// copy of it, taken step by step (`stopRequested` ends the copy, and later any statement on it,
// with platform::Error errnum::Cancelled); otherwise the database itself (db::openDatabase).
// Throws platform::Error.
// On the server (an operation that can run there, `reach`), a dry run is tried in one transaction
// that is never committed; every run but a look at the first rows holds the writing lock.
platform::Database openDatabaseFor(const platform::AppFolder &app, Changes changes,
                                   const std::function<bool()> &stopRequested = {}, Reach reach = Reach::DeskOnly);

// One row of a file as an import would store it, for a preview: its values, in the order of the
// import's shown fields, and what the import does with it (kNewRow, kUpdatedRow, kLeftAlone, or
// why it refuses the row).
struct ShownRow {
    qint64 row = 0; // the worksheet row or the line number
    QStringList values;
    QString outcome;
};
inline const QString kNewRow = QStringLiteral("新增");
inline const QString kUpdatedRow = QStringLiteral("更新");
inline const QString kLeftAlone = QStringLiteral("不處理");
// A row that finds its record already holding every value it brings.
inline const QString kUnchangedRow = QStringLiteral("不變");

// How an import's stored rows changed the tables, as the journal keeps it: "3 new, 1 updated,
// 1 unchanged" (updated: a record that was there and now holds other values).
QString changesText(qint64 inserted, qint64 changed, qint64 unchanged);

// Row-by-row changes of an import, many rows per transaction: a row whose change fails is undone
// alone, every row before it stays. Rows are committed every couple of seconds (and every
// `rowsPerCommit` rows) and by an explicit commit() at the end; every commit is checked, and
// `committed` is told of each one that is stored, so an import can say how many rows really are.
// Going away without a commit rolls back: nothing is ever reported stored that was not. A dry run
// commits its batches the same way, on its private copy (it refuses any other database); a look
// at the first rows commits nothing and rolls everything back at the end.
class BatchedChanges {
public:
    BatchedChanges(platform::Database &db, std::function<void()> committed, int rowsPerCommit = 50000,
                   int msPerCommit = 2000, Changes changes = Changes::Keep, JournalEntry *journal = nullptr);
    BatchedChanges(const BatchedChanges &) = delete;
    BatchedChanges &operator=(const BatchedChanges &) = delete;
    ~BatchedChanges();

    // After each row: commits when the batch is full or old enough.
    void rowDone()
    {
        if (firstRows_)
            return;
        if (++pending_ >= rowsPerCommit_ || (pending_ % 256 == 0 && sinceCommit_.elapsed() >= msPerCommit_))
            commit();
        else if (journal_ && pending_ % 256 == 0 && journal_->wantsFlush())
            journal_->flush();
    }

    // Commits the rows done so far and goes on in a new transaction. A failed commit rolls the
    // batch back and throws Error; the batch can then take no more rows.
    void commit();
    // How many commits this batch has made: a new number means a new transaction, into which
    // another program's commit may have come first.
    qint64 commits() const { return commits_; }
    // The last commit of an import: the same, without starting another transaction. A look at the
    // first rows rolls everything back here instead, and tells `committed` of the rows it would
    // have stored.
    void finish();

    // For an import that is stopping on a failure: keeps the rows done before it, as they would
    // have been kept had each been committed alone. A failure here is not reported over the one
    // that stopped the import (the rows are then rolled back and `committed` not told).
    void commitBeforeStopping() noexcept;

    // A line or row the import could not use, kept with its journal entry (when it has one) in
    // the same transaction as the rows around it.
    void problem(qint64 number, const QString &reason, const QString &text)
    {
        if (journal_)
            journal_->problem(number, reason, text);
    }

private:
    void commitOpen();

    platform::Database &db_;
    bool firstRows_;
    std::function<void()> committed_;
    int rowsPerCommit_;
    int msPerCommit_;
    int pending_ = 0;
    qint64 commits_ = 0;
    QElapsedTimer sinceCommit_;
    std::unique_ptr<platform::Transaction> transaction_;
    JournalEntry *journal_;
};

// "（已存入 N 筆）": how many rows a failed import left stored, for its message.
QString storedNote(qint64 rows);

// What a failed dry run says in place of how many rows are stored, and what a completed one says.
QString dryRunNote();
inline const QString kDryRunDone = QStringLiteral("試算完畢，資料庫未變更。");

// Runs an import's rows in batches. `rows(batch, counts)` does every row, calling
// batch.rowDone() after each; its counts are returned once the last commit is stored. On any
// failure the rows before it are kept where possible, `stopped` gets the counts of the rows that
// are stored, and the failure is thrown on with how many rows are stored added to its description.
// A dry run or a look at the first rows (`changes`) stores nothing and is not journalled: its
// counts are those the real run would report, and when it fails, `stopped` gets the counts of the
// rows the real run would have kept. A journalled import gets its journal entry before the first row, closed with the counts
// (counts.summary(), counts.changes()) of what was stored.
struct JournalOperation {
    QString operation; // the batch command's name
    QString file;      // full path
};
template <typename Counts, typename Rows>
Counts runInBatches(platform::Database &db, Rows &&rows, const std::function<void(const Counts &)> &stopped,
                    int rowsPerCommit = 50000, Changes changes = Changes::Keep,
                    const std::optional<JournalOperation> &journalled = std::nullopt)
{
    Counts counts, stored;
    std::optional<JournalEntry> journal;
    std::optional<BatchedChanges> batch;
    try {
        if (journalled && !onlyTried(changes))
            journal.emplace(db, journalled->operation, journalled->file);
        batch.emplace(db, [&] { stored = counts; }, rowsPerCommit, 2000, changes, journal ? &*journal : nullptr);
        rows(*batch, counts);
        batch->finish();
    } catch (const platform::Error &error) {
        if (onlyTried(changes)) {
            if (stopped)
                stopped(counts);
            throw platform::Error(error.number(), error.description() + dryRunNote());
        }
        if (batch)
            batch->commitBeforeStopping();
        if (journal) {
            journal->failed();
            journal->closeQuietly(QStringLiteral("failed after ") + stored.summary(), stored.changes());
        }
        if (stopped)
            stopped(stored);
        throw platform::Error(error.number(), error.description() + storedNote(stored.stored()));
    }
    // The rows are stored: an entry that cannot be closed stays unfinished (never undone on a
    // guess) rather than have a stored import reported as failed.
    if (journal)
        journal->closeQuietly(counts.summary(), counts.changes());
    return counts;
}

} // namespace talvesk::db
