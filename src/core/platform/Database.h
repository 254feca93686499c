#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace talvesk::platform {

class Database;

namespace detail {
struct OnServer;
struct StatementOnServer;
}

// One value as the database holds it, with its type. Text (UTF-8) and blob bytes are not owned: a
// value read from a row is valid until its statement steps or resets, one handed to a function or
// a row watcher until that returns.
struct Value {
    // The engine's own numbers for the types: stored undo data and seals keep them.
    enum Type : int { Integer = 1, Real = 2, Text = 3, Blob = 4, Null = 5 };

    Type type = Null;
    qint64 integer = 0;
    double real = 0;
    const char *bytes = nullptr;
    qsizetype size = 0;

    static Value null() { return {}; }
    static Value fromInteger(qint64 v) { return {Integer, v, 0, nullptr, 0}; }
    static Value fromReal(double v) { return {Real, 0, v, nullptr, 0}; }
    static Value fromText(QByteArrayView utf8) { return {Text, 0, 0, utf8.data() ? utf8.data() : "", utf8.size()}; }
    static Value fromBlob(QByteArrayView data) { return {Blob, 0, 0, data.data() ? data.data() : "", data.size()}; }

    bool isNull() const { return type == Null; }
    // The bytes of a text or a blob; empty for the other types.
    QByteArrayView view() const { return QByteArrayView(bytes, size); }
    // The value as text, written as the engine writes it when it turns a value into text
    // (1000, 0.1, 1.0e+300); NULL is the empty text.
    QByteArray toText() const;
};

// A row this connection is about to insert, update or delete in its database file (not in temporary
// or attached ones), as the engine tells of it before the change is made.
class RowChange {
public:
    enum Kind { Insert, Update, Delete };
    Kind kind;
    const char *table;
    qint64 rowid;    // the row before the change (an insertion: the new row)
    qint64 newRowid; // the row after it (a deletion: the old row)

    // Column `column` (0-based, in the table's order) before the change (an update or a
    // deletion), or after it (an insertion or an update). Throws Error when the engine cannot
    // give it (memory ran out).
    Value before(int column) const;
    Value after(int column) const;
    // A deletion made to write a blob in place: its values are not the row's.
    bool writesBlobInPlace() const;

private:
    friend class Database;
    friend struct detail::OnServer;
    RowChange(sqlite3 *db, Kind kind, const char *table, qint64 rowid, qint64 newRowid)
        : kind(kind), table(table), rowid(rowid), newRowid(newRowid), db_(db)
    {
    }
    // A change the server recorded, with the row's values before and after it.
    RowChange(Kind kind, const char *table, qint64 rowid, qint64 newRowid, const Value *before, const Value *after)
        : kind(kind), table(table), rowid(rowid), newRowid(newRowid), db_(nullptr), before_(before), after_(after)
    {
    }
    sqlite3 *db_;
    const Value *before_ = nullptr;
    const Value *after_ = nullptr;
};

// A table whose row changes a watcher is told of, as far as the server goes: only of the rows
// up to row id `upTo` (a file tells of every row of every table).
struct WatchedTable {
    const char *table;
    qint64 upTo;
};

// Told of every row change a connection makes, before it is made (see Database::watchRowChanges).
class RowChangeWatcher {
public:
    // Must not throw: the engine is in the middle of the change.
    virtual void rowChanging(const RowChange &change) noexcept = 0;

protected:
    ~RowChangeWatcher() = default;
};

// One prepared statement. Values are always bound, never spliced into the SQL text. The same text
// runs on both kinds of database: `?N` parameters, and `rowid` for a row's id.
class Statement {
public:
    Statement(Statement &&other) noexcept;
    Statement &operator=(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    ~Statement();

    // Binds a value to the 1-based parameter `index`; a null QString binds the empty text, since
    // every column of the program holds text and accepts the empty text.
    Statement &bind(int index, QStringView value);
    Statement &bind(int index, const QString &value) { return bind(index, QStringView(value)); }
    Statement &bind(int index, qint64 value);
    // Binds a value of any type as it is (text and blob bytes are copied).
    Statement &bind(int index, const Value &value);
    // Binds NULL, which equals nothing.
    Statement &bindNull(int index);

    // Steps once: true when a row is available, false when the statement has finished.
    bool next();
    // Steps until the statement has finished (for statements that return no rows).
    void run();
    // Makes the statement ready to run again, keeping nothing bound.
    void reset();
    // How many rows the statement's last run inserted, updated or deleted (0 for a query); kept
    // until it runs again.
    qint64 changes() const { return changes_; }

    int columnCount() const;
    QString columnName(int column) const;
    // The text of a column of the current row; NULL reads as the empty text.
    QString text(int column) const;
    // The same as UTF-8, valid until the statement steps or resets.
    QByteArrayView utf8(int column) const;
    qint64 integer(int column) const;
    // Whether a column of the current row holds no value at all (NULL, not the empty text).
    bool isNull(int column) const;
    // A column of the current row as the engine holds it, with its type; valid until the
    // statement steps or resets.
    Value value(int column) const;

private:
    friend class Database;
    Statement(sqlite3_stmt *stmt, sqlite3 *db);
    explicit Statement(std::unique_ptr<detail::StatementOnServer> server);

    sqlite3_stmt *stmt_ = nullptr;
    sqlite3 *db_ = nullptr;
    qint64 changes_ = 0;
    std::vector<QByteArray> bound_; // the UTF-8 of each bound value, alive while it is bound
    std::unique_ptr<detail::StatementOnServer> server_;
};

// A connection to a database file, or to the office's shared database server. Opening never
// creates a file: only create() makes a new one. On the server every statement and transaction
// works as on a file; what only a file has (its change counter, compaction, engine functions,
// page copies) is for the file alone.
class Database {
public:
    // Connects to the shared server by a libpq connection string (no password in it). Throws Error.
    static Database connect(const QString &connectionString);
    bool isServer() const { return server_ != nullptr; }
    // Where the server is, for messages; empty for a file.
    QString serverName() const;

