#include "db/Installation.h"

#include "db/Journal.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <sqlite3.h>

namespace talvesk::db {

using platform::Error;
namespace errnum = platform::errnum;

void createDatabase(const QString &path, const QString &schemaSql)
{
    if (platform::fileExists(path))
        throw Error(errnum::PathFileAccess, QStringLiteral("檔案已存在：") + path);

    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(platform::toFsPath(path).c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        char *message = nullptr;
        rc = sqlite3_exec(db, schemaSql.toUtf8().constData(), nullptr, nullptr, &message);
        if (rc != SQLITE_OK) {
            const QString text = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
            sqlite3_free(message);
            sqlite3_close_v2(db);
            platform::removeFileIfExists(path);
            throw Error(errnum::Database, text);
        }
    }
    const QString openError = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close_v2(db);
    if (rc != SQLITE_OK)
        throw Error(errnum::Database, openError + QStringLiteral(": ") + path);
    // A new database holds the journal from the start, so that nothing is created later by an
    // operation that is meant to leave the file as it is (a dry run).
    try {
        platform::Database created = platform::Database::open(path);
        ensureJournalTables(created);
    } catch (const Error &) {
        platform::removeFileIfExists(path);
        throw;
    }
}

} // namespace talvesk::db
