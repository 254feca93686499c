#include "platform/DatabaseOnServer.h"

#include "platform/Error.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <cctype>

namespace talvesk::platform::detail {

namespace {

bool wordChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

bool sameWord(std::string_view sql, std::size_t at, std::string_view word)
{
    if (sql.size() - at < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(sql[at + i])) != word[i])
            return false;
    return at + word.size() == sql.size() || !wordChar(sql[at + word.size()]);
}

// The server's pg_type numbers of the types a statement of the program can return.
constexpr unsigned kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701,
                   kNumeric = 1700;

} // namespace

std::string serverSql(std::string_view sql, std::vector<unsigned> *unused)
{
    std::vector<bool> named;
    auto name = [&named](unsigned n) {
        if (named.size() <= n)
            named.resize(n + 1, false);
        named[n] = true;
    };
    std::string out;
    out.reserve(sql.size() + 16);
    int nextPlain = 0;
    for (std::size_t i = 0; i < sql.size();) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            // Quoted text or a quoted name, doubled quotes included, goes as it is.
            const std::size_t end = sql.find(c, i + 1);
            const std::size_t stop = end == std::string_view::npos ? sql.size() : end + 1;
            out.append(sql.substr(i, stop - i));
            i = stop;
            continue;
        }
        if (c == '?') {
            std::size_t j = i + 1;
            while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j])))
                ++j;
            out += '$';
            if (j > i + 1) {
                out.append(sql.substr(i + 1, j - i - 1));
                name(unsigned(std::stoul(std::string(sql.substr(i + 1, j - i - 1)))));
            } else {
                out += std::to_string(++nextPlain);
                name(unsigned(nextPlain));
            }
            i = j;
            continue;
        }
        if (wordChar(c) && (i == 0 || !wordChar(sql[i - 1]))) {
            if (sameWord(sql, i, "rowid")) {
                out += "rid";
                i += 5;
                continue;
            }
            if (sameWord(sql, i, "begin")) {
                out += "BEGIN";
                std::size_t j = i + 5;
                while (j < sql.size() && std::isspace(static_cast<unsigned char>(sql[j])))
                    ++j;
                if (sameWord(sql, j, "immediate"))
                    j += 9;
                else if (sameWord(sql, j, "exclusive"))
                    j += 9;
                else
                    j = i + 5;
                i = j;
                continue;
            }
            std::size_t j = i;
            while (j < sql.size() && wordChar(sql[j]))
                ++j;
            out.append(sql.substr(i, j - i));
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
    if (unused)
        for (unsigned n = 1; n < named.size(); ++n)
            if (!named[n])
                unused->push_back(n);
    return out;
}

// ---- statements ----

bool StatementOnServer::next(qint64 &changes)
{
    if (!result) {
        result.emplace(statement.run());
        row = -1;
        changes = writes ? result->changes() : 0;
    }
    ++row;
    return row < result->rowCount();
}

Value StatementOnServer::value(int column)
{
    if (!result || row < 0 || row >= result->rowCount())
        throw Error(errnum::Database, QStringLiteral("敘述沒有目前的列"));
    if (result->isNull(row, column))
        return Value::null();
    const QByteArrayView field = result->utf8(row, column);
    switch (result->type(column)) {
    case kBool:
        return Value::fromInteger(field == "t" ? 1 : 0);
    case kInt2:
    case kInt4:
    case kInt8:
        return Value::fromInteger(result->integer(row, column));
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return Value::fromReal(field.toByteArray().toDouble());
    case kBytea: {
        // The server's hex form: \x followed by two digits a byte.
        if (decoded.size() <= std::size_t(column))
            decoded.resize(std::size_t(column) + 1);
        decoded[std::size_t(column)] = QByteArray::fromHex(field.sliced(std::min<qsizetype>(2, field.size())).toByteArray());
        return Value::fromBlob(decoded[std::size_t(column)]);
    }
    default:
        return Value::fromText(field);
    }
}

QByteArrayView StatementOnServer::utf8(int column)
{
    const Value v = value(column);
    if (v.type == Value::Null)
        return QByteArrayView();
    // bytea as its bytes; every other type as the server writes it.
    return v.type == Value::Blob ? v.view() : result->utf8(row, column);
}

// ---- recorded changes ----

