#pragma once

#include "platform/Database.h"

#include <QElapsedTimer>

#include <memory>

namespace talvesk::db {

// Row-by-row changes of an import, many rows per transaction: a row whose change fails is undone
// alone, every row before it stays. Rows are committed every couple of
// seconds (and every `rowsPerCommit` rows), so a long import keeps what it has done; whatever was
// done is committed when the object goes away, also when the import stops on a failure.
class BatchedChanges {
public:
    explicit BatchedChanges(platform::Database &db, int rowsPerCommit = 50000, int msPerCommit = 2000);
    BatchedChanges(const BatchedChanges &) = delete;
    BatchedChanges &operator=(const BatchedChanges &) = delete;
    ~BatchedChanges();

    // Runs `change` as one row. A row writes with one statement at most: the database undoes a
    // failing statement alone, so a row needs no savepoint of its own (one would cost a tenth of
    // the import's time).
    template <typename Change>
    void row(Change &&change)
    {
        change();
        rowDone();
    }

    // Commits the rows done so far (and goes on in a new transaction).
    void commit();

private:
    void rowDone()
    {
        if (++pending_ >= rowsPerCommit_ || (pending_ % 256 == 0 && sinceCommit_.elapsed() >= msPerCommit_))
            commit();
    }

    platform::Database &db_;
    int rowsPerCommit_;
    int msPerCommit_;
    int pending_ = 0;
    QElapsedTimer sinceCommit_;
    std::unique_ptr<platform::Transaction> transaction_;
};

} // namespace talvesk::db
