#include "db/BatchedChanges.h"

#include "platform/Error.h"

namespace talvesk::db {

BatchedChanges::BatchedChanges(platform::Database &db, int rowsPerCommit, int msPerCommit)
    : db_(db), rowsPerCommit_(rowsPerCommit), msPerCommit_(msPerCommit),
      transaction_(std::make_unique<platform::Transaction>(db))
{
    sinceCommit_.start();
}

BatchedChanges::~BatchedChanges()
{
    try {
        if (transaction_)
            transaction_->commit();
    } catch (const platform::Error &) {
        // The transaction rolls back; the failure that ended the import is the one reported.
    }
}

void BatchedChanges::commit()
{
    transaction_->commit();
    transaction_.reset();
    pending_ = 0;
    transaction_ = std::make_unique<platform::Transaction>(db_);
    sinceCommit_.start();
}

} // namespace talvesk::db