void OnServer::startCapture(std::span<const WatchedTable> tables)
{
    std::string columns;
    for (int i = 1; i <= kRecordedColumns; ++i)
        columns += ", b" + std::to_string(i) + " text";
    for (int i = 1; i <= kRecordedColumns; ++i)
        columns += ", a" + std::to_string(i) + " text";
    // The tables' triggers record into it while the settings are on; it is this session's alone,
    // and goes with the session however it ends. (talvesk.capture: the triggers of an older
    // server-init, which record every row.)
    connection.execute("CREATE TEMP TABLE IF NOT EXISTS talvesk_changes (seq bigint GENERATED ALWAYS AS IDENTITY, "
                       "tab text NOT NULL, kind text NOT NULL, rid bigint NOT NULL, new_rid bigint NOT NULL"
                       + columns + ");"
                       "DELETE FROM pg_temp.talvesk_changes;"
                       "SELECT set_config('talvesk.capture', 'on', false)");
    pg::Statement set = connection.prepare("SELECT set_config($1, $2, false)");
    recorded.clear();
    for (const WatchedTable &table : tables) {
        const std::string name = kRecordingSetting + QByteArray(table.table).toLower().toStdString();
        set.bindUtf8(1, QByteArrayView(name.data(), qsizetype(name.size()))).bind(2, table.upTo).run();
        recorded.push_back(name);
    }
    capturing = true;
}

void OnServer::stopCapture() noexcept
{
    if (!capturing)
        return;
    capturing = false;
    try {
        if (connection.isConnected()) {
            std::string off = "SELECT set_config('talvesk.capture', 'off', false)";
            for (const std::string &name : recorded)
                off += ", set_config('" + name + "', '', false)";
            if (!connection.inTransaction())
                off += "; DELETE FROM pg_temp.talvesk_changes";
            connection.execute(off);
        }
    } catch (...) {
        // A connection that cannot say so is going away, and its recording with it.
    }
    recorded.clear();
}

void OnServer::deliver(RowChangeWatcher &watcher)
{
    if (!capturing)
        return;
    std::string columns;
    for (int i = 1; i <= kRecordedColumns; ++i)
        columns += ", b" + std::to_string(i);
    for (int i = 1; i <= kRecordedColumns; ++i)
        columns += ", a" + std::to_string(i);
    const pg::Result changes = connection.execute(
        "WITH told AS (DELETE FROM pg_temp.talvesk_changes RETURNING *) SELECT tab, kind, rid, new_rid" + columns
        + " FROM told ORDER BY seq");
    std::array<Value, kRecordedColumns> before, after;
    for (int r = 0; r < changes.rowCount(); ++r) {
        const QByteArray table = changes.utf8(r, 0).toByteArray();
        const char kind = changes.utf8(r, 1).isEmpty() ? '?' : changes.utf8(r, 1)[0];
        for (int c = 0; c < kRecordedColumns; ++c) {
            before[std::size_t(c)] = changes.isNull(r, 4 + c) ? Value::null() : Value::fromText(changes.utf8(r, 4 + c));
            after[std::size_t(c)] = changes.isNull(r, 4 + kRecordedColumns + c)
                                        ? Value::null()
                                        : Value::fromText(changes.utf8(r, 4 + kRecordedColumns + c));
        }
        const RowChange::Kind what = kind == 'I' ? RowChange::Insert : kind == 'D' ? RowChange::Delete : RowChange::Update;
        watcher.rowChanging(RowChange(what, table.constData(), changes.integer(r, 2), changes.integer(r, 3),
                                      before.data(), after.data()));
    }
}

std::optional<OnServer::Counted> OnServer::changesCounted()
{
    if (!counting) {
        pg::Statement exists = connection.prepare("SELECT to_regclass($1) IS NOT NULL");
        counting = exists.bind(1, QString::fromLatin1(kChangeCounterTable)).run().text(0, 0) == QLatin1String("t");
    }
    if (!*counting)
        return std::nullopt;
    const pg::Result counted = connection.execute(
        std::string("SELECT n, coalesce(nullif(current_setting('talvesk.own_changes', true), ''), '0')::bigint FROM ")
        + kChangeCounterTable);
    if (counted.rowCount() != 1)
        throw Error(errnum::Database, QStringLiteral("伺服器的變動計數表 %1 不是一列，請由管理者檢查").arg(QLatin1String(kChangeCounterTable)));
    return Counted{counted.integer(0, 0), counted.integer(0, 1)};
}

} // namespace talvesk::platform::detail
