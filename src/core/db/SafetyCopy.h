#pragma once

#include "platform/AppFolder.h"
#include "platform/Database.h"

#include <QString>

namespace talvesk::db {

// The copies of the database taken before an operation that replaces or deletes its rows, one
// file per operation in the database's folder, each replaced by the next run of its operation.
inline const QString kBeforeRestore = QStringLiteral("BeforeRestore.mdb");
inline const QString kBeforeClearReceivables = QStringLiteral("BeforeClearReceivables.mdb");
inline const QString kBeforeClearStore = QStringLiteral("BeforeClearStore.mdb");

// Where a safety copy of that name lives: ldb/<name>.
QString safetyCopyFile(const platform::AppFolder &app, const QString &name);

// The line a success message adds: where the database as it was `before` (「清除前」, 「回復前」)
// the operation is kept.
QString safetyCopyReport(const QString &safetyCopy, const QString &before);

// Copies the whole database `db` (which the caller holds, so that nothing changes meanwhile) to
// the safety copy `target`: written under a scratch name, given the database file's permission
// bits and renamed over the previous copy. Of the office's server, the copy is a database file of
// the desk's form made from one snapshot. Throws platform::Error; the previous copy then stays.
void writeSafetyCopy(platform::Database &db, const platform::AppFolder &app, const QString &target);

} // namespace talvesk::db
