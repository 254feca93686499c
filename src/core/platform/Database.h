#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include <QByteArray>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_value;

namespace talvesk::platform {

class Database;

// One prepared statement. Values are always bound, never spliced into the SQL text.
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
    // Binds NULL, which equals nothing.
    Statement &bindNull(int index);

    // Steps once: true when a row is available, false when the statement has finished.
    bool next();
    // Steps until the statement has finished (for statements that return no rows).
    void run();
    // Makes the statement ready to run again, keeping nothing bound.
    void reset();

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
    sqlite3_value *value(int column) const;

private:
    friend class Database;
    Statement(sqlite3_stmt *stmt, sqlite3 *db);

    sqlite3_stmt *stmt_ = nullptr;
    sqlite3 *db_ = nullptr;
    std::vector<QByteArray> bound_; // the UTF-8 of each bound value, alive while it is bound
};

// A connection to an existing database file. Opening never creates a file.
class Database {
public:
    // Opens the database at `path` for reading and writing. A missing file is error 53 and is not
    // created; a file that is not a database fails here too. Throws Error.
    enum Mode { ReadWrite, ReadOnly };
    static Database open(const QString &path, Mode mode = ReadWrite);

    Database(Database &&other) noexcept;
    Database &operator=(Database &&other) noexcept;
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;
    ~Database();

    Statement prepare(std::string_view sql);
    // Runs one or more statements that take no values.
    void execute(std::string_view sql);
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
    sqlite3 *handle() const { return db_; }

private:
    explicit Database(sqlite3 *db) : db_(db) {}
    // Waits for other connections by the busy timeout, or until `stopRequested` says stop.
    static Database open(const QString &path, Mode mode, const std::function<bool()> *stopRequested);
    void close() noexcept;

    sqlite3 *db_ = nullptr;
    // Asked by the engine's progress handler while a statement runs; kept here, where its address
    // stays put while the connection moves.
    std::unique_ptr<std::function<bool()>> stopRequested_;
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

} // namespace talvesk::platform
