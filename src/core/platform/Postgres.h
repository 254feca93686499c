#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <chrono>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

// The database server shared by several desks, reached through libpq. Everything goes as text:
// values are bound as UTF-8 text parameters (never spliced into a statement), rows come back as
// UTF-8 text, and every failure becomes a platform::Error here. One connection is used by one
// thread at a time; only Connection::cancel may be called from another.
namespace talvesk::platform::pg {

namespace detail {
struct Link;
}

// Every row a statement returned, held in memory, read as text.
class Result {
public:
    Result(Result &&other) noexcept;
    Result &operator=(Result &&other) noexcept;
    Result(const Result &) = delete;
    Result &operator=(const Result &) = delete;
    ~Result();

    int rowCount() const;
    int columnCount() const;
    QString columnName(int column) const;
    // A field as text; NULL reads as the empty text.
    QString text(int row, int column) const;
    // The same as UTF-8, valid while the result lives.
    QByteArrayView utf8(int row, int column) const;
    // Whether the field holds no value at all (NULL, not the empty text).
    bool isNull(int row, int column) const;
    // A field holding a whole number; Error when it holds anything else.
    qint64 integer(int row, int column) const;
    // How many rows the statement inserted, updated, deleted or copied (a query: how many it
    // returned; 0 for the others).
    qint64 changes() const;
    // The server's type of a column (its pg_type oid: 20 bigint, 25 text, 17 bytea, ...).
    unsigned type(int column) const;

private:
    friend struct detail::Link;
    friend class Connection;
    friend class Transaction;
    explicit Result(pg_result *result) : result_(result) {}
    pg_result *result_ = nullptr;
};

// A statement prepared on the server, run as often as needed with the values bound to $1, $2…
// It must not outlive its connection.
class Statement {
public:
    Statement(Statement &&other) noexcept;
    Statement &operator=(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    // Lets the server forget the statement, when the connection can still say so; otherwise it
    // is forgotten when the connection closes.
    ~Statement();

    // Binds a value to the 1-based parameter `index`; it stays bound for every later run until
    // bound again. A null QString binds the empty text, as on the embedded database. Text holding
    // a NUL character is refused (Error): the server cannot store it, and would cut it short.
    Statement &bind(int index, QStringView value);
    Statement &bind(int index, const QString &value) { return bind(index, QStringView(value)); }
    Statement &bind(int index, qint64 value);
    // The same for a value that is UTF-8 already (or a bytea in the server's \\x hex form).
    Statement &bindUtf8(int index, QByteArrayView utf8);
    // Binds NULL, which equals nothing.
    Statement &bindNull(int index);

    // Runs the statement with the values bound; every parameter must have been bound.
    Result run();
    // Binds NULL to every parameter, as a statement of the embedded database is after a reset.
    void bindAllNull();
    int parameterCount() const { return static_cast<int>(values_.size()); }

private:
    friend class Connection;
    Statement(detail::Link *link, QByteArray name, int parameters);
    void release() noexcept;

    detail::Link *link_ = nullptr;
    QByteArray name_;
    std::vector<QByteArray> values_; // the UTF-8 of each parameter's value
    std::vector<char> state_;        // per parameter: unbound, bound, NULL
};

// One field of a row sent by COPY (CopyIn, Connection::copyRow): its UTF-8 bytes (not owned), or NULL.
struct CopyField {
    QByteArrayView utf8;
    bool null = false;
};

// One connection to the server.
class Connection {
public:
    // Connects by a libpq connection string ("host=… port=… dbname=… user=…" or a postgresql://
    // URI). Passwords come from libpq's password file or its environment. The connection always
    // speaks UTF-8, whatever the string or the environment says. Throws Error naming the server,
    // its database and user, never a password.
    explicit Connection(const QString &connectionString);
    Connection(Connection &&other) noexcept;
    Connection &operator=(Connection &&other) noexcept;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    // Closes the connection; the server rolls back a transaction left open.
    ~Connection();

