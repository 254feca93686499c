#pragma once

#include "platform/AppFolder.h"
#include "platform/Error.h"

#include <optional>

namespace talvesk::shell {

// The file work of the exit sequence: removes a scratch file left by an earlier run, compacts
// the database into the scratch file and copies it back into the database through the engine,
// holding the database alone from the first step to the last so that no row another program
// writes meanwhile is lost. A read-only database is refused (error 70), as is one that another
// connection holds longer than the busy wait. Returns the failure, if any; after a failure the
// database's content is as it was and no scratch file remains.
std::optional<platform::Error> compactDatabase(const platform::AppFolder &app);

} // namespace talvesk::shell
