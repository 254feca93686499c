#include "db/Connection.h"

#include "db/Journal.h"

namespace talvesk::db {

platform::Database openDatabase(const platform::AppFolder &app)
{
    platform::Database db = platform::Database::open(app.databaseFile());
    try {
        // A database from before the journal (a restored backup) gets its tables here.
        ensureJournalTables(db);
    } catch (const platform::Error &) {
        // Read-only or held by another program: reading still works, and an operation that
        // needs the journal fails on it with the reason when it starts.
    }
    return db;
}

} // namespace talvesk::db