    // Opens the database at `path` for reading and writing. A missing file is error 53 and is not
    // created; a file that is not a database fails here too. Throws Error.
    enum Mode { ReadWrite, ReadOnly };
    static Database open(const QString &path, Mode mode = ReadWrite);
    // Makes a new, empty database file at `path`; error 75 when a file is there already.
    static Database create(const QString &path);

    Database(Database &&other) noexcept;
    Database &operator=(Database &&other) noexcept;
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;
    ~Database();

    Statement prepare(std::string_view sql);
    // Runs one or more statements that take no values.
    void execute(std::string_view sql);
    // Ends the open transaction without keeping its changes; nothing when none is open. Never
    // fails: a connection that cannot roll back has lost the transaction already.
    void rollback() noexcept;
    // The row id of the last row this connection inserted.
    qint64 lastInsertRowid() const;
    // Makes the statement running on this connection, and any started until it ends, stop with
    // Error errnum::Cancelled. Safe from any thread while the connection is open.
    void interrupt();

    // A function SQL on this connection can call, given the arguments' values. What it returns
    // is copied; an Error (or any exception) it throws fails the statement with its words.
    using Function = std::function<Value(std::span<const Value> arguments)>;
    enum FunctionUse {
        Deterministic = 1, // the same arguments always give the same result
        DirectOnly = 2,    // not from triggers or views (another program's schema)
    };
    // Registers `function` under `name` for `arguments` arguments (at most kMaxFunctionArguments),
    // replacing one registered so before. Throws Error.
    static constexpr int kMaxFunctionArguments = 16;
    void addFunction(const char *name, int arguments, int use, Function function);
    void removeFunction(const char *name, int arguments) noexcept;

    // Tells `watcher` of every row this connection changes from now on, until it is told of no
    // more (nullptr). One watcher at a time; it is not owned and must outlive its watch.
    // On the server the changes are recorded there as they are made, and told when asked
    // (deliverRowChanges), in the order they were made; only those of the rows `tables` name
    // are recorded (a watcher that sums up the rows above them by reading them itself saves
    // the recording of each). Throws Error (the server only).
    void watchRowChanges(RowChangeWatcher *watcher, std::span<const WatchedTable> tables = {});
    RowChangeWatcher *rowChangeWatcher() const { return watcher_; }
    // Tells the watcher of the changes the server recorded since it was last told (on a file,
    // where it is told at once, nothing). Throws Error.
    void deliverRowChanges();

    // The columns of a table in their order, the row id not among them. Throws Error.
    std::vector<std::string> columnsOf(const char *table);
    // A number that moves when another connection commits a change (a file's data version; on
    // the server, its change counter less this connection's own raises, so that a change made
    // there by hand is seen too). On a server whose tables an older server-init made, without
    // the counter, it stays 0: every writer of the program holds the writing lock for its whole
    // operation there.
    qint64 dataVersion();
    // The server's writing lock `key`, held by this connection until it closes or unlocks: one
    // writing operation at a time, of every desk. Waits at most `wait` for another connection to
    // let it go; false when it did not. A file has its own locks: always true there.
    bool lockForWriting(qint64 key, std::chrono::milliseconds wait);
    void unlockWriting() noexcept;
    // Whether another connection holds the writing lock now (a file: false).
    bool writingLockHeldElsewhere(qint64 key);

