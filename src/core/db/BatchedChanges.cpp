#include "db/BatchedChanges.h"

#include "db/Connection.h"

namespace talvesk::db {

namespace {

// Set before the transaction begins, since the journal mode cannot change inside one.
platform::Database &preparedFor(platform::Database &db, Changes changes)
{
    if (changes == Changes::FirstRows && !db.isServer())
        db.execute("PRAGMA cache_spill = OFF; PRAGMA journal_mode = MEMORY");
    // A dry run commits as the real run does, which only its own copy may take (on the server,
    // which keeps no copies, it runs in one transaction that is never committed).
    if (changes == Changes::DryRun && !db.isPrivate() && !db.isServer())
        throw platform::Error(platform::errnum::Database, QStringLiteral("試算只能在資料庫的副本上進行"));
    return db;
}

} // namespace

BatchedChanges::BatchedChanges(platform::Database &db, std::function<void()> committed, int rowsPerCommit,
                               int msPerCommit, Changes changes, JournalEntry *journal)
    : db_(preparedFor(db, changes)),
      firstRows_(changes == Changes::FirstRows || (changes == Changes::DryRun && db.isServer())), committed_(std::move(committed)),
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
    ++commits_;
    if (committed_)
        committed_();
}

void BatchedChanges::commit()
{
    if (firstRows_)
        return;
    commitOpen();
    transaction_ = std::make_unique<platform::Transaction>(db_);
    sinceCommit_.start();
}

void BatchedChanges::finish()
{
    if (!firstRows_) {
        commitOpen();
        return;
    }
    transaction_.reset(); // rolls back: the database stays as it was found
    if (committed_)
        committed_();
}

void BatchedChanges::commitBeforeStopping() noexcept
{
    if (!transaction_ || firstRows_)
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

platform::Database openDatabaseFor(const platform::AppFolder &app, Changes changes,
                                   const std::function<bool()> &stopRequested, Reach reach)
{
    if (reach == Reach::DeskOnly && usesServer(app))
        return openDatabase(app, reach); // refused
    // A look at the first rows writes nothing it keeps, and takes no writing lock.
    if (changes == Changes::FirstRows)
        return openDatabase(app, Reach::DeskOrServer);
    if (changes == Changes::Keep || usesServer(app))
        return openDatabaseToWrite(app);
    // Opened as it is, without the journal's tables that an operation adds: the copy is taken
    // from what the file holds, and the file stays byte for byte as it was.
    return platform::Database::privateCopyOf(app.databaseFile(), stopRequested);
}

QString storedNote(qint64 rows)
{
    return QStringLiteral("（已存入 %1 筆）").arg(rows);
}

QString changesText(qint64 inserted, qint64 changed, qint64 unchanged)
{
    return QStringLiteral("%1 new, %2 updated, %3 unchanged").arg(inserted).arg(changed).arg(unchanged);
}

QString dryRunNote()
{
    return QStringLiteral("（試算，資料庫未變更）");
}

} // namespace talvesk::db
