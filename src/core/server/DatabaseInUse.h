#pragma once

// Which database this desk works on, for the status line and the batch tool's help, and the
// warning for a desk's database file that lies on a network share.

#include "platform/AppFolder.h"

#include <QString>

#include <functional>
#include <optional>

namespace talvesk::server {

// 「資料庫：本機檔案 <full path>」 for the desk's own file, 「資料庫：共用伺服器 <host>/<database>」
// when Env/Database.ini names a server (never its user or a password), and a text that says the
// file is not taken when Database.ini is refused or cannot be read.
QString describeDatabase(const platform::AppFolder &app);

// Whether a path lies on a network share; empty for platform::onNetworkShare.
using ShareCheck = std::function<bool(const QString &path)>;

// The warning for a desk's database file on a network share, naming the file and the shared mode
// to use instead; nothing when the file is elsewhere or Database.ini names a server.
std::optional<QString> networkShareWarning(const platform::AppFolder &app, const ShareCheck &onShare = {});

} // namespace talvesk::server
