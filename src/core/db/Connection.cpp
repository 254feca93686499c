#include "db/Connection.h"

namespace talvesk::db {

platform::Database openDatabase(const platform::AppFolder &app)
{
    // Opening writes nothing: a database from before the journal (a restored backup) gets its
    // tables from the first operation that writes, so a backup, a dry run or a read leaves the
    // file byte for byte as it was.
    return platform::Database::open(app.databaseFile());
}

} // namespace talvesk::db
