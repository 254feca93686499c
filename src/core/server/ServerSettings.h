#pragma once

// Where an office's shared database is: Env/Database.ini, section [DATABASE], key "server", a libpq
// connection string. Without the file, the desk's own database file is the database.

#include "platform/AppFolder.h"

#include <QString>

#include <optional>

namespace talvesk::server {

// The advisory lock a writing operation holds on the server from its start to its end: one
// writing operation at a time, whichever desk runs it.
inline constexpr qint64 kWritingLock = 0x54616C76736B; // "Talvsk"
// How long a writing operation waits for another clerk's to end.
inline constexpr int kWritingWaitMs = 2000;
// What a clerk is told when another clerk's writing operation holds it past the wait.
inline const QString kAnotherClerkWrites = QStringLiteral("另一位同仁正在寫入共用資料庫，請稍後再試；資料庫未變更");

// Env/Database.ini under the application folder.
QString settingsFile(const platform::AppFolder &app);

// The connection string the file names; nullopt when there is no file or it names no server.
// A string that carries a password is refused (platform::Error): a password belongs in libpq's own
// password file or its environment, never in a file every desk can read.
std::optional<QString> serverConnectionString(const platform::AppFolder &app);

} // namespace talvesk::server
