#pragma once

// How an office moves to the shared database: a desk's database file copied whole into the
// server's empty tables, every row under its own row id, in one transaction that is kept only when
// the server's tables then hold the same rows as the file, by count and by seal.

#include "platform/AppFolder.h"
#include "platform/Postgres.h"

#include <QString>

#include <array>

namespace talvesk::server {

struct CopyCounts {
    // Rows copied, per table of kServerTables.
    std::array<qint64, 4> rows{};
    // "N receivables, M store records, K mapping rows": the batch tool's line.
    QString summary() const;
};

// Copies the database file of `app` into `server`, whose tables (createTables) must all be empty.
// The file is read as one commit left it; nothing is kept on the server unless every table
// checks out. Throws platform::Error (nothing copied).
CopyCounts copyDeskToServer(const platform::AppFolder &app, platform::pg::Connection &server);

} // namespace talvesk::server
