#include "db/Connection.h"

#include "platform/Error.h"
#include "server/ServerSettings.h"

namespace talvesk::db {

bool usesServer(const platform::AppFolder &app)
{
    return server::serverConnectionString(app).has_value();
}

namespace {

platform::Error notOnServer(const platform::AppFolder &app)
{
    return platform::Error(platform::errnum::Database, QStringLiteral("這項作業還不能在共用資料庫上進行（%1 指定了共用資料庫）")
                                                          .arg(server::settingsFile(app)));
}

} // namespace

void requireDesk(const platform::AppFolder &app)
{
    if (usesServer(app))
        throw notOnServer(app);
}

platform::Database openDatabase(const platform::AppFolder &app, Reach reach)
{
    if (const std::optional<QString> server = server::serverConnectionString(app)) {
        if (reach == Reach::DeskOnly)
            throw notOnServer(app);
        return platform::Database::connect(*server);
    }
    // Opening writes nothing: a database from before the journal (a restored backup) gets its
    // tables from the first operation that writes, so a backup, a dry run or a read leaves the
    // file byte for byte as it was.
    return platform::Database::open(app.databaseFile());
}

platform::Database openDatabaseToWrite(const platform::AppFolder &app)
{
    platform::Database db = openDatabase(app, Reach::DeskOrServer);
    if (!db.lockForWriting(server::kWritingLock, std::chrono::milliseconds(server::kWritingWaitMs)))
        throw platform::Error(platform::errnum::PermissionDenied, server::kAnotherClerkWrites);
    return db;
}

} // namespace talvesk::db
