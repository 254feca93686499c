#include "server/ServerCopy.h"

#include "db/JournalSeal.h"
#include "db/Tables.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "server/ServerSchema.h"
#include "server/ServerSettings.h"

#include <chrono>
#include <vector>

namespace talvesk::server {

using platform::Error;
using platform::Value;
namespace pg = platform::pg;

namespace {

// What a table holds, as the journal seals it: rows, and the sum of the hashes of every cell with
// its row id and column, each value as the text it is stored as (or NULL).
struct Sum {
    qint64 rows = 0;
    quint64 sum = 0;
    bool operator==(const Sum &) const = default;
};

// The rows read back from the server, a part at a time through a cursor, so memory stays small
// however large the table.
Sum readBack(pg::Connection &server, const ServerTable &table, int columns)
{
    server.execute(std::string("DECLARE back NO SCROLL CURSOR FOR SELECT rid, ") + table.columns + " FROM " + table.name);
    Sum sum;
    for (;;) {
        const pg::Result part = server.execute("FETCH 10000 FROM back");
        if (part.rowCount() == 0)
            break;
        for (int r = 0; r < part.rowCount(); ++r) {
            const qint64 rid = part.integer(r, 0);
            for (int c = 0; c < columns; ++c)
                sum.sum += db::journal::cellHash(rid, c, part.isNull(r, c + 1) ? Value::null() : Value::fromText(part.utf8(r, c + 1)));
            ++sum.rows;
        }
    }
    server.execute("CLOSE back");
    return sum;
}

} // namespace

QString CopyCounts::summary() const
{
    return QStringLiteral("%1 receivables, %2 store records, %3 mapping rows").arg(rows[0]).arg(rows[1]).arg(rows[2] + rows[3]);
}

CopyCounts copyDeskToServer(const platform::AppFolder &app, pg::Connection &server)
{
    platform::Database desk = platform::Database::open(app.databaseFile(), platform::Database::ReadOnly);
    if (const QStringList missing = db::missingProgramTables(desk); !missing.isEmpty())
        throw Error(platform::errnum::Database, QStringLiteral("資料庫檔缺少資料表 %1").arg(missing.join(QStringLiteral("、"))));
    platform::ReadTransaction reading(desk); // the file as one commit left it

    pg::Transaction transaction(server);
    if (!server.lockUntilTransactionEnds(kWritingLock, std::chrono::seconds(2)))
        throw Error(platform::errnum::PermissionDenied, kAnotherClerkWrites);
    if (existingTables(server).size() != tableCount())
        throw Error(platform::errnum::Database, QStringLiteral("伺服器的資料庫還沒有程式的資料表，請先執行 server-init"));
    for (const ServerTable &table : kServerTables) {
        if (server.execute(std::string("SELECT EXISTS (SELECT 1 FROM ") + table.name + ")").text(0, 0) == QLatin1String("t"))
            throw Error(platform::errnum::Database,
                        QStringLiteral("伺服器的資料表 %1 已有資料；只能複製到空的資料表").arg(QLatin1String(table.name)));
    }

    CopyCounts counts;
    for (std::size_t t = 0; t < kServerTables.size(); ++t) {
        const ServerTable &table = kServerTables[t];
        platform::Statement rows = desk.prepare(std::string("SELECT rowid, ") + table.columns + " FROM " + table.name);
        const int columns = rows.columnCount() - 1;
        pg::CopyIn copy(server, std::string("COPY ") + table.name + " (rid, " + table.columns + ") FROM STDIN");
        Sum copied;
        std::vector<pg::CopyField> fields(static_cast<std::size_t>(columns) + 1);
        std::vector<QByteArray> texts(static_cast<std::size_t>(columns));
        while (rows.next()) {
            const qint64 rid = rows.integer(0);
            const QByteArray id = QByteArray::number(rid);
            fields[0] = {id, false};
            for (int c = 0; c < columns; ++c) {
                const Value v = rows.value(c + 1);
                // Every column is text on the server; a number another program stored in the file
                // goes as the text the file's engine writes for it.
                texts[std::size_t(c)] = v.type == Value::Text ? QByteArray(v.bytes, v.size) : v.toText();
                fields[std::size_t(c) + 1] = {texts[std::size_t(c)], v.isNull()};
                copied.sum += db::journal::cellHash(rid, c, v.isNull() ? Value::null() : Value::fromText(texts[std::size_t(c)]));
            }
            copy.addRow(fields);
            ++copied.rows;
        }
        counts.rows[t] = copy.finish();
        // New rows continue after the copied ids.
        if (counts.rows[t] > 0)
            server.execute(std::string("SELECT setval(pg_get_serial_sequence('") + table.name + "', 'rid'), (SELECT max(rid) FROM "
                           + table.name + "))");
        if (readBack(server, table, columns) != copied || counts.rows[t] != copied.rows)
            throw Error(platform::errnum::Database,
                        QStringLiteral("資料表 %1 複製到伺服器後核對不符，伺服器的資料庫未變更").arg(QLatin1String(table.name)));
    }
    transaction.commit();
    return counts;
}

} // namespace talvesk::server
