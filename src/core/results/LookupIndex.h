#pragma once

#include "platform/AppFolder.h"
#include "platform/Database.h"

#include <QString>

#include <functional>
#include <optional>

namespace talvesk::results {

// The lookup's index: the three-character pieces (trigrams) of every receivable's account, name
// and number, so that a fragment few receivables hold is found without reading the table. It lives
// in a file of its own (AppFolder::lookupIndexFile()), never in the database nor in its backups,
// stamped with the state of the database it was made from; it is read only while the database is
// still in that state, and made anew after any change. Losing it loses nothing: the lookup then
// reads the table, as it always could.
namespace lookupindex {

// The state of the database `db` stands in, as a stamp: its change counter (raised by every
// commit of any program), its last row id and its newest journal entry with the seal of the
// tables it left. Empty when it cannot be told (no change counter). The connection must be in a
// read transaction.
QString stampOf(platform::Database &db);

// Whether the index file holds an index of the database as it stands now. On the office's
// server, whose own indexes serve the lookup, there is no file to make: always true there.
bool current(const platform::AppFolder &app);

// Makes the index anew unless it is current: the table read a part at a time (so writers wait
// at most one part), into a scratch file put in place whole once the database is seen not to have
// changed meanwhile. True when an index is current afterwards. `stopRequested` true ends it with
// Error errnum::Cancelled. Throws platform::Error.
bool refresh(const platform::AppFolder &app, const std::function<bool()> &stopRequested = {});

// Attaches the index file to `db` (a connection to the database, outside any transaction) as
// "lookupindex"; false, with nothing attached, when there is none.
bool attach(platform::Database &db, const platform::AppFolder &app);
// Whether the attached index is of the database as `db` reads it: asked inside the read
// transaction whose queries then use the index, so that no commit can come between.
bool attachedIsCurrent(platform::Database &db);
void detach(platform::Database &db) noexcept;

// The index's query for receivables holding `text`: each of its trigrams, all of them; nothing
// for a text shorter than three characters, which the index cannot tell, or one holding a NUL.
std::optional<QString> matchQuery(const QString &text);

} // namespace lookupindex
} // namespace talvesk::results
