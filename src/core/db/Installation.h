#pragma once

#include <QString>

namespace talvesk::db {

// Installation only (the staging tool and test fixtures): creates a new database file at `path`
// from the schema text. Refuses to touch an existing file. Throws platform::Error.
void createDatabase(const QString &path, const QString &schemaSql);

} // namespace talvesk::db
