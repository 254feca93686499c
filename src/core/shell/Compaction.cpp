#include "shell/Compaction.h"

#include "db/Connection.h"
#include "db/Journal.h"
#include "platform/Files.h"

namespace talvesk::shell {

std::optional<platform::Error> compactDatabase(const platform::AppFolder &app)
{
    const QString scratch = app.scratchDatabaseFile();
    // The server keeps its own house: nothing to compact on the desk.
    if (db::usesServer(app))
        return std::nullopt;
    try {
        platform::removeFileIfExists(scratch);
        platform::refuseReadOnlyFile(app.databaseFile());
        {
            platform::Database db = db::openDatabase(app);
            // Held from the compact copy until it is back in place: a row another program
            // commits in between would otherwise be overwritten by the older copy.
            db.lockExclusively();
            db::requireNoOperationRunning(db);
            platform::createEmptyFileLike(scratch, app.databaseFile());
            db.compactInto(scratch);
            platform::Database compacted = platform::Database::open(scratch, platform::Database::ReadOnly);
            // Back through the engine, not by renaming the file: every other connection keeps
            // the same file and sees the compacted content once it may look again.
            db.replaceContentWith(compacted);
        }
        platform::removeFileIfExists(scratch);
        return std::nullopt;
    } catch (const platform::Error &error) {
        try {
            platform::removeFileIfExists(scratch);
        } catch (const platform::Error &) {
            // The next compaction removes it before it starts.
        }
        return error;
    }
}

} // namespace talvesk::shell
