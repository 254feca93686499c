#pragma once

#include "db/Journal.h"
#include "platform/Database.h"
#include "platform/Error.h"

#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <optional>

namespace talvesk::db {

// Row-by-row changes of an import, many rows per transaction: a row whose change fails is undone
// alone, every row before it stays. Rows are committed every couple of seconds (and every
// `rowsPerCommit` rows) and by an explicit commit() at the end; every commit is checked, and
// `committed` is told of each one that is stored, so an import can say how many rows really are.
// Going away without a commit rolls back: nothing is ever reported stored that was not.
class BatchedChanges {
public:
    BatchedChanges(platform::Database &db, std::function<void()> committed, int rowsPerCommit = 50000,
                   int msPerCommit = 2000, JournalEntry *journal = nullptr);
    BatchedChanges(const BatchedChanges &) = delete;
    BatchedChanges &operator=(const BatchedChanges &) = delete;
    ~BatchedChanges();

    // After each row: commits when the batch is full or old enough.
    void rowDone()
    {
        if (++pending_ >= rowsPerCommit_ || (pending_ % 256 == 0 && sinceCommit_.elapsed() >= msPerCommit_))
            commit();
    }

    // Commits the rows done so far and goes on in a new transaction. A failed commit rolls the
    // batch back and throws Error; the batch can then take no more rows.
    void commit();
    // The last commit of an import: the same, without starting another transaction.
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
    std::function<void()> committed_;
    int rowsPerCommit_;
    int msPerCommit_;
    int pending_ = 0;
    QElapsedTimer sinceCommit_;
    std::unique_ptr<platform::Transaction> transaction_;
    JournalEntry *journal_;
};

// "（已存入 N 筆）": how many rows a failed import left stored, for its message.
QString storedNote(qint64 rows);

// Runs an import's rows in batches. `rows(batch, counts)` does every row, calling
// batch.rowDone() after each; its counts are returned once the last commit is stored. On any
// failure the rows before it are kept where possible, `stopped` gets the counts of the rows that
// are stored, and the failure is thrown on with how many rows are stored added to its description.
// A journalled import gets its journal entry before the first row, closed with the counts
// (counts.summary()) of what was stored.
struct JournalOperation {
    QString operation; // the batch command's name
    QString file;      // full path
};
template <typename Counts, typename Rows>
Counts runInBatches(platform::Database &db, Rows &&rows, const std::function<void(const Counts &)> &stopped,
                    int rowsPerCommit = 50000, const std::optional<JournalOperation> &journalled = std::nullopt)
{
    Counts counts, stored;
    std::optional<JournalEntry> journal;
    std::optional<BatchedChanges> batch;
    try {
        if (journalled)
            journal.emplace(db, journalled->operation, journalled->file);
        batch.emplace(db, [&] { stored = counts; }, rowsPerCommit, 2000, journal ? &*journal : nullptr);
        rows(*batch, counts);
        batch->finish();
    } catch (const platform::Error &error) {
        if (batch)
            batch->commitBeforeStopping();
        if (journal)
            journal->closeQuietly(QStringLiteral("failed after ") + stored.summary());
        if (stopped)
            stopped(stored);
        throw platform::Error(error.number(), error.description() + storedNote(stored.stored()));
    }
    // The rows are stored: an entry that cannot be closed stays unfinished (never undone on a
    // guess) rather than have a stored import reported as failed.
    if (journal)
        journal->closeQuietly(counts.summary());
    return counts;
}

} // namespace talvesk::db
