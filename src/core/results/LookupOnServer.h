#pragma once

#include "platform/Database.h"

#include <string>

namespace talvesk::results {

// The lookup on the office's server: the server computes what the desk's functions compute
// (talvesk_amount, talvesk_status, talvesk_status_caption, talvesk_date, and talvesk_outstanding,
// the key of the outstanding order), so that filtering and sorting a million receivables stay on
// the server, and finds fragments of accounts, names and numbers through pg_trgm's trigram
// indexes instead of the desk's index file.
namespace onserver {

// The statements that make the functions and the indexes the lookup uses (CREATE OR REPLACE and
// IF NOT EXISTS: running them again changes nothing). pg_trgm must be there first.
std::string schemaSql();

// Throws platform::Error, in words a clerk can act on, when the server's database lacks what the
// lookup needs (a database made by an earlier server-init).
void requireLookupObjects(platform::Database &server);

} // namespace onserver
} // namespace talvesk::results
