#pragma once

#include "platform/AppFolder.h"
#include "platform/Database.h"

namespace talvesk::db {

// The rule every operation follows: open the application's database file by its path, with no
// other options, at the start of the operation, and let the connection go when it ends.
// Throws platform::Error (53 when the file is missing; it is never created).
platform::Database openDatabase(const platform::AppFolder &app);

} // namespace talvesk::db