    // The database file's change counter, which every write transaction of any program raises
    // by one (in the rollback-journal mode). Read from the file itself; the caller holds at least
    // a shared lock so it cannot move. nullopt when it cannot be relied on (another journal mode,
    // no file, a server without the counter). On the server: the counter every transaction that
    // changes the program's tables raises by one, whoever ran it, read before this transaction
    // writes (its own raise is seen at once there, not at its commit).
    std::optional<quint32> changeCounter();
    bool hasTable(const QString &name);
    // Writes a compacted copy of the whole database into `target`, a new or empty file.
    void compactInto(const QString &target);

    // Keeps the database for this connection alone until it closes: other connections wait (up to
    // their busy timeout) and then fail as busy. Error 70 when another connection holds the
    // database longer than this connection waits.
    void lockExclusively();
    // Replaces the whole content of this database with that of `source` through the engine's
    // online backup, in one transaction under this connection's locks: every other connection
    // sees the old content or the new, never a file swapped beneath it. Error 70 when another
    // connection holds the database longer than this one waits; on any failure nothing changed.
    void replaceContentWith(Database &source);
    // Writes a page-for-page copy of the whole database into the new file `target` (through the
    // online backup, so it is consistent even while other connections write). Throws Error.
    void copyInto(const QString &target);
    // A copy of the whole database at `path` (opened as open() does), private to the returned
    // connection: a scratch file of the engine's own, removed when that connection closes, so that
    // changes can be tried on it and thrown away without the database ever being written or held.
    // It is copied a few pages at a time, each step a short read of its own: another connection
    // may write between two steps (the copy then starts over, so it is always the database as one
    // commit left it), and waits at most one step for it. While the copy waits for another's
    // commit, between steps, and in any statement later run on the copy, `stopRequested` returning
    // true ends the work with Error errnum::Cancelled. Throws Error.
    static Database privateCopyOf(const QString &path, std::function<bool()> stopRequested = {});
    // Whether this is such a private copy (or any database without a file of its own).
    bool isPrivate() const;

    // What the engine's integrity check finds wrong (at most `limit` lines); empty when sound.
    QStringList integrityProblems(int limit = 10);

    bool inTransaction() const;
    // The path of the database file as the engine opened it.
    QString filePath() const;

private:
    friend class RowInserter;
    explicit Database(sqlite3 *db);
    explicit Database(std::unique_ptr<detail::OnServer> server);
    // Throws Error when the connection is to the server, naming what only a file can do.
    void requireFile(const char *what) const;
    // Waits for other connections by the busy timeout, or until `stopRequested` says stop.
    static Database open(const QString &path, Mode mode, const std::function<bool()> *stopRequested);
    void close() noexcept;
    // The engine's pre-update hook: tells `watcher` of the change.
    static void tellRowChange(void *watcher, sqlite3 *db, int op, const char *database, const char *table,
                              long long key, long long newKey);

    sqlite3 *db_ = nullptr;
    // Asked by the engine's progress handler while a statement runs; kept here, where its address
    // stays put while the connection moves.
    std::unique_ptr<std::function<bool()>> stopRequested_;
    RowChangeWatcher *watcher_ = nullptr;
    std::unique_ptr<detail::OnServer> server_;
};

// Inserts rows into one table, given the values of some of its columns (the others get the
// empty text). On a file each row is inserted at once, by one prepared statement. On the server
// the rows go on by COPY while the caller works on, and are stored before the connection runs
// anything else (another statement, a commit): a later statement sees them, and a row the
// server refuses fails that statement or commit instead of the insert. Must not outlive `db`.
class RowInserter {
public:
    RowInserter(Database &db, const char *table, std::initializer_list<const char *> columns,
                std::initializer_list<const char *> emptyColumns);
    // One row: the values of the named columns, in their order (a null QString: the empty text).
    void insert(const QStringList &values);
    // Stores the rows inserted so far, now: on the server the failure of any of them is thrown
    // here. For work that ends without a commit (a dry run, a look at the first rows), whose
    // rollback would otherwise take the rows back unseen.
    void finish();

private:
    Database &db_;
    std::optional<Statement> statement_; // a file's
    std::string copySql_;                // the server's
    int columns_ = 0;
    int emptyColumns_ = 0;
    std::vector<QByteArray> utf8_;
};

// Rolls the transaction back on destruction unless it was committed.
class Transaction {
public:
    explicit Transaction(Database &db);
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    ~Transaction();
    void commit();

private:
    Database &db_;
    bool open_ = true;
};

// A read transaction (a read-only connection may hold one): every statement inside it reads the
// database as one commit left it (on the server, one snapshot of it). Ended on destruction;
// nothing it did is kept.
class ReadTransaction {
public:
    explicit ReadTransaction(Database &db) : db_(db)
    {
        db_.execute(db_.isServer() ? "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY" : "BEGIN");
    }
    ReadTransaction(const ReadTransaction &) = delete;
    ReadTransaction &operator=(const ReadTransaction &) = delete;
    ~ReadTransaction() { db_.rollback(); }

private:
    Database &db_;
};

} // namespace talvesk::platform
