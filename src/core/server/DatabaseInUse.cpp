#include "server/DatabaseInUse.h"

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/NetworkShare.h"
#include "platform/ServerAddress.h"
#include "server/ServerSettings.h"

#include <QDir>

namespace talvesk::server {

namespace {

// The server Database.ini names; nullopt for none. Throws platform::Error when it is refused.
std::optional<platform::pg::ServerAddress> namedServer(const platform::AppFolder &app)
{
    const std::optional<QString> connection = serverConnectionString(app);
    if (!connection)
        return std::nullopt;
    return platform::pg::serverAddress(*connection);
}

QString deskFile(const platform::AppFolder &app)
{
    return QDir::toNativeSeparators(platform::absolutePath(app.databaseFile()));
}

} // namespace

DatabaseInUse databaseInUse(const platform::AppFolder &app)
{
    try {
        if (const auto server = namedServer(app))
            return {QStringLiteral("資料庫：共用伺服器"), server->text()};
        return {QStringLiteral("資料庫：本機檔案"), deskFile(app)};
    } catch (const platform::Error &error) {
        return {QStringLiteral("資料庫：Env/Database.ini 不予採用"), u'（' + error.description() + u'）'};
    }
}

QString describeDatabase(const platform::AppFolder &app)
{
    return databaseInUse(app).text();
}

std::optional<QString> networkShareWarning(const platform::AppFolder &app, const ShareCheck &onShare)
{
    // A refused Database.ini names no server the desk can use: its file is still the one at risk.
    try {
        if (serverConnectionString(app))
            return std::nullopt;
    } catch (const platform::Error &) {
    }
    const QString file = app.databaseFile();
    if (!(onShare ? onShare(file) : platform::onNetworkShare(file)))
        return std::nullopt;
    return QStringLiteral("資料庫檔案 %1 位於網路共用資料夾，多人同時使用可能損毀資料。多位同仁共用時，請改用共用資料庫伺服器（Env/Database.ini）。")
        .arg(deskFile(app));
}

} // namespace talvesk::server
