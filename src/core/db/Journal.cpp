#include "db/Journal.h"

#include <QDateTime>

#include <sqlite3.h>

#include <array>
#include <cstring>
#include <string>

namespace talvesk::db {

using platform::Database;
using platform::Error;
using platform::Statement;

namespace {

// A journalled table, its shadow holding the rows as they were, and the columns both share.
struct Journalled {
    const char *table;
    const char *shadow;
    const char *maxColumn; // the entry's column holding the table's largest row id before it
    const char *columns;
};

const std::array<Journalled, 2> kJournalled = {{
    {"F_AccountData", "JournalReceivables", "receivables_max",
     "UserName, UserNum, Memo, Bankcode, Total, PayDate, PayTotal, N_PayTotal, Spare"},
    {"SMdata", "JournalStore", "store_max",
     "REC, C_NUM, R_NUM, R_M_NUM, TR_DATE, PAY_DATE, BARCODE1, BARCODE2, BARCODE3, P_TOTAL"},
}};

// kind of a shadow row: what happened first to that row id in the operation (later changes to
// the same row id in the same operation are not kept: the first holds the row as it was).
constexpr int kInserted = 0, kUpdated = 1, kDeleted = 2;

const char *const kJournalTable = R"(
CREATE TABLE IF NOT EXISTS Journal (
    id              INTEGER PRIMARY KEY,
    at              TEXT NOT NULL,
    operation       TEXT NOT NULL,
    file            TEXT NOT NULL,
    counts          TEXT NOT NULL DEFAULT '',
    state           TEXT NOT NULL DEFAULT 'running',
    dropped_why     TEXT NOT NULL DEFAULT '',
    receivables_max INTEGER NOT NULL,
    store_max       INTEGER NOT NULL,
    seal_before     TEXT NOT NULL,
    seal_after      TEXT
);
CREATE TABLE IF NOT EXISTS JournalProblems (
    seq    INTEGER PRIMARY KEY,
    entry  INTEGER NOT NULL,
    number INTEGER NOT NULL,
    reason TEXT NOT NULL,
    text   TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS JournalProblems_entry ON JournalProblems (entry);
)";

std::string shadowTableSql(const Journalled &t)
{
    // The shadow's value columns carry no type, so every value comes back exactly as it was
    // stored, NULL included.
    // Keyed by entry and row id, so that an entry's rows are found, and dropped, together.
    return std::string("CREATE TABLE IF NOT EXISTS ") + t.shadow
           + " (entry INTEGER NOT NULL, rid INTEGER NOT NULL, kind INTEGER NOT NULL, " + t.columns
           + ", PRIMARY KEY (entry, rid)) WITHOUT ROWID;\n";
}

std::string prefixed(const char *columns, const char *prefix)
{
    std::string out, name;
    const std::string all = std::string(columns) + ",";
    for (char c : all) {
        if (c == ',') {
            out += (out.empty() ? "" : ", ") + std::string(prefix) + name;
            name.clear();
        } else if (c != ' ') {
            name += c;
        }
    }
    return out;
}

qint64 firstInteger(Database &db, const std::string &sql)
{
    Statement query = db.prepare(sql);
    return query.next() ? query.text(0).toLongLong() : 0;
}

// A 64-bit running hash of bytes, eight at a time.
class Hash64 {
public:
    void add(const void *data, std::size_t size)
    {
        const auto *bytes = static_cast<const unsigned char *>(data);
        while (size >= 8) {
            quint64 word;
            std::memcpy(&word, bytes, 8);
            mix(word);
            bytes += 8;
            size -= 8;
        }
        quint64 tail = size;
        for (std::size_t i = 0; i < size; ++i)
            tail = (tail << 8) | bytes[i];
        mix(tail);
    }
    void add(quint64 value) { mix(value); }
    quint64 value() const { return h_; }

private:
    void mix(quint64 word)
    {
        h_ = (h_ ^ word) * 0x9E3779B97F4A7C15ULL;
        h_ ^= h_ >> 29;
    }
    quint64 h_ = 0xCBF29CE484222325ULL;
};

// What the program's two data tables hold, every value and row id: equal seals mean equal tables.
QString seal(Database &db)
{
    QString result;
    for (const Journalled &t : kJournalled) {
        Hash64 hash;
        const std::string sql = std::string("SELECT rowid, ") + t.columns + " FROM " + t.table + " ORDER BY rowid";
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            const QString why = QString::fromUtf8(sqlite3_errmsg(db.handle()));
            sqlite3_finalize(stmt);
            throw Error(platform::errnum::Database, why);
        }
        int rc;
        quint64 rows = 0;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            ++rows;
            const int columns = sqlite3_column_count(stmt);
            for (int c = 0; c < columns; ++c) {
                // The type and length go in before the bytes, so no two rows read alike.
                const int type = sqlite3_column_type(stmt, c);
                if (type == SQLITE_INTEGER) {
                    hash.add(quint64(type));
                    hash.add(quint64(sqlite3_column_int64(stmt, c)));
                } else {
                    const void *bytes = sqlite3_column_blob(stmt, c);
                    const int size = sqlite3_column_bytes(stmt, c);
                    hash.add((quint64(type) << 32) | quint64(size));
                    if (size > 0)
                        hash.add(bytes, static_cast<std::size_t>(size));
                }
            }
        }
        const QString why = QString::fromUtf8(sqlite3_errmsg(db.handle()));
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE)
            throw Error(platform::errnum::Database, why);
        result += QStringLiteral("%1:%2;").arg(rows).arg(hash.value(), 16, 16, QLatin1Char('0'));
    }
    return result;
}

