#pragma once

// Which database this desk works on, for the status line and the batch tool's help, and the
// warning for a desk's database file that lies on a network share.

#include "platform/AppFolder.h"

#include <QString>

#include <functional>
#include <optional>

namespace talvesk::server {

// Which database is in use, in two parts so that a narrow line can keep the first whole.
struct DatabaseInUse {
    QString kind;  // 「資料庫：本機檔案」, 「資料庫：共用伺服器」, or that Database.ini is not taken
    QString place; // the file's full path, the server's <host>/<database>, or why it is not taken
    QString text() const { return kind + u' ' + place; }
};

// The desk's own file by its full path; the server Env/Database.ini names, by where it is and
// which database (never its user or a password); or, when Database.ini is refused or cannot be
// read, that it is not taken and why.
DatabaseInUse databaseInUse(const platform::AppFolder &app);
// The same as one line: 「資料庫：本機檔案 <full path>」, 「資料庫：共用伺服器 <host>/<database>」.
QString describeDatabase(const platform::AppFolder &app);

// Whether a path lies on a network share; empty for platform::onNetworkShare.
using ShareCheck = std::function<bool(const QString &path)>;

// The warning for a desk's database file on a network share, naming the file and the shared mode
// to use instead; nothing when the file is elsewhere or Database.ini names a server.
std::optional<QString> networkShareWarning(const platform::AppFolder &app, const ShareCheck &onShare = {});

} // namespace talvesk::server
