// The journal's tables: what they are, and making them where they are missing.

#include "db/Journal.h"
#include "db/JournalRows.h"

namespace talvesk::db {

using platform::Database;
using platform::Error;
using platform::Statement;

namespace {

const char *const kJournalTables = R"(
CREATE TABLE IF NOT EXISTS Journal (
    id              INTEGER PRIMARY KEY,
    at              TEXT NOT NULL,
    operation       TEXT NOT NULL,
    file            TEXT NOT NULL,
    counts          TEXT NOT NULL DEFAULT '',
    state           TEXT NOT NULL DEFAULT 'running',
    dropped_why     TEXT NOT NULL DEFAULT '',
    receivables_max INTEGER NOT NULL,
    store_max       INTEGER NOT NULL,
    seal_before     TEXT NOT NULL,
    seal_after      TEXT,
    file_hash       TEXT,
    changes         TEXT
);
CREATE TABLE IF NOT EXISTS JournalProblems (
    seq    INTEGER PRIMARY KEY,
    entry  INTEGER NOT NULL,
    number INTEGER NOT NULL,
    reason TEXT NOT NULL,
    text   TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS JournalProblems_entry ON JournalProblems (entry);
CREATE TABLE IF NOT EXISTS JournalUndo (
    entry INTEGER NOT NULL,
    tab   INTEGER NOT NULL,
    seq   INTEGER NOT NULL,
    data  BLOB NOT NULL,
    PRIMARY KEY (entry, tab, seq)
) WITHOUT ROWID;
)";

} // namespace

bool journalExists(Database &db)
{
    return db.hasTable(QStringLiteral("Journal"));
}

bool journal::hasColumn(Database &db, QLatin1StringView column)
{
    for (const std::string &name : db.columnsOf("Journal"))
        if (QLatin1StringView(name.c_str()) == column)
            return true;
    return false;
}

std::string journal::recordColumns(Database &db)
{
    return std::string("id, at, operation, file, counts, state, dropped_why, ")
           + (hasColumn(db, QLatin1StringView("changes")) ? "coalesce(changes, '')" : "''")
           + (hasColumn(db, QLatin1StringView("host")) ? ", host" : ", ''");
}

void ensureJournalTables(Database &db)
{
    if (db.hasTable(QStringLiteral("Journal")) && db.hasTable(QStringLiteral("JournalProblems"))
        && db.hasTable(QStringLiteral("JournalUndo")) && journal::hasFileHash(db)
        && journal::hasColumn(db, QLatin1StringView("changes")))
        return;
    // The server's tables are made once, by server-init, with the server's own types.
    if (db.isServer())
        throw Error(platform::errnum::Database,
                    QStringLiteral("共用資料庫沒有作業記錄的資料表，請先執行 talvesk-batch server-init"));
    platform::Transaction transaction(db);
    db.execute(kJournalTables);
    if (!journal::hasFileHash(db))
        db.execute("ALTER TABLE Journal ADD COLUMN file_hash TEXT");
    if (!journal::hasColumn(db, QLatin1StringView("changes")))
        db.execute("ALTER TABLE Journal ADD COLUMN changes TEXT");
    transaction.commit();
}

} // namespace talvesk::db