JournalRecord::State stateOf(const QString &text)
{
    if (text == QLatin1String("done"))
        return JournalRecord::State::Done;
    if (text == QLatin1String("undone"))
        return JournalRecord::State::Undone;
    if (text == QLatin1String("dropped"))
        return JournalRecord::State::Dropped;
    return JournalRecord::State::Running;
}

const char *const kRecordColumns = "id, at, operation, file, counts, state, dropped_why";

JournalRecord readRecord(const Statement &query)
{
    JournalRecord record;
    record.id = query.text(0).toLongLong();
    record.at = query.text(1);
    record.operation = query.text(2);
    record.file = query.text(3);
    record.counts = query.text(4);
    record.state = stateOf(query.text(5));
    record.droppedWhy = query.text(6);
    return record;
}

// Removes the undo data of the entries `where` selects (a condition on Journal) and says why.
void dropUndoData(Database &db, const std::string &where, const QString &why)
{
    for (const Journalled &t : kJournalled)
        db.execute(std::string("DELETE FROM ") + t.shadow + " WHERE entry IN (SELECT id FROM Journal WHERE " + where
                   + ")");
    Statement mark = db.prepare("UPDATE Journal SET state = 'dropped', dropped_why = ?1 WHERE " + where);
    mark.bind(1, why);
    mark.run();
}

QString quoted(const JournalRecord &record)
{
    return QStringLiteral("「%1 %2」").arg(record.operation, record.at);
}

Error refusal(const QString &why)
{
    return Error(platform::errnum::Database, why);
}

} // namespace

void ensureJournalTables(Database &db)
{
    bool complete = db.hasTable(QStringLiteral("Journal")) && db.hasTable(QStringLiteral("JournalProblems"));
    for (const Journalled &t : kJournalled)
        complete = complete && db.hasTable(QString::fromLatin1(t.shadow));
    if (complete)
        return;
    std::string sql = kJournalTable;
    for (const Journalled &t : kJournalled)
        sql += shadowTableSql(t);
    platform::Transaction transaction(db);
    db.execute(sql);
    transaction.commit();
}

// ---- JournalEntry ----

