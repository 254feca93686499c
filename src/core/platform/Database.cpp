#include "platform/Database.h"

#include "platform/DatabaseOnServer.h"

#include "platform/Error.h"
#include "platform/Files.h"

#include <QFile>

// Row watchers are told of changes through the engine's pre-update hook, which Debian's SQLite is
// built with; its declarations are behind this switch.
#define SQLITE_ENABLE_PREUPDATE_HOOK
#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <type_traits>
#include <utility>

namespace talvesk::platform {

static_assert(std::is_trivially_destructible_v<Value>);
static_assert(Value::Integer == SQLITE_INTEGER && Value::Real == SQLITE_FLOAT && Value::Text == SQLITE_TEXT
              && Value::Blob == SQLITE_BLOB && Value::Null == SQLITE_NULL);

namespace {

// What a clerk is told first; the engine's own words follow for whoever has to look further.
QString databaseReason(int code)
{
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("資料庫正被其他程式使用中，請稍後再試");
    case SQLITE_FULL:
        return QStringLiteral("磁碟空間不足");
    case SQLITE_IOERR:
        return QStringLiteral("磁碟讀寫錯誤");
    case SQLITE_READONLY:
        return QStringLiteral("資料庫是唯讀的，無法寫入");
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return QStringLiteral("資料庫檔案已損壞或不是資料庫");
    case SQLITE_CANTOPEN:
        return QStringLiteral("無法開啟資料庫檔案");
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("沒有存取資料庫的權限");
    case SQLITE_NOMEM:
        return QStringLiteral("記憶體不足");
    case SQLITE_TOOBIG:
        return QStringLiteral("資料過大");
    case SQLITE_CONSTRAINT:
        return QStringLiteral("資料不符合資料表的限制");
    default:
        return QStringLiteral("資料庫錯誤");
    }
}

// How long a connection waits for another to let the database go.
constexpr int kBusyTimeoutMs = 2000;

// The busy timeout, for a copy that may be asked to stop while it waits for a writer's commit.
int waitUnlessStopped(void *stopRequested, int count)
{
    constexpr int kPollMs = 10;
    const auto &stop = *static_cast<const std::function<bool()> *>(stopRequested);
    if (count * kPollMs >= kBusyTimeoutMs || (stop && stop()))
        return 0;
    sqlite3_sleep(kPollMs);
    return 1;
}

// Every failure the engine reports becomes an Error here, and only here: a database another
// connection holds is always 70 with its reason, a statement made to stop is always Cancelled.
Error databaseError(sqlite3 *db, int code)
{
    if ((code & 0xff) == SQLITE_INTERRUPT)
        return stoppedError();
    const char *message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    const QString description = databaseReason(code) + QStringLiteral("（") + QString::fromUtf8(message) + QStringLiteral("）");
    // A database another connection holds, or one the engine may only read, is the database in
    // use or refused: the number every window reads that way.
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_READONLY:
        return Error(errnum::PermissionDenied, description);
    default:
        return Error(errnum::Database, description);
    }
}

void check(sqlite3 *db, int code)
{
    if (code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE)
        throw databaseError(db, code);
}

// A value the engine hands over. Text is taken as its bytes: asking for text would copy a value
// read from a row only to end it with a NUL, which nothing here needs (the type stays text).
Value valueOf(sqlite3_value *v)
{
    Value out;
    out.type = static_cast<Value::Type>(sqlite3_value_type(v));
    if (out.type == Value::Integer) {
        out.integer = sqlite3_value_int64(v);
    } else if (out.type == Value::Real) {
        out.real = sqlite3_value_double(v);
    } else if (out.type == Value::Text || out.type == Value::Blob) {
        out.bytes = static_cast<const char *>(sqlite3_value_blob(v));
        out.size = sqlite3_value_bytes(v);
        if (!out.bytes) // an empty value has no bytes at all
            out.bytes = "";
    }
    return out;
}

} // namespace

