#include "shell/Compaction.h"

#include "db/Connection.h"
#include "platform/Files.h"

namespace talvesk::shell {

std::optional<platform::Error> compactDatabase(const platform::AppFolder &app)
{
    const QString scratch = app.scratchDatabaseFile();
    try {
        platform::removeFileIfExists(scratch);
        {
            platform::Database db = db::openDatabase(app);
            db.compactInto(scratch);
        }
        platform::syncFile(scratch);
        platform::replaceFile(scratch, app.databaseFile());
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
