#pragma once

// The office's shared server behind platform::Database: the same statements as on a file, run
// through the libpq layer.

#include "platform/Database.h"
#include "platform/Postgres.h"

#include <optional>
#include <string>
#include <vector>

namespace talvesk::platform::detail {

// A statement written for the file as the server reads it: `?N` and `?` become `$N`, the word
// `rowid` becomes the server's row id column `rid`, and BEGIN IMMEDIATE / EXCLUSIVE a BEGIN (the
// server locks rows, and the writing lock keeps writers apart). Quoted text is left as it is.
// `unused` gets the numbers up to the largest that the text never names (the file lets a
// statement skip some; the server must be told their type).
std::string serverSql(std::string_view sql, std::vector<unsigned> *unused = nullptr);

// The table the server records a journalled connection's row changes in, for this session only,
// and the most columns a recorded table may have.
inline constexpr int kRecordedColumns = 12;

// The session setting that names, for a table, the largest row id whose changes its recording
// triggers record (talvesk.record_f_accountdata…); none while it is unset.
inline constexpr const char *kRecordingSetting = "talvesk.record_";
// The one-row table that counts the transactions that changed the program's tables.
inline constexpr const char *kChangeCounterTable = "talvesk_change_counter";

struct OnServer {
    explicit OnServer(const QString &connectionString) : connection(connectionString) {}
    pg::Connection connection;
    bool capturing = false;
    bool locked = false;
    qint64 lockKey = 0;
    // The tables whose recording settings are on.
    std::vector<std::string> recorded;
    // Whether the server has the change counter (one made by an older server-init has not).
    std::optional<bool> counting;

    // Records the changes to each table of `tables` up to its row id.
    void startCapture(std::span<const WatchedTable> tables);
    void stopCapture() noexcept;
    // Tells `watcher` of every change recorded since the last time, in order, and forgets them.
    void deliver(RowChangeWatcher &watcher);

    // The change counter and how many of its raises are this session's own; nullopt on a server
    // without the counter.
    struct Counted {
        qint64 all = 0;
        qint64 own = 0;
    };
    std::optional<Counted> changesCounted();
};

struct StatementOnServer {
    StatementOnServer(pg::Statement statement, bool writes) : statement(std::move(statement)), writes(writes) {}
    pg::Statement statement;
    bool writes;
    std::optional<pg::Result> result;
    int row = -1;
    // bytea columns of the current row, decoded.
    std::vector<QByteArray> decoded;

    bool next(qint64 &changes);
    Value value(int column);
    // A column as text, as the file gives every value (a number as its digits; NULL empty).
    QByteArrayView utf8(int column);
};

} // namespace talvesk::platform::detail