QByteArray Value::toText() const
{
    switch (type) {
    case Integer:
        return QByteArray::number(integer);
    case Real: {
        // The engine's own form for a real number turned into text.
        char text[64];
        sqlite3_snprintf(sizeof text, text, "%!.15g", real);
        return QByteArray(text);
    }
    case Text:
    case Blob:
        return QByteArray(bytes, size);
    case Null:
        break;
    }
    return QByteArray();
}

Value RowChange::before(int column) const
{
    if (!db_)
        return before_[column];
    sqlite3_value *v = nullptr;
    const int rc = sqlite3_preupdate_old(db_, column, &v);
    if (rc != SQLITE_OK || !v)
        throw databaseError(db_, rc == SQLITE_OK ? SQLITE_ERROR : rc);
    return valueOf(v);
}

Value RowChange::after(int column) const
{
    if (!db_)
        return after_[column];
    sqlite3_value *v = nullptr;
    const int rc = sqlite3_preupdate_new(db_, column, &v);
    if (rc != SQLITE_OK || !v)
        throw databaseError(db_, rc == SQLITE_OK ? SQLITE_ERROR : rc);
    return valueOf(v);
}

bool RowChange::writesBlobInPlace() const
{
    if (!db_)
        return false;
    return sqlite3_preupdate_blobwrite(db_) >= 0;
}

// ---- Statement ----

Statement::Statement(sqlite3_stmt *stmt, sqlite3 *db)
    : stmt_(stmt), db_(db), bound_(static_cast<std::size_t>(sqlite3_bind_parameter_count(stmt)) + 1)
{
}

Statement::Statement(std::unique_ptr<detail::StatementOnServer> server) : server_(std::move(server)) {}

Statement::Statement(Statement &&other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)), db_(other.db_), changes_(other.changes_), bound_(std::move(other.bound_)),
      server_(std::move(other.server_))
{
}

Statement &Statement::operator=(Statement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(stmt_);
        stmt_ = std::exchange(other.stmt_, nullptr);
        db_ = other.db_;
        changes_ = other.changes_;
        bound_ = std::move(other.bound_);
        server_ = std::move(other.server_);
    }
    return *this;
}

Statement::~Statement()
{
    sqlite3_finalize(stmt_);
}

Statement &Statement::bind(int index, QStringView value)
{
    if (server_) {
        server_->statement.bind(index, value);
        return *this;
    }
    if (index < 1 || static_cast<std::size_t>(index) >= bound_.size())
        throw Error(errnum::Database, QStringLiteral("bind: no parameter ") + QString::number(index));
    // The UTF-8 is kept here until the value is bound again, so SQLite need not copy it. ASCII,
    // the usual value, is copied into the buffer the parameter already has.
    QByteArray &utf8 = bound_[static_cast<std::size_t>(index)];
    const qsizetype size = value.size();
    const char16_t *chars = value.utf16();
    bool ascii = true;
    for (qsizetype i = 0; i < size && ascii; ++i)
        ascii = chars[i] < 0x80;
    if (ascii) {
        utf8.resize(size);
        char *out = utf8.data();
        for (qsizetype i = 0; i < size; ++i)
            out[i] = static_cast<char>(chars[i]);
    } else {
        utf8 = value.toUtf8();
    }
    check(db_, sqlite3_bind_text(stmt_, index, utf8.isNull() ? "" : utf8.constData(), static_cast<int>(utf8.size()),
                                 SQLITE_STATIC));
    return *this;
}

Statement &Statement::bind(int index, qint64 value)
{
    if (server_) {
        server_->statement.bind(index, value);
        return *this;
    }
    check(db_, sqlite3_bind_int64(stmt_, index, value));
    return *this;
}

