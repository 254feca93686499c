#pragma once

// Where an office's shared database is: Env/Database.ini, section [DATABASE], key "server", a libpq
// connection string. Without the file, the desk's own database file is the database.

#include "platform/AppFolder.h"

#include <QString>

#include <optional>

namespace talvesk::server {

// Env/Database.ini under the application folder.
QString settingsFile(const platform::AppFolder &app);

// The connection string the file names; nullopt when there is no file or it names no server.
// A string that carries a password is refused (platform::Error): a password belongs in libpq's own
// password file or its environment, never in a file every desk can read.
std::optional<QString> serverConnectionString(const platform::AppFolder &app);

} // namespace talvesk::server
