#include "db/Installation.h"

#include "db/Journal.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <optional>

namespace talvesk::db {

using platform::Error;

void createDatabase(const QString &path, const QString &schemaSql)
{
    std::optional<platform::Database> created(platform::Database::create(path));
    // A new database holds the journal from the start, so that nothing is created later by an
    // operation that is meant to leave the file as it is (a dry run). Whatever fails, no half-made
    // database is left behind.
    try {
        created->execute(schemaSql.toUtf8().toStdString());
        ensureJournalTables(*created);
    } catch (const Error &) {
        created.reset();
        platform::removeFileIfExists(path);
        throw;
    }
}

} // namespace talvesk::db
