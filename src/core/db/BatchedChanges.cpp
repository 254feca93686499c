#include "db/BatchedChanges.h"

namespace talvesk::db {

namespace {

// Set before the transaction begins, since the journal mode cannot change inside one.
platform::Database &preparedFor(platform::Database &db, Changes changes)
{
    if (changes == Changes::DryRun)
        db.execute("PRAGMA cache_spill = OFF; PRAGMA journal_mode = MEMORY");
    return db;
}

} // namespace

BatchedChanges::BatchedChanges(platform::Database &db, std::function<void()> committed, int rowsPerCommit,
                               int msPerCommit, Changes changes, JournalEntry *journal)
    : db_(preparedFor(db, changes)), dryRun_(changes == Changes::DryRun), committed_(std::move(committed)),
      rowsPerCommit_(rowsPerCommit), msPerCommit_(msPerCommit),
      transaction_(std::make_unique<platform::Transaction>(db)), journal_(journal)
{
    sinceCommit_.start();
}

// The transaction's own destructor rolls back whatever was not committed.
BatchedChanges::~BatchedChanges() = default;

void BatchedChanges::commitOpen()
{
    if (!transaction_)
        throw platform::Error(platform::errnum::Database, QStringLiteral("資料庫交易已中止"));
    try {
        if (journal_)
            journal_->flush();
        transaction_->commit();
    } catch (...) {
        transaction_.reset(); // rolls back what the failed commit left open
        throw;
    }
    transaction_.reset();
    pending_ = 0;
    if (committed_)
        committed_();
}

void BatchedChanges::commit()
{
    if (dryRun_)
        return;
    commitOpen();
    transaction_ = std::make_unique<platform::Transaction>(db_);
    sinceCommit_.start();
}

void BatchedChanges::finish()
{
    if (!dryRun_) {
        commitOpen();
        return;
    }
    transaction_.reset(); // rolls back: a dry run leaves the database as it found it
    if (committed_)
        committed_();
}

void BatchedChanges::commitBeforeStopping() noexcept
{
    if (!transaction_ || dryRun_)
        return;
    try {
        if (journal_)
            journal_->flush();
        transaction_->commit();
        transaction_.reset();
        if (committed_)
            committed_();
    } catch (...) {
        transaction_.reset();
    }
}

QString storedNote(qint64 rows)
{
    return QStringLiteral("（已存入 %1 筆）").arg(rows);
}

QString dryRunNote()
{
    return QStringLiteral("（試算，資料庫未變更）");
}

} // namespace talvesk::db