Statement &Statement::bind(int index, const Value &value)
{
    if (server_) {
        pg::Statement &on = server_->statement;
        switch (value.type) {
        case Value::Integer:
            on.bind(index, value.integer);
            break;
        case Value::Real:
            on.bindUtf8(index, value.toText());
            break;
        case Value::Text:
            on.bindUtf8(index, value.view());
            break;
        case Value::Blob:
            on.bindUtf8(index, QByteArray("\\x").append(value.view().toByteArray().toHex()));
            break;
        case Value::Null:
            on.bindNull(index);
            break;
        }
        return *this;
    }
    switch (value.type) {
    case Value::Integer:
        check(db_, sqlite3_bind_int64(stmt_, index, value.integer));
        break;
    case Value::Real:
        check(db_, sqlite3_bind_double(stmt_, index, value.real));
        break;
    case Value::Text:
        check(db_, sqlite3_bind_text64(stmt_, index, value.bytes ? value.bytes : "", sqlite3_uint64(value.size),
                                       SQLITE_TRANSIENT, SQLITE_UTF8));
        break;
    case Value::Blob:
        check(db_, sqlite3_bind_blob64(stmt_, index, value.bytes ? value.bytes : "", sqlite3_uint64(value.size),
                                       SQLITE_TRANSIENT));
        break;
    case Value::Null:
        check(db_, sqlite3_bind_null(stmt_, index));
        break;
    }
    return *this;
}

Statement &Statement::bindNull(int index)
{
    if (server_) {
        server_->statement.bindNull(index);
        return *this;
    }
    check(db_, sqlite3_bind_null(stmt_, index));
    return *this;
}

bool Statement::next()
{
    if (server_)
        return server_->next(changes_);
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE) {
        // The engine counts the last statement that changed rows, which a query is not.
        changes_ = sqlite3_stmt_readonly(stmt_) ? 0 : sqlite3_changes64(db_);
        return false;
    }
    // Leave the statement reusable after the failure is reported.
    sqlite3_reset(stmt_);
    throw databaseError(db_, rc);
}

void Statement::run()
{
    while (next()) {
    }
}