JournalEntry::JournalEntry(Database &db, const QString &operation, const QString &file, Deletes deletes) : db_(db)
{
    ensureJournalTables(db_);
    platform::Transaction transaction(db_);
    std::array<qint64, kJournalled.size()> largest{};
    for (std::size_t i = 0; i < kJournalled.size(); ++i)
        largest[i] = firstInteger(db_, std::string("SELECT coalesce(max(rowid), 0) FROM ") + kJournalled[i].table);
    Statement insert = db_.prepare("INSERT INTO Journal (at, operation, file, receivables_max, store_max, seal_before) "
                                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    insert.bind(1, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
        .bind(2, operation)
        .bind(3, file)
        .bind(4, QString::number(largest[0]))
        .bind(5, QString::number(largest[1]))
        .bind(6, seal(db_));
    insert.run();
    id_ = sqlite3_last_insert_rowid(db_.handle());
    transaction.commit();

    // Triggers of this connection alone, for this entry alone: another program's changes are not
    // the operation's (an undo then finds the tables not as it left them and refuses). A row id
    // above the largest before the operation is a row it inserted; only a row id at or below it
    // needs a record of what it was.
    stopRecording();
    recording_ = true;
    const std::string entry = std::to_string(id_);
    for (std::size_t i = 0; i < kJournalled.size(); ++i) {
        const Journalled &t = kJournalled[i];
        const std::string limit = std::to_string(largest[i]);
        const std::string name = std::string("journal_") + t.table;
        const std::string keep = std::string("INSERT OR IGNORE INTO ") + t.shadow + " (entry, kind, rid, " + t.columns
                                 + ") VALUES (" + entry + ", ";
        if (deletes == Deletes::Yes)
            db_.execute("CREATE TEMP TRIGGER " + name + "_insert AFTER INSERT ON main." + t.table + " WHEN new.rowid <= "
                        + limit + " BEGIN INSERT OR IGNORE INTO " + t.shadow + " (entry, kind, rid) VALUES (" + entry
                        + ", " + std::to_string(kInserted) + ", new.rowid); END;");
        db_.execute("CREATE TEMP TRIGGER " + name + "_update AFTER UPDATE ON main." + t.table + " WHEN old.rowid <= "
                    + limit + " BEGIN " + keep + std::to_string(kUpdated) + ", old.rowid, "
                    + prefixed(t.columns, "old.") + "); END;");
        db_.execute("CREATE TEMP TRIGGER " + name + "_delete AFTER DELETE ON main." + t.table + " WHEN old.rowid <= "
                    + limit + " BEGIN " + keep + std::to_string(kDeleted) + ", old.rowid, "
                    + prefixed(t.columns, "old.") + "); END;");
    }
    problem_.emplace(db_.prepare("INSERT INTO JournalProblems (entry, number, reason, text) VALUES (?1, ?2, ?3, ?4)"));
}

JournalEntry::~JournalEntry()
{
    stopRecording();
}

void JournalEntry::stopRecording() noexcept
{
    problem_.reset();
    for (const Journalled &t : kJournalled) {
        for (const char *when : {"_insert", "_update", "_delete"}) {
            const std::string sql = std::string("DROP TRIGGER IF EXISTS temp.journal_") + t.table + when;
            sqlite3_exec(db_.handle(), sql.c_str(), nullptr, nullptr, nullptr);
        }
    }
    recording_ = false;
}

void JournalEntry::problem(qint64 number, const QString &reason, const QString &text)
{
    if (!problem_)
        return;
    problem_->bind(1, QString::number(id_)).bind(2, QString::number(number)).bind(3, reason).bind(4, text);
    problem_->run();
    problem_->reset();
}

void JournalEntry::close(const QString &counts)
{
    stopRecording();
    platform::Transaction transaction(db_);
    Statement done = db_.prepare("UPDATE Journal SET counts = ?1, state = 'done', seal_after = ?2 WHERE id = ?3");
    done.bind(1, counts).bind(2, seal(db_)).bind(3, QString::number(id_));
    done.run();
    // The newest kUndoDepth operations not yet undone keep their undo data; older ones lose it.
    dropUndoData(db_,
                 "state IN ('done', 'running') AND id < (SELECT id FROM Journal WHERE state IN ('done', 'running') "
                 "ORDER BY id DESC LIMIT 1 OFFSET "
                     + std::to_string(kUndoDepth - 1) + ")",
                 QStringLiteral("只保留最近 %1 次作業的復原資料").arg(kUndoDepth));
    transaction.commit();
}

void JournalEntry::closeQuietly(const QString &counts) noexcept
{
    try {
        close(counts);
    } catch (...) {
        // The entry stays "running": it will not be undone on a guess.
        stopRecording();
    }
}

// ---- reading and undoing ----

std::vector<JournalRecord> journalEntries(Database &db)
{
    ensureJournalTables(db);
    std::vector<JournalRecord> records;
    Statement query = db.prepare(std::string("SELECT ") + kRecordColumns + " FROM Journal ORDER BY id DESC");
    while (query.next())
        records.push_back(readRecord(query));
    return records;
}

std::optional<std::vector<ProblemLine>> problemLines(Database &db, qint64 id, qint64 limit)
{
    ensureJournalTables(db);
    Statement known = db.prepare("SELECT 1 FROM Journal WHERE id = ?1");
    known.bind(1, QString::number(id));
    if (!known.next())
        return std::nullopt;
    std::vector<ProblemLine> lines;
    Statement query = db.prepare("SELECT number, reason, text FROM JournalProblems WHERE entry = ?1 ORDER BY seq LIMIT ?2");
    query.bind(1, QString::number(id)).bind(2, QString::number(limit));
    while (query.next())
        lines.push_back({query.text(0).toLongLong(), query.text(1), query.text(2)});
    return lines;
}

std::optional<JournalRecord> nextToUndo(Database &db)
{
    ensureJournalTables(db);
    Statement query = db.prepare(std::string("SELECT ") + kRecordColumns
                                 + " FROM Journal WHERE state <> 'undone' ORDER BY id DESC LIMIT 1");
    if (!query.next())
        return std::nullopt;
    return readRecord(query);
}

JournalRecord undoLatest(Database &db)
{
    ensureJournalTables(db);
    platform::Transaction transaction(db);
    const std::optional<JournalRecord> next = nextToUndo(db);
    if (!next)
        throw refusal(QStringLiteral("沒有可以復原的作業"));
    const JournalRecord &record = *next;
    if (record.state == JournalRecord::State::Running)
        throw refusal(quoted(record) + QStringLiteral("沒有正常結束（或仍在進行中），無法復原"));
    if (record.state == JournalRecord::State::Dropped)
        throw refusal(quoted(record) + QStringLiteral("的復原資料已不保留（") + record.droppedWhy
                      + QStringLiteral("），無法復原"));

    const std::string id = std::to_string(record.id);
    Statement saved = db.prepare("SELECT receivables_max, store_max, seal_before, coalesce(seal_after, '') FROM Journal "
                                 "WHERE id = " + id);
    saved.next();
    const std::array<qint64, 2> largest = {saved.text(0).toLongLong(), saved.text(1).toLongLong()};
    const QString before = saved.text(2), after = saved.text(3);
    saved.reset();
    if (seal(db) != after)
        throw refusal(QStringLiteral("資料在") + quoted(record)
                      + QStringLiteral("之後已有變動（回復了資料庫，或被其他程式修改），無法復原"));

    for (std::size_t i = 0; i < kJournalled.size(); ++i) {
        const Journalled &t = kJournalled[i];
        // Per row id, what happened to it first: the row as it was before the operation.
        const std::string first = std::string("(SELECT kind, rid, ") + t.columns + " FROM " + t.shadow
                                  + " WHERE entry = " + id + ")";
        db.execute(std::string("DELETE FROM ") + t.table + " WHERE rowid > " + std::to_string(largest[i])
                   + " OR rowid IN (SELECT rid FROM " + first + " WHERE kind = " + std::to_string(kInserted) + ")");
        db.execute(std::string("INSERT OR REPLACE INTO ") + t.table + " (rowid, " + t.columns + ") SELECT rid, "
                   + t.columns + " FROM " + first + " WHERE kind <> " + std::to_string(kInserted));
    }
    // Never half an undo: unless the tables are now exactly as they were before the operation
    // (another program changed them while it ran), nothing of the undo stays.
    if (seal(db) != before)
        throw refusal(quoted(record)
                      + QStringLiteral("進行時資料也被其他程式修改，無法完整復原；資料未變動"));

    for (const Journalled &t : kJournalled)
        db.execute(std::string("DELETE FROM ") + t.shadow + " WHERE entry = " + id);
    db.execute("UPDATE Journal SET state = 'undone' WHERE id = " + id);
    transaction.commit();
    JournalRecord undone = record;
    undone.state = JournalRecord::State::Undone;
    return undone;
}

void forgetUndoBeforeRestore(Database &db)
{
    ensureJournalTables(db);
    platform::Transaction transaction(db);
    dropUndoData(db, "state IN ('done', 'running')", QStringLiteral("資料庫已從備份回復"));
    transaction.commit();
}

QString stateWord(JournalRecord::State state)
{
    switch (state) {
    case JournalRecord::State::Done:
        return QString();
    case JournalRecord::State::Running:
        return QStringLiteral("unfinished");
    case JournalRecord::State::Undone:
        return QStringLiteral("undone");
    case JournalRecord::State::Dropped:
        return QStringLiteral("undo data dropped");
    }
    return QString();
}

} // namespace talvesk::db
