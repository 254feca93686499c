#include "platform/ServerAddress.h"

#include "platform/Error.h"

#include <libpq-fe.h>

#include <memory>

namespace talvesk::platform::pg {

namespace {

using Options = std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)>;

QString valueOf(const Options &options, const char *keyword)
{
    for (const PQconninfoOption *o = options.get(); o && o->keyword; ++o)
        if (qstrcmp(o->keyword, keyword) == 0)
            return o->val ? QString::fromUtf8(o->val) : QString();
    return QString();
}

} // namespace

QString ServerAddress::text() const
{
    const QString where = host.isEmpty() ? QStringLiteral("本機預設") : host;
    const bool usualPort = port.isEmpty() || port == QStringLiteral("5432");
    return where + (usualPort ? QString() : u':' + port) + u'/' + database;
}

ServerAddress serverAddress(const QString &connectionString)
{
    char *parseError = nullptr;
    Options parsed(PQconninfoParse(connectionString.toUtf8().constData(), &parseError), &PQconninfoFree);
    if (!parsed) {
        PQfreemem(parseError);
        throw Error(errnum::Database, QStringLiteral("資料庫伺服器的連線設定寫法不正確"));
    }
    // libpq's defaults: the environment's values, the usual port and the user's own name.
    const Options defaults(PQconndefaults(), &PQconninfoFree);
    const auto part = [&](const char *keyword) {
        const QString given = valueOf(parsed, keyword);
        return given.isEmpty() ? valueOf(defaults, keyword) : given;
    };
    ServerAddress address;
    address.host = part("host");
    if (address.host.isEmpty())
        address.host = part("hostaddr");
    address.port = part("port");
    address.database = part("dbname");
    if (address.database.isEmpty())
        address.database = part("user");
    return address;
}

} // namespace talvesk::platform::pg
