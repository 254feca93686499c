#include "db/BatchedChanges.h"

namespace talvesk::db {

BatchedChanges::BatchedChanges(platform::Database &db, std::function<void()> committed, int rowsPerCommit,
                               int msPerCommit, JournalEntry *journal)
    : db_(db), committed_(std::move(committed)), rowsPerCommit_(rowsPerCommit), msPerCommit_(msPerCommit),
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
    commitOpen();
    transaction_ = std::make_unique<platform::Transaction>(db_);
    sinceCommit_.start();
}

void BatchedChanges::finish()
{
    commitOpen();
}

void BatchedChanges::commitBeforeStopping() noexcept
{
    if (!transaction_)
        return;
    try {
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

} // namespace talvesk::db
