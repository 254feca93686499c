#pragma once

// What undoing an operation needs, kept compactly: per table, records appended to a buffer that
// the journal writes into JournalUndo in pieces. A record is the row id, what happened first to
// it, and for an update or a deletion the columns it keeps (a mask) with their values as they
// were before the operation.

#include "db/JournalTables.h"

#include <string>

namespace talvesk::db::journal {

void appendRecord(std::string &buffer, int kind, qint64 rid, unsigned mask, const Value *values, int columns);

// Puts back what entry `id`'s records hold for table `tab` (an index into kJournalled).
// Throws platform::Error, also for records that do not read back.
void undoRecords(platform::Database &db, qint64 id, std::size_t tab);

} // namespace talvesk::db::journal
