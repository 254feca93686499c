#pragma once

#include "platform/AppFolder.h"
#include "platform/Database.h"

#include <QString>

#include <array>

namespace talvesk::db {

// The tables a copy between the office's server and a file of the desk's form holds, with the
// columns copied: the row id first (on the server its `rid` or the journal's own ids), in the
// file's form, so that the file is a desk's database.
struct CopiedTable {
    const char *table;
    const char *key;     // the columns rows are ordered and resumed by
    const char *columns; // after the key
};
extern const std::array<CopiedTable, 7> kCopiedTables;

// Copies `t` from one database into the other (from the server inside its snapshot into a new
// file, or from a backup file into the server's emptied tables), a part at a time.
void copyTable(platform::Database &from, platform::Database &to, const CopiedTable &t);

// Makes `path` a new database file of the desk's form holding the server's tables and journal as
// one snapshot of the server left them, whatever the clerks write meanwhile. Throws platform::Error.
void snapshotServerInto(const platform::AppFolder &app, const QString &path);

} // namespace talvesk::db
