#pragma once

// What the two tables hold, in 64 bits and a row count each: equal seals mean equal tables.

#include "db/JournalTables.h"

#include <QString>

#include <limits>
#include <optional>

namespace talvesk::db::journal {

// What one table holds, as a number of rows and the sum of the hashes of its cells (each with its
// row id, column, and value with its type). A sum does not care in which order cells are added,
// so what an operation changes can be added to the seal before it, cell by cell, instead of
// reading the tables again.
struct TableSeal {
    qint64 rows = 0;
    quint64 sum = 0;
    bool operator==(const TableSeal &) const = default;
};
using Seal = std::array<TableSeal, kJournalled.size()>;

// A cell's hash: its row id, its column and its value with its type. A table's sum is the sum of
// its cells' hashes, so an update moves it by the cells it changed alone.
quint64 cellHash(qint64 rid, int column, const Value &value);
// The sum of a row's cells' hashes.
quint64 rowHash(qint64 rid, const Value *values, int count);

// Seals are stored as text: "v2;" then rows:sum for each table, and for the state an operation
// left behind "@" and the database file's change counter once it was stored.
QString sealText(const Seal &seal);
// The stored seal without the change counter.
QString sealPart(const QString &stored);
std::optional<Seal> parseSeal(const QString &stored);

// Every row of both tables, read; or only the rows above the given row ids.
using RowIds = std::array<qint64, kJournalled.size()>;
inline constexpr RowIds kEveryRow = {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::min()};
Seal readSeal(platform::Database &db, const RowIds &above = kEveryRow);
// Whether the tables now are in the state `stored` describes, in whichever form it was stored
// (entries from before "v2" hashed both tables in row id order).
bool tablesMatch(platform::Database &db, const QString &stored);

} // namespace talvesk::db::journal