    // Runs one or more statements that take no values; the result is the last statement's.
    Result execute(std::string_view sql);
    // Prepares a statement whose values are bound as $1, $2…
    Statement prepare(std::string_view sql);
    // Adds a row to `COPY table (columns) FROM STDIN`, started at the first row and kept open
    // for the next ones with the same statement: rows go to the server while the caller works
    // on. The copy ends, its rows stored, before anything else is sent on the connection (a
    // statement, a commit), and a row the server refused fails that instead; a rollback ends it
    // with none of its rows stored. A field holding a NUL character refuses the row (Error),
    // and nothing of it is sent.
    void copyRow(std::string_view copySql, std::span<const CopyField> fields);
    // Ends the copy copyRow keeps open, if any, its rows stored; throws the server's failure.
    void endCopy();
    // The same where the parameters `unused` appear nowhere in the text (bound, but not used):
    // the server is told they are text.
    Statement prepare(std::string_view sql, const std::vector<unsigned> &unused);

    // Takes the advisory lock `key` until the open transaction ends (commit, rollback, or the
    // connection's end, however the client ends), waiting at most `wait` for another connection
    // to let it go. False when another connection still holds it then: the transaction goes on
    // unharmed, without the lock. The wait is the server's own (lock_timeout inside a savepoint),
    // so a waiter gets the lock the moment its holder's transaction ends, in the order of asking.
    bool lockUntilTransactionEnds(qint64 key, std::chrono::milliseconds wait);
    // The same for a lock held until unlockSession or the connection's end, across transactions.
    bool lockForSession(qint64 key, std::chrono::milliseconds wait);
    void unlockSession(qint64 key) noexcept;

    // Stops the statement running on this connection with Error errnum::Cancelled, and refuses
    // every later one the same way (the work it belonged to is being stopped; only rollback still
    // runs). Safe from any thread while the connection is open.
    void cancel() noexcept;

    // Ends the open transaction without keeping its changes; nothing when none is open. Never
    // fails: a connection that cannot roll back has lost the transaction already.
    void rollback() noexcept;
    bool inTransaction() const;
    // False once the server has gone away; every later statement then fails with Error.
    bool isConnected() const;
    // Where the connection goes, for messages: host or socket folder, port, database and user.
    QString serverName() const;

private:
    friend class Transaction;
    friend class CopyIn;
    bool waitForLock(const char *lockSql, qint64 key, std::chrono::milliseconds wait);
    std::unique_ptr<detail::Link> link_;
};

// Rolls the transaction back on destruction unless it was committed.
class Transaction {
public:
    explicit Transaction(Connection &connection);
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    ~Transaction();
    // Keeps the transaction's changes. Throws Error when the server did not: a statement in it had
    // failed (the server then ends it with a rollback), or the connection was lost.
    void commit();

private:
    Connection &connection_;
    bool open_ = true;
};

// Rows sent in bulk by `COPY table (columns) FROM STDIN` in the text format, each field escaped
// so that tabs, line ends and backslashes arrive as they are. While it runs the connection runs
// nothing else.
class CopyIn {
public:
    CopyIn(Connection &connection, std::string_view copySql);
    CopyIn(const CopyIn &) = delete;
    CopyIn &operator=(const CopyIn &) = delete;
    // Without finish(), the copy is abandoned and none of its rows are stored.
    ~CopyIn();

    // Adds one row (a null QString is the empty text). A field holding a NUL character refuses
    // the whole row (Error): nothing of it is sent, and the copy can go on.
    void addRow(std::initializer_list<QStringView> fields);
    void addRow(const QList<QString> &fields);
    // The same with each field as UTF-8, or NULL, which the server keeps apart from the empty text.
    void addRow(std::span<const CopyField> fields);
    // Sends what is left and ends the copy: the number of rows the server stored. Throws Error
    // when the server refused any of them (it then stores none).
    qint64 finish();

private:
    void addTexts(std::span<const QStringView> texts);
    void send();
    void abandon() noexcept;

    detail::Link *link_;
    QByteArray buffer_;
    bool open_ = false;
};

} // namespace talvesk::platform::pg
