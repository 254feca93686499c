#pragma once

#include "platform/AppFolder.h"
#include "platform/Database.h"
#include "platform/Error.h"

#include <QByteArrayView>
#include <QLockFile>
#include <QDateTime>
#include <QString>

#include <initializer_list>
#include <limits>
#include <memory>
#include <future>
#include <optional>
#include <vector>

namespace talvesk::db {

namespace journal {
class Recorder;
}

// The journal: one entry per import and clearing, the lines each could not use, and what every
// row was before the operation changed it, so that the most recent operations can be undone
// exactly. Its tables live in the database beside the program's own.

// Creates the journal's tables where they are missing (a database from before them, a restored
// backup): done by the first operation that writes, never by opening or reading. Throws
// platform::Error when they are missing and cannot be made.
void ensureJournalTables(platform::Database &db);

// The SHA-256 of a file's contents in hexadecimal; empty when it cannot be read.
QString fileHash(const QString &path);
// When contents of this hash were last imported (an import entry that is done, not undone);
// nothing when never, or when the journal keeps no hashes. Writes nothing.
// Only entries up to `upToEntry` count (those made before an import that is running).
std::optional<QDateTime> importedBefore(platform::Database &db, const QString &hash,
                                        qint64 upToEntry = std::numeric_limits<qint64>::max());
// The same for the contents of `file`, asked of the application's database; nothing also when
// the database or the file cannot be read (the import itself then says why).
std::optional<QDateTime> importedBefore(const platform::AppFolder &app, const QString &file);
// The same, for an import about to start (a large file takes as long to hash as a fifth of its
// rows take to import): the entries made until now count; the file is hashed on a thread of its
// own while the import runs, and when(), once it has ended, waits for the hash and asks.
class ImportedBefore {
public:
    ImportedBefore(const platform::AppFolder &app, const QString &file);
    std::optional<QDateTime> when();

private:
    std::optional<platform::Database> db_;
    qint64 upTo_ = 0;
    std::future<QString> hash_;
};
// Whether the journal's tables are there; a database without them reads as an empty journal.
bool journalExists(platform::Database &db);

// How many of the newest operations keep what undoing them needs.
inline constexpr int kUndoDepth = 20;

struct JournalRecord {
    // Failed: the operation failed and left the tables as they were, so an undo passes over it.
    enum class State { Done, Running, Undone, Dropped, Failed };
    qint64 id = 0;
    QString at; // yyyy-MM-dd HH:mm:ss, local time
    QString operation; // the batch command's name: import-receivables, clear-store, ...
    QString file;      // full path; empty for a clearing
    QString counts;    // the counts the operation reported
    QString changes;   // for an import, how its stored rows changed the tables (changesText)
    State state = State::Done;
    QString droppedWhy; // for Dropped: 「…」 why the undo data is gone
    QString host;       // the desk that ran it, kept by the office's server; empty on a desk's file
};

// What a problem line keeps of the text it shows: all of it up to kProblemTextChars characters; a
// longer text is cut, ending in "…（共 N 字）" with its whole length (what is cut so stays within
// the bound, so cutting again changes nothing). The journal and ErrLog.txt keep no more, whatever
// the line held.
inline constexpr qsizetype kProblemTextChars = 512;
QString problemExcerpt(const QString &text);

struct ProblemLine {
    qint64 number = 0; // line of a text file, row of a worksheet
    QString reason;
    QString text; // the line, or the row's cells
};

// One operation's entry, from before its first change until it has reported its counts. While it
// is open, every change this connection makes to the receivables and the store records is kept
// with it: which rows it inserted, and the values of the rows it updated or deleted as they were
// before it (each column once, at its first change). The state the tables are left in is added
// up from those changes, so the tables are read whole only when that cannot be relied on.
class JournalEntry {
public:
    // Records the start in its own committed transaction. Throws platform::Error.
    JournalEntry(platform::Database &db, const QString &operation, const QString &file);
    JournalEntry(const JournalEntry &) = delete;
    JournalEntry &operator=(const JournalEntry &) = delete;
    // An entry never closed stays "running" (only a crash, or a close that could not be written,
    // leaves one): an undo passes over it once the tables are as they were before it.
    ~JournalEntry();

    // A line or row the operation could not use; written in the operation's open transaction.
    void problem(qint64 number, const QString &reason, const QString &text);

    // Writes what undoing needs, gathered so far, in the operation's open transaction: before
    // each commit, and whenever wantsFlush() says enough is held in memory. Throws platform::Error.
    void flush();
    bool wantsFlush() const;
    // The operation is failing: a change may have been taken back part way, so the state it
    // leaves is read from the tables at close; one that leaves them as they were is "failed".
    void failed() noexcept;

