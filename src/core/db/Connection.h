#pragma once

#include "platform/AppFolder.h"
#include "platform/Database.h"

namespace talvesk::db {

// Where an operation may run: on the desk's file only, or on the office's server too (when
// Env/Database.ini names one). An operation not yet able to run on the server is refused there
// rather than run on the desk's file, which would give the office two truths.
enum class Reach { DeskOnly, DeskOrServer };

// The rule every operation follows: open the application's database (the desk's file by its
// path, or the office's server) at the start of the operation, and let the connection go when it
// ends. Throws platform::Error (53 when the file is missing; it is never created).
platform::Database openDatabase(const platform::AppFolder &app, Reach reach = Reach::DeskOnly);

// The same for an operation that writes: on the server it holds the writing lock until the
// connection goes, waiting at most two seconds for another clerk's operation to end (then
// Error 70, another clerk is writing; nothing changed).
platform::Database openDatabaseToWrite(const platform::AppFolder &app);

// For an operation that reads or writes the desk's file itself (not yet able to run on the
// server): refuses, as openDatabase does, when Env/Database.ini names a server.
void requireDesk(const platform::AppFolder &app);

// Whether Env/Database.ini names a server. Throws platform::Error when it is refused.
bool usesServer(const platform::AppFolder &app);

} // namespace talvesk::db
