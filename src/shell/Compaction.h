#pragma once

#include "platform/AppFolder.h"
#include "platform/Error.h"

#include <optional>

namespace talvesk::shell {

// The file work of the exit sequence: removes a scratch file left by an earlier run, compacts
// the database into the scratch file, and puts the copy in the database file's place in one
// rename, so the database file is never absent. Returns the failure, if any; after a failure the
// database file is byte for byte as it was and no scratch file remains.
std::optional<platform::Error> compactDatabase(const platform::AppFolder &app);

} // namespace talvesk::shell