    // Stops recording and stores the counts and the state the tables were left in. Undo data of
    // operations older than the newest kUndoDepth is dropped here. Throws platform::Error.
    // An import gives also how its stored rows changed the tables (changesText).
    void close(const QString &counts, const QString &changes = QString());
    // The same for an operation that is failing: a failure here is not reported over that one.
    void closeQuietly(const QString &counts, const QString &changes = QString()) noexcept;

private:
    void stopRecording() noexcept;

    platform::Database &db_;
    qint64 id_ = 0;
    bool recording_ = false;
    bool failing_ = false;
    // Held while the operation runs, so that an undo can tell an operation still running from
    // one that ended without closing its entry.
    std::unique_ptr<QLockFile> running_;
    // Kept with its connection while the entry is open: the connection tells it of each change.
    std::unique_ptr<journal::Recorder> recorder_;
    std::optional<platform::Statement> problem_;
    // What the file holds (fileHash), worked out beside the operation and stored at its close: a
    // million-row workbook takes a fifth of a second to hash, and its rows need not wait for it.
    std::future<QString> fileHash_;
};

// For a writer that updates one row at a time and has just read it: says, before the update is
// stepped, which columns it sets and what they hold, so that the journal open on the connection
// (when one is) reads only the new values of those columns. The update must set no other column
// (were it to, the seal would no longer match the tables and the undo would be refused, never
// done wrong). Nothing is kept when no journal entry is open (a dry run).
class DeclaredUpdate {
public:
    DeclaredUpdate(platform::Database &db, const char *table, std::initializer_list<const char *> columns);
    // Row `rid` is about to be updated; `row` holds the columns' values now, in the order given,
    // from `firstColumn` on.
    void before(qint64 rid, const platform::Statement &row, int firstColumn);
    // The update has run (or failed): the declaration holds no longer.
    void after();

    // For a statement that updates several rows: row `rid` is about to go from `before` to the
    // texts `after` (each the declared columns' values, in the order given). The declarations
    // hold until after().
    void row(qint64 rid, const platform::Value *before, const QByteArrayView *after);
    // A statement failed and was undone after some of its rows may have changed: the open entry
    // reads the tables at its close instead of adding up its changes.
    void statementUndone();

private:
    platform::Database &db_;
    std::size_t table_ = 0;
    std::vector<int> columns_; // positions among the journalled columns
    // The recorder the declarations of one statement go to, looked up at its first row().
    journal::Recorder *recorder_ = nullptr;
    bool lookedUp_ = false;
};

// Every entry, newest first.
std::vector<JournalRecord> journalEntries(platform::Database &db);
// The problem lines of entry `id` in the order they were met (the first `limit` of them when it
// is not negative); nullopt for an unknown entry.
std::optional<std::vector<ProblemLine>> problemLines(platform::Database &db, qint64 id,
                                                     qint64 limit = std::numeric_limits<qint64>::max());

// What an undo would do now, read without changing anything: the entry it takes back (the newest
// not yet undone, passing over those that stored nothing), or why it cannot, in the clerk's words.
struct UndoPlan {
    std::optional<JournalRecord> entry; // the entry concerned; nullopt when there is none
    QString refusal;                    // empty when the entry can be undone
    std::vector<qint64> passedOver;     // unfinished entries that left the tables as they were
};
UndoPlan planUndo(platform::Database &db);

// Undoes the newest operation not yet undone: both tables come back exactly as they were before
// it, row ids included, in one transaction. Refused (platform::Error, nothing changed) when there
// is nothing to undo, when its undo data is gone, or when the tables are no longer as it left them
// (changed or restored since); and rolled back when the result is not exactly the state before it.
JournalRecord undoLatest(platform::Database &db);

// Refuses (error 70, naming it) while an operation of another connection runs on the database: its
// entry is unfinished and its process holds the entry's lock. A restore or a compaction calls it
// once it holds the database alone, so that it never lands between two commits of an import.
void requireNoOperationRunning(platform::Database &db);

// After a restore: the operations before it can no longer be undone on the restored tables.
void forgetUndoBeforeRestore(platform::Database &db);

// The journal's words for a state, as the batch tool prints it: "", "undone", "undo data dropped",
// "unfinished", "nothing stored".
QString stateWord(JournalRecord::State state);

// An operation in the clerk's words: its menu caption (讀入應收帳款資料(EXCEL), 超商資料清檔作業, ...).
QString operationCaption(const QString &operation);
// 「caption」（yyyy/MM/dd HH:mm）: how an entry is named to the clerk.
QString entryCaption(const JournalRecord &record);

} // namespace talvesk::db
