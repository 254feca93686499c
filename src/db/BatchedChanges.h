#pragma once

#include "platform/Database.h"

#include <QElapsedTimer>

#include <memory>

namespace talvesk::db {

// Row-by-row changes of an import, many rows per transaction and a savepoint per row: a row whose
// change throws is undone alone, every row before it stays. Rows are committed every couple of
// seconds (and every `rowsPerCommit` rows), so a long import keeps what it has done; whatever was
// done is committed when the object goes away, also when the import stops on a failure.
class BatchedChanges {
public:
    explicit BatchedChanges(platform::Database &db, int rowsPerCommit = 50000, int msPerCommit = 2000);
    BatchedChanges(const BatchedChanges &) = delete;
    BatchedChanges &operator=(const BatchedChanges &) = delete;
    ~BatchedChanges();

    // Runs `change` as one row.
    template <typename Change>
    void row(Change &&change)
    {
        {
            platform::Savepoint savepoint(db_);
            change();
            savepoint.release();
        }
        if (++pending_ >= rowsPerCommit_ || (pending_ % 256 == 0 && sinceCommit_.elapsed() >= msPerCommit_))
            commit();
    }

    // Commits the rows done so far (and goes on in a new transaction).
    void commit();

private:
    platform::Database &db_;
    int rowsPerCommit_;
    int msPerCommit_;
    int pending_ = 0;
    QElapsedTimer sinceCommit_;
    std::unique_ptr<platform::Transaction> transaction_;
};

} // namespace talvesk::db
