#include "db/Connection.h"

namespace talvesk::db {

platform::Database openDatabase(const platform::AppFolder &app)
{
    return platform::Database::open(app.databaseFile());
}

} // namespace talvesk::db
