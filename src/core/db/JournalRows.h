#pragma once

// The journal's own rows, as its parts share them: reading an entry, running a statement on ids,
// dropping undo data, and the lock an operation holds while it runs.

#include "db/Journal.h"

#include <initializer_list>
#include <optional>
#include <string>

namespace talvesk::db::journal {

// How an entry's time is stored, local time.
inline const QString kStampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// The columns of Journal that make a JournalRecord, in the order readRecord() reads them (a
// journal made before it kept the rows' changes reads them as empty).
std::string recordColumns(platform::Database &db);
inline constexpr int kRecordColumnCount = 9;
JournalRecord readRecord(const platform::Statement &query);

// Runs `sql` with `values` bound to ?1, ?2, ... in order.
void runWith(platform::Database &db, const std::string &sql, std::initializer_list<qint64> values);
// The first column of the first row of `sql`, an integer; 0 when there is no row.
qint64 firstInteger(platform::Database &db, const std::string &sql);
// The engine's count of commits by other connections, which this connection's own leave as it is.
qint64 dataVersion(platform::Database &db);

// Whether the journal has a column (its files' hashes, its rows' changes: a journal made before
// them has none).
bool hasColumn(platform::Database &db, QLatin1StringView column);
inline bool hasFileHash(platform::Database &db) { return hasColumn(db, QLatin1StringView("file_hash")); }

// Removes the undo data of the entries `where` selects (a condition on Journal, which may use ?1
// for `value`) and says why.
void dropUndoData(platform::Database &db, const std::string &where, std::optional<qint64> value, const QString &why);

// Whether the operation of entry `id` still runs: its process holds the entry's lock file. A lock
// left by a process that is gone is taken over, and so not held.
bool stillRunning(platform::Database &db, qint64 id);
// The lock file an operation holds while it runs, beside the database.
QString runningLockPath(platform::Database &db, qint64 id);

// Why an undo is refused, as the clerk reads it.
platform::Error refusal(const QString &why);

} // namespace talvesk::db::journal