void Statement::reset()
{
    if (server_) {
        server_->result.reset();
        server_->statement.bindAllNull();
        return;
    }
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int Statement::columnCount() const
{
    if (server_)
        return server_->result ? server_->result->columnCount() : 0;
    return sqlite3_column_count(stmt_);
}

QString Statement::columnName(int column) const
{
    if (server_)
        return server_->result ? server_->result->columnName(column) : QString();
    return QString::fromUtf8(sqlite3_column_name(stmt_, column));
}

QString Statement::text(int column) const
{
    if (server_)
        return QString::fromUtf8(utf8(column));
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
    if (!data)
        return QString();
    return QString::fromUtf8(data, sqlite3_column_bytes(stmt_, column));
}

QByteArrayView Statement::utf8(int column) const
{
    if (server_)
        return server_->utf8(column);
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
    return data ? QByteArrayView(data, sqlite3_column_bytes(stmt_, column)) : QByteArrayView();
}

qint64 Statement::integer(int column) const
{
    if (server_) {
        const Value v = server_->value(column);
        return v.type == Value::Integer ? v.integer : v.type == Value::Real ? qint64(v.real) : v.view().toLongLong();
    }
    return sqlite3_column_int64(stmt_, column);
}

bool Statement::isNull(int column) const
{
    if (server_)
        return server_->value(column).isNull();
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

Value Statement::value(int column) const
{
    if (server_)
        return server_->value(column);
    // One call for the column, then the value's own accessors: each column accessor checks the
    // connection for a failed allocation, which costs more than the reading itself on a table
    // read whole. A connection is only ever used from one thread at a time.
    return valueOf(sqlite3_column_value(stmt_, column));
}

// ---- Database ----

Database Database::open(const QString &path, Mode mode)
{
    return open(path, mode, nullptr);
}

Database Database::create(const QString &path)
{
    if (fileExists(path))
        throw Error(errnum::PathFileAccess, QStringLiteral("檔案已存在：") + path);
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(libraryPath(path).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const Error error = databaseError(db, rc);
        sqlite3_close_v2(db);
        throw Error(error.number(), error.description() + QStringLiteral("：") + path);
    }
    Database database(db);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return database;
}

Database Database::open(const QString &path, Mode mode, const std::function<bool()> *stopRequested)
{
    std::error_code ec;
    const auto fsPath = toFsPath(path);
    const auto status = std::filesystem::status(fsPath, ec);
    if (!std::filesystem::exists(status))
        throw Error(errnum::FileNotFound, QStringLiteral("找不到資料庫檔案：") + path);
    if (!std::filesystem::is_regular_file(status))
        throw Error(errnum::PathFileAccess, QStringLiteral("資料庫不是一般檔案：") + path);

    sqlite3 *db = nullptr;
    // No SQLITE_OPEN_CREATE: a file that vanished since the check above is not made anew.
    const int rc = sqlite3_open_v2(libraryPath(path).constData(), &db,
                                   (mode == ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        Error error = rc == SQLITE_CANTOPEN ? fileError(errno ? errno : ENOENT, path)
                                            : databaseError(db, rc);
        sqlite3_close_v2(db);
        throw error;
    }
    Database database(db);
    if (stopRequested)
        sqlite3_busy_handler(db, &waitUnlessStopped, const_cast<std::function<bool()> *>(stopRequested));
    else
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // Reading the schema proves the file is a database before any operation relies on it.
    try {
        database.execute("PRAGMA schema_version");
    } catch (const Error &) {
        if (stopRequested && *stopRequested && (*stopRequested)())
            throw stoppedError();
        throw;
    }
    // A larger page cache keeps the account index in memory through a 100,000-row import.
    database.execute("PRAGMA cache_size = -32768");
    if (mode == ReadWrite) {
        // The program keeps the rollback journal: in WAL mode committed rows can sit in a side
        // file that a backup (a copy of the one file) would miss. A file another program put
        // into WAL mode goes back before anything else; while that program holds it, error 70.
        Statement journal = database.prepare("PRAGMA main.journal_mode");
        const bool wal = journal.next() && journal.text(0).compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
        journal.reset();
        if (wal) {
            // The engine leaves the mode as it was, rather than failing, while another connection
            // has the file open.
            Statement back = database.prepare("PRAGMA main.journal_mode = DELETE");
            if (!back.next() || back.text(0).compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0)
                throw Error(errnum::PermissionDenied,
                            QStringLiteral("資料庫被其他程式以 WAL 模式開啟中，請先關閉該程式：") + path);
        }
    }
    return database;
}

Database Database::connect(const QString &connectionString)
{
    return Database(std::make_unique<detail::OnServer>(connectionString));
}

Database::Database(sqlite3 *db) : db_(db) {}

Database::Database(std::unique_ptr<detail::OnServer> server) : server_(std::move(server)) {}

QString Database::serverName() const
{
    return server_ ? server_->connection.serverName() : QString();
}

void Database::requireFile(const char *what) const
{
    if (server_)
        throw Error(errnum::Database, QStringLiteral("共用資料庫伺服器不能這樣做：") + QLatin1String(what));
}

Database::Database(Database &&other) noexcept
    : db_(std::exchange(other.db_, nullptr)), stopRequested_(std::move(other.stopRequested_)),
      watcher_(std::exchange(other.watcher_, nullptr)), server_(std::move(other.server_))
{
}

Database &Database::operator=(Database &&other) noexcept
{
    if (this != &other) {
        close();
        db_ = std::exchange(other.db_, nullptr);
        stopRequested_ = std::move(other.stopRequested_);
        watcher_ = std::exchange(other.watcher_, nullptr);
        server_ = std::move(other.server_);
    }
    return *this;
}

Database::~Database()
{
    close();
}

void Database::close() noexcept
{
    // The server ends the session's transaction, its lock and its recording with the connection.
    server_.reset();
    if (db_) {
        rollback();
        sqlite3_close_v2(std::exchange(db_, nullptr));
    }
    watcher_ = nullptr;
}

Statement Database::prepare(std::string_view sql)
{
    if (server_) {
        std::vector<unsigned> unused;
        const std::string text = detail::serverSql(sql, &unused);
        // Only a statement that changes rows counts them (the server also counts a query's rows).
        const std::size_t first = text.find_first_not_of(" \t\r\n(");
        const QByteArray verb = first == std::string::npos ? QByteArray() : QByteArray::fromStdString(text.substr(first, 6)).toUpper();
        const bool writes = verb == "INSERT" || verb == "UPDATE" || verb == "DELETE";
        return Statement(std::make_unique<detail::StatementOnServer>(server_->connection.prepare(text, unused), writes));
    }
    sqlite3_stmt *stmt = nullptr;
    check(db_, sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr));
    return Statement(stmt, db_);
}

void Database::execute(std::string_view sql)
{
    if (server_) {
        server_->connection.execute(detail::serverSql(sql));
        return;
    }
    const std::string text(sql);
    check(db_, sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr));
}

void Database::rollback() noexcept
{
    if (server_) {
        server_->connection.rollback();
        return;
    }
    if (db_ && !sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

qint64 Database::lastInsertRowid() const
{
    if (server_)
        return server_->connection.execute("SELECT lastval()").integer(0, 0);
    return sqlite3_last_insert_rowid(db_);
}

void Database::interrupt()
{
    if (server_) {
        server_->connection.cancel();
        return;
    }
    if (db_)
        sqlite3_interrupt(db_);
}

namespace {

void callFunction(sqlite3_context *context, int count, sqlite3_value **values)
{
    const auto &function = *static_cast<const Database::Function *>(sqlite3_user_data(context));
    // Only as many values as there are arguments: a function runs once per row of a large
    // statement, where making all kMaxFunctionArguments first would cost more than the rest.
    alignas(Value) unsigned char storage[sizeof(Value) * Database::kMaxFunctionArguments];
    auto *arguments = reinterpret_cast<Value *>(storage);
    for (int i = 0; i < count; ++i)
        new (&arguments[i]) Value(valueOf(values[i]));
    try {
        const Value result = function(std::span<const Value>(arguments, std::size_t(count)));
        switch (result.type) {
        case Value::Integer:
            sqlite3_result_int64(context, result.integer);
            break;
        case Value::Real:
            sqlite3_result_double(context, result.real);
            break;
        case Value::Text:
            sqlite3_result_text64(context, result.bytes ? result.bytes : "", sqlite3_uint64(result.size),
                                  SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        case Value::Blob:
            sqlite3_result_blob64(context, result.bytes ? result.bytes : "", sqlite3_uint64(result.size), SQLITE_TRANSIENT);
            break;
        case Value::Null:
            sqlite3_result_null(context);
            break;
        }
    } catch (const Error &error) {
        const QByteArray words = error.description().toUtf8();
        sqlite3_result_error(context, words.constData(), int(words.size()));
    } catch (const std::bad_alloc &) {
        sqlite3_result_error_nomem(context);
    } catch (const std::exception &error) {
        sqlite3_result_error(context, error.what(), -1);
    } catch (...) {
        sqlite3_result_error(context, "function failed", -1);
    }
}

void destroyFunction(void *function)
{
    delete static_cast<Database::Function *>(function);
}

} // namespace

void Database::tellRowChange(void *watcher, sqlite3 *db, int op, const char *database, const char *table,
                             long long key, long long newKey)
{
    if (std::strcmp(database, "main") != 0)
        return;
    // The engine gives an insertion's row id as the new one and a deletion's as the old one; the
    // other stands for the same row.
    const RowChange change(db, op == SQLITE_INSERT ? RowChange::Insert : op == SQLITE_DELETE ? RowChange::Delete : RowChange::Update,
                           table, op == SQLITE_INSERT ? newKey : key, op == SQLITE_DELETE ? key : newKey);
    static_cast<RowChangeWatcher *>(watcher)->rowChanging(change);
}

void Database::addFunction(const char *name, int arguments, int use, Function function)
{
    requireFile("SQL functions of the program's own");
    if (arguments < 0 || arguments > kMaxFunctionArguments)
        throw Error(errnum::Database, QStringLiteral("函數的參數太多：") + QLatin1String(name));
    const int flags = SQLITE_UTF8 | ((use & Deterministic) ? SQLITE_DETERMINISTIC : 0)
                      | ((use & DirectOnly) ? SQLITE_DIRECTONLY : 0);
    // The engine owns the copy from here, and destroys it also when registering fails.
    check(db_, sqlite3_create_function_v2(db_, name, arguments, flags, new Function(std::move(function)), &callFunction,
                                          nullptr, nullptr, &destroyFunction));
}

void Database::removeFunction(const char *name, int arguments) noexcept
{
    if (server_)
        return;
    if (db_)
        sqlite3_create_function_v2(db_, name, arguments, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr, nullptr);
}

void Database::watchRowChanges(RowChangeWatcher *watcher, std::span<const WatchedTable> tables)
{
    if (server_) {
        if (watcher && !server_->capturing)
            server_->startCapture(tables);
        else if (!watcher)
            server_->stopCapture();
    }
    watcher_ = watcher;
    if (db_)
        sqlite3_preupdate_hook(db_, watcher ? &tellRowChange : nullptr, watcher);
}

void Database::deliverRowChanges()
{
    if (server_ && watcher_)
        server_->deliver(*watcher_);
}

std::vector<std::string> Database::columnsOf(const char *table)
{
    std::vector<std::string> columns;
    if (server_) {
        pg::Statement query = server_->connection.prepare(
            "SELECT attname FROM pg_attribute WHERE attrelid = to_regclass($1) AND attnum > 0 AND NOT attisdropped "
            "AND attname <> 'rid' ORDER BY attnum");
        const pg::Result names = query.bind(1, QString::fromLatin1(table).toLower()).run();
        for (int r = 0; r < names.rowCount(); ++r)
            columns.push_back(names.utf8(r, 0).toByteArray().toStdString());
        return columns;
    }
    Statement info = prepare(std::string("PRAGMA main.table_info(") + table + ")");
    while (info.next())
        columns.push_back(info.text(1).toStdString());
    return columns;
}

qint64 Database::dataVersion()
{
    if (server_) {
        const std::optional<detail::OnServer::Counted> counted = server_->changesCounted();
        return counted ? counted->all - counted->own : 0;
    }
    Statement version = prepare("PRAGMA main.data_version");
    return version.next() ? version.integer(0) : 0;
}

bool Database::lockForWriting(qint64 key, std::chrono::milliseconds wait)
{
    if (!server_)
        return true;
    if (server_->locked)
        return true;
    server_->locked = server_->connection.lockForSession(key, wait);
    server_->lockKey = key;
    return server_->locked;
}

void Database::unlockWriting() noexcept
{
    if (server_ && server_->locked) {
        server_->locked = false;
        server_->connection.unlockSession(server_->lockKey);
    }
}

bool Database::writingLockHeldElsewhere(qint64 key)
{
    if (!server_)
        return false;
    pg::Statement held = server_->connection.prepare(
        "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND granted AND pid <> pg_backend_pid() "
        "AND database = (SELECT oid FROM pg_database WHERE datname = current_database()) "
        "AND ((classid::bigint << 32) | objid::bigint) = $1");
    return held.bind(1, key).run().integer(0, 0) > 0;
}

std::optional<quint32> Database::changeCounter()
{
    if (server_) {
        const std::optional<detail::OnServer::Counted> counted = server_->changesCounted();
        return counted ? std::optional<quint32>(quint32(counted->all)) : std::nullopt;
    }
    sqlite3_file *file = nullptr;
    if (!db_ || sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file
        || !file->pMethods)
        return std::nullopt;
    unsigned char header[100];
    if (file->pMethods->xRead(file, header, sizeof header, 0) != SQLITE_OK)
        return std::nullopt;
    // Format bytes 1 and 1: a rollback journal. In WAL mode the counter is not kept.
    if (header[18] != 1 || header[19] != 1)
        return std::nullopt;
    return (quint32(header[24]) << 24) | (quint32(header[25]) << 16) | (quint32(header[26]) << 8) | quint32(header[27]);
}

bool Database::hasTable(const QString &name)
{
    if (server_) {
        // The program's names are unquoted, which the server folds to lower case.
        pg::Statement exists = server_->connection.prepare("SELECT to_regclass($1) IS NOT NULL");
        return exists.bind(1, name.toLower()).run().text(0, 0) == QLatin1String("t");
    }
    Statement query = prepare("SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
    query.bind(1, name);
    return query.next();
}

void Database::compactInto(const QString &target)
{
    requireFile("compaction");
    Statement vacuum = prepare("VACUUM INTO ?1");
    vacuum.bind(1, target);
    vacuum.run();
}

void Database::lockExclusively()
{
    requireFile("an exclusive lock");
    // An empty exclusive transaction takes the strongest lock, waiting by the busy timeout; in
    // exclusive locking mode the connection keeps it past the commit until it closes. The mode is
    // set only once the lock is held: set before, a wait would keep the shared lock it had taken
    // and stop a writer that holds the database from ever committing.
    execute("BEGIN EXCLUSIVE");
    try {
        execute("PRAGMA locking_mode = EXCLUSIVE");
        execute("COMMIT");
    } catch (const Error &) {
        rollback();
        throw;
    }
}

void Database::replaceContentWith(Database &source)
{
    requireFile("a copy of pages");
    source.requireFile("a copy of pages");
    sqlite3_backup *backup = sqlite3_backup_init(db_, "main", source.db_, "main");
    if (!backup)
        throw databaseError(db_, sqlite3_errcode(db_));
    // All pages in one step: one transaction on this database, waited for by its busy handler.
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE)
        throw databaseError(nullptr, stepped);
    if (finished != SQLITE_OK)
        throw databaseError(db_, finished);
}

void Database::copyInto(const QString &target)
{
    Database copy = create(target);
    copy.replaceContentWith(*this);
}

namespace {

// About a megabyte of pages per step: the other connections' writes wait a millisecond or two.
constexpr int kPagesPerCopyStep = 256;

int askStopRequested(void *stopRequested)
{
    return (*static_cast<std::function<bool()> *>(stopRequested))() ? 1 : 0;
}


} // namespace

Database Database::privateCopyOf(const QString &path, std::function<bool()> stopRequested)
{
    // The source waits for a writer's commit by the busy timeout, unless asked to stop.
    Database source = open(path, ReadWrite, &stopRequested);
    // The empty name is the engine's private scratch file, deleted when the connection closes.
    sqlite3 *out = nullptr;
    const int rc = sqlite3_open_v2("", &out, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        Error error = databaseError(out, rc);
        sqlite3_close_v2(out);
        throw error;
    }
    Database copy(out);
    copy.execute("PRAGMA cache_size = -32768");
    sqlite3_backup *backup = sqlite3_backup_init(out, "main", source.db_, "main");
    if (!backup)
        throw databaseError(out, sqlite3_errcode(out));
    // Each step reads the source under a shared lock of its own and lets it go before it
    // returns. A write by another connection between two steps makes the next step start over.
    int stepped = SQLITE_OK;
    while (stepped == SQLITE_OK && !(stopRequested && stopRequested()))
        stepped = sqlite3_backup_step(backup, kPagesPerCopyStep);
    const int finished = sqlite3_backup_finish(backup);
    if (stopRequested && stopRequested() && stepped != SQLITE_DONE)
        throw stoppedError();
    if (stepped != SQLITE_DONE)
        throw databaseError(nullptr, stepped);
    if (finished != SQLITE_OK)
        throw databaseError(out, finished);
    if (stopRequested) {
        copy.stopRequested_ = std::make_unique<std::function<bool()>>(std::move(stopRequested));
        sqlite3_progress_handler(out, 1000, &askStopRequested, copy.stopRequested_.get());
    }
    return copy;
}

bool Database::isPrivate() const
{
    if (server_)
        return false;
    const char *file = sqlite3_db_filename(db_, "main");
    return !file || !*file;
}

QStringList Database::integrityProblems(int limit)
{
    // The server keeps its own pages sound.
    if (server_)
        return {};
    // A pragma's argument cannot be bound; the limit is a number of the program's own.
    Statement check = prepare("PRAGMA integrity_check(" + std::to_string(limit) + ")");
    QStringList problems;
    while (check.next())
        problems << check.text(0);
    if (problems == QStringList{QStringLiteral("ok")})
        problems.clear();
    return problems;
}

bool Database::inTransaction() const
{
    if (server_)
        return server_->connection.inTransaction();
    return db_ && !sqlite3_get_autocommit(db_);
}

QString Database::filePath() const
{
    const char *name = db_ ? sqlite3_db_filename(db_, "main") : nullptr;
    return name ? QFile::decodeName(name) : QString();
}

// ---- Transaction ----

// ---- RowInserter ----

RowInserter::RowInserter(Database &db, const char *table, std::initializer_list<const char *> columns,
                         std::initializer_list<const char *> emptyColumns)
    : db_(db), columns_(int(columns.size())), emptyColumns_(int(emptyColumns.size()))
{
    std::string names;
    for (const char *column : columns)
        names += std::string(names.empty() ? "" : ", ") + column;
    for (const char *column : emptyColumns)
        names += std::string(names.empty() ? "" : ", ") + column;
    if (db.server_) {
        copySql_ = std::string("COPY ") + table + " (" + names + ") FROM STDIN";
        utf8_.resize(std::size_t(columns_));
        return;
    }
    std::string values;
    for (int i = 1; i <= columns_; ++i)
        values += (i > 1 ? ", ?" : "?") + std::to_string(i);
    for (int i = 0; i < emptyColumns_; ++i)
        values += values.empty() ? "''" : ", ''";
    statement_.emplace(db.prepare(std::string("INSERT INTO ") + table + " (" + names + ") VALUES (" + values + ")"));
}

void RowInserter::insert(const QStringList &values)
{
    if (values.size() != columns_)
        throw Error(errnum::Database, QStringLiteral("新增的列有 %1 個值，應有 %2 個").arg(values.size()).arg(columns_));
    if (statement_) {
        for (int i = 0; i < columns_; ++i)
            statement_->bind(i + 1, values.at(i));
        statement_->run();
        statement_->reset();
        return;
    }
    std::vector<pg::CopyField> fields(std::size_t(columns_ + emptyColumns_));
    for (int i = 0; i < columns_; ++i) {
        // A lone surrogate goes as the replacement character, as a bound value does.
        utf8_[std::size_t(i)] = values.at(i).toUtf8();
        fields[std::size_t(i)] = {utf8_[std::size_t(i)], false};
    }
    db_.server_->connection.copyRow(copySql_, fields);
}

void RowInserter::finish()
{
    if (!statement_)
        db_.server_->connection.endCopy();
}

Transaction::Transaction(Database &db) : db_(db)
{
    db_.execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (open_)
        db_.rollback();
}

void Transaction::commit()
{
    db_.execute("COMMIT");
    open_ = false;
}

} // namespace talvesk::platform
