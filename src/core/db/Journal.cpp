#include "db/Journal.h"

#include "db/Connection.h"
#include "db/JournalSeal.h"
#include "db/JournalTables.h"
#include "db/UndoRecords.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace talvesk::db {

using namespace journal;
using platform::Database;
using platform::Error;
using platform::Statement;

namespace {

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
    seal_after      TEXT,
    file_hash       TEXT
);
CREATE TABLE IF NOT EXISTS JournalProblems (
    seq    INTEGER PRIMARY KEY,
    entry  INTEGER NOT NULL,
    number INTEGER NOT NULL,
    reason TEXT NOT NULL,
    text   TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS JournalProblems_entry ON JournalProblems (entry);
CREATE TABLE IF NOT EXISTS JournalUndo (
    entry INTEGER NOT NULL,
    tab   INTEGER NOT NULL,
    seq   INTEGER NOT NULL,
    data  BLOB NOT NULL,
    PRIMARY KEY (entry, tab, seq)
) WITHOUT ROWID;
)";

qint64 firstInteger(Database &db, const std::string &sql)
{
    Statement query = db.prepare(sql);
    return query.next() ? query.text(0).toLongLong() : 0;
}

qint64 dataVersion(Database &db)
{
    return firstInteger(db, "PRAGMA main.data_version");
}

JournalRecord::State stateOf(const QString &text)
{
    if (text == QLatin1String("done"))
        return JournalRecord::State::Done;
    if (text == QLatin1String("undone"))
        return JournalRecord::State::Undone;
    if (text == QLatin1String("dropped"))
        return JournalRecord::State::Dropped;
    if (text == QLatin1String("failed"))
        return JournalRecord::State::Failed;
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
    const std::string entries = "entry IN (SELECT id FROM Journal WHERE " + where + ")";
    db.execute("DELETE FROM JournalUndo WHERE " + entries);
    for (const Journalled &t : kJournalled)
        if (db.hasTable(QString::fromLatin1(t.shadow)))
            db.execute(std::string("DELETE FROM ") + t.shadow + " WHERE " + entries);
    Statement mark = db.prepare("UPDATE Journal SET state = 'dropped', dropped_why = ?1 WHERE " + where);
    mark.bind(1, why);
    mark.run();
}

Error refusal(const QString &why)
{
    return Error(platform::errnum::Database, why);
}

// The lock file an operation holds while it runs, beside the database.
QString runningLockPath(Database &db, qint64 id)
{
    return db.filePath() + QStringLiteral(".entry-%1.lock").arg(id);
}

// Whether the operation of entry `id` still runs: its process holds the entry's lock file. A lock
// left by a process that is gone is taken over, and so not held.
bool stillRunning(Database &db, qint64 id)
{
    QLockFile probe(runningLockPath(db, id));
    probe.setStaleLockTime(0);
    if (probe.tryLock(0)) {
        probe.unlock();
        return false;
    }
    return probe.error() == QLockFile::LockFailedError;
}

constexpr std::size_t kFlushBytes = 4 << 20;
constexpr qint64 kDenseMarks = 16 << 20; // row ids up to this are marked in a plain array
constexpr unsigned kInsertedMark = 1u << 15;

} // namespace

// What the open entry's hook gathers: per table, which columns of which rows are already kept,
// the records not yet written, and how the table's seal moved.
struct JournalEntry::Recorder {
    struct Table {
        int columns = 0;
        qint64 limit = 0; // the largest row id before the operation
        std::vector<quint16> dense;
        std::unordered_map<qint64, quint16> sparse;
        std::string buffer;
        qint64 seq = 0;
        TableSeal delta;

        quint16 &marks(qint64 rid)
        {
            if (rid > 0 && limit <= kDenseMarks) {
                if (dense.empty())
                    dense.assign(std::size_t(limit) + 1, 0);
                return dense[std::size_t(rid)];
            }
            return sparse[rid];
        }
        void record(int kind, qint64 rid, unsigned mask, const Value *values)
        {
            appendRecord(buffer, kind, rid, mask, values, columns);
        }
        unsigned all() const { return (1u << columns) - 1; }

        // Rows above the limit are the operation's own: they are added to the seal as they are
        // at the close, so changes to them are not followed here.
        void inserted(qint64 rid, const Value *values)
        {
            if (rid > limit)
                return;
            ++delta.rows;
            delta.sum += rowHash(rid, values, columns);
            quint16 &m = marks(rid);
            if (m == 0) {
                record(kInserted, rid, 0, nullptr);
                m = quint16(all() | kInsertedMark);
            }
        }
        void deleted(qint64 rid, const Value *values)
        {
            if (rid > limit)
                return;
            --delta.rows;
            delta.sum -= rowHash(rid, values, columns);
            quint16 &m = marks(rid);
            if (m & kInsertedMark)
                return;
            // Always a record, even with no column left to keep: the undo must insert the row
            // again before its earlier updates are put back.
            record(kDeleted, rid, all() & ~unsigned(m), values);
            m = quint16(all());
        }
        // Only the columns in `among` may have changed (and only they are read).
        void updated(qint64 rid, const Value *before, const Value *after, unsigned among)
        {
            if (rid > limit)
                return;
            unsigned changed = 0;
            for (int c = 0; c < columns; ++c)
                if ((among & (1u << c)) && !sameValue(before[c], after[c])) {
                    changed |= 1u << c;
                    delta.sum += cellHash(rid, c, after[c]) - cellHash(rid, c, before[c]);
                }
            if (changed == 0)
                return;
            quint16 &m = marks(rid);
            const unsigned first = changed & ~unsigned(m);
            if (first != 0) {
                record(kUpdated, rid, first, before);
                m = quint16(m | first);
            }
        }
    };

    std::array<Table, kJournalled.size()> tables;
    Seal before;
    qint64 dataVersion = 0;
    bool exact = true;

    std::size_t buffered() const
    {
        std::size_t n = 0;
        for (const Table &t : tables)
            n += t.buffer.size();
        return n;
    }

    // Where each journalled column sits in its table, for the hook's column numbers.
    std::array<std::array<int, 16>, kJournalled.size()> positions{};
    // A change the hook could not follow (memory ran out, a blob written in place): the entry
    // cannot be undone.
    bool lost = false;

    // The next update a writer declared (DeclaredUpdate): the row, the columns it sets, and their
    // values before it, copied.
    struct Declared {
        bool set = false;
        std::size_t tab = 0;
        qint64 rid = 0;
        unsigned mask = 0;
        std::array<Value, 16> values;
        std::array<std::string, 16> bytes;
    } declared;
    // Rows a writer's one statement is about to update (DeclaredUpdate::row): the columns it
    // sets, with their values before and after, copied.
    struct DeclaredRow {
        qint64 rid = 0;
        bool done = false;
        std::array<Value, 16> before, after;
        std::array<std::string, 16> bytesBefore, bytesAfter;
    };
    struct DeclaredRows {
        std::size_t tab = 0;
        unsigned mask = 0;
        std::size_t count = 0;
        std::size_t next = 0; // where the hook looks first
        std::deque<DeclaredRow> rows; // the first `count` hold; a deque, so that growing moves none
    } declaredRows;

    // Called by the engine before this connection inserts, updates or deletes any row.
    static void hook(void *context, sqlite3 *db, int op, const char *database, const char *table, sqlite3_int64 key,
                     sqlite3_int64 newKey)
    {
        auto *self = static_cast<Recorder *>(context);
        if (std::strcmp(database, "main") != 0)
            return;
        std::size_t tab = 0;
        while (tab < kJournalled.size() && sqlite3_stricmp(table, kJournalled[tab].table) != 0)
            ++tab;
        if (tab == kJournalled.size())
            return;
        Table &t = self->tables[tab];
        const auto &at = self->positions[tab];
        try {
            if (op != SQLITE_UPDATE)
                self->declared.set = false;
            std::array<Value, 16> before, after;
            auto read = [&](auto get, std::array<Value, 16> &into) {
                for (int c = 0; c < t.columns; ++c) {
                    sqlite3_value *v = nullptr;
                    if (get(db, at[std::size_t(c)], &v) != SQLITE_OK || !v)
                        throw std::runtime_error("value");
                    into[std::size_t(c)] = valueOf(v);
                }
            };
            // Nothing to read for a row above the limit (the operation's own row).
            if (std::max(key, newKey) > t.limit && (op != SQLITE_UPDATE || std::min(key, newKey) > t.limit))
                return;
            if (op == SQLITE_INSERT) {
                read(sqlite3_preupdate_new, after);
                t.inserted(newKey, after.data());
            } else if (op == SQLITE_DELETE) {
                if (sqlite3_preupdate_blobwrite(db) >= 0)
                    throw std::runtime_error("blob write");
                read(sqlite3_preupdate_old, before);
                t.deleted(key, before.data());
            } else if (op == SQLITE_UPDATE) {
                Declared &d = self->declared;
                if (d.set && d.tab == tab && d.rid == key && newKey == key) {
                    d.set = false;
                    for (int c = 0; c < t.columns; ++c) {
                        if (!(d.mask & (1u << c)))
                            continue;
                        sqlite3_value *v = nullptr;
                        if (sqlite3_preupdate_new(db, at[std::size_t(c)], &v) != SQLITE_OK || !v)
                            throw std::runtime_error("value");
                        after[std::size_t(c)] = valueOf(v);
                    }
                    t.updated(key, d.values.data(), after.data(), d.mask);
                    return;
                }
                DeclaredRows &rows = self->declaredRows;
                if (rows.count > 0 && rows.tab == tab && newKey == key)
                    // Rows are mostly updated in the order they were declared: the search starts
                    // after the last one found.
                    for (std::size_t n = 0, i = rows.next; n < rows.count; ++n, i = (i + 1) % rows.count)
                        if (DeclaredRow &r = rows.rows[i]; r.rid == key && !r.done) {
                            r.done = true;
                            rows.next = (i + 1) % rows.count;
                            t.updated(key, r.before.data(), r.after.data(), rows.mask);
                            return;
                        }
                read(sqlite3_preupdate_old, before);
                read(sqlite3_preupdate_new, after);
                if (newKey == key) {
                    t.updated(key, before.data(), after.data(), t.all());
                } else {
                    t.deleted(key, before.data());
                    t.inserted(newKey, after.data());
                }
            }
        } catch (...) {
            self->lost = true;
        }
    }
};

namespace {

// `v` with its bytes copied into `keep`.
Value kept(Value v, std::string &keep)
{
    if (v.type == SQLITE_TEXT || v.type == SQLITE_BLOB) {
        if (v.size > 0)
            keep.assign(reinterpret_cast<const char *>(v.bytes), std::size_t(v.size));
        else
            keep.clear();
        v.bytes = reinterpret_cast<const unsigned char *>(keep.data());
    }
    return v;
}

// The recorder of the entry open on each connection, for the writers' declarations.
std::mutex recordersLock;
std::unordered_map<sqlite3 *, JournalEntry::Recorder *> recorders;

JournalEntry::Recorder *recorderOf(sqlite3 *db)
{
    std::lock_guard<std::mutex> lock(recordersLock);
    const auto found = recorders.find(db);
    return found == recorders.end() ? nullptr : found->second;
}

} // namespace

bool journalExists(Database &db)
{
    return db.hasTable(QStringLiteral("Journal"));
}

namespace {
// Whether the journal has the column of its files' hashes (a journal made before it had none).
bool hasFileHash(Database &db)
{
    Statement info = db.prepare("PRAGMA main.table_info(Journal)");
    while (info.next())
        if (info.text(1) == QLatin1String("file_hash"))
            return true;
    return false;
}
} // namespace

void ensureJournalTables(Database &db)
{
    if (db.hasTable(QStringLiteral("Journal")) && db.hasTable(QStringLiteral("JournalProblems"))
        && db.hasTable(QStringLiteral("JournalUndo")) && hasFileHash(db))
        return;
    platform::Transaction transaction(db);
    db.execute(kJournalTable);
    if (!hasFileHash(db))
        db.execute("ALTER TABLE Journal ADD COLUMN file_hash TEXT");
    transaction.commit();
}

QString fileHash(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

std::optional<QDateTime> importedBefore(Database &db, const QString &hash)
{
    if (hash.isEmpty() || !journalExists(db) || !hasFileHash(db))
        return std::nullopt;
    Statement last = db.prepare("SELECT at FROM Journal WHERE file_hash = ?1 AND state = 'done' "
                                "AND operation LIKE 'import-%' ORDER BY id DESC LIMIT 1");
    last.bind(1, hash);
    if (!last.next())
        return std::nullopt;
    return QDateTime::fromString(last.text(0), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

std::optional<QDateTime> importedBefore(const platform::AppFolder &app, const QString &file)
{
    const QString hash = fileHash(file);
    if (hash.isEmpty())
        return std::nullopt;
    try {
        Database db = openDatabase(app);
        return importedBefore(db, hash);
    } catch (const Error &) {
        return std::nullopt;
    }
}

// ---- JournalEntry ----

JournalEntry::JournalEntry(Database &db, const QString &operation, const QString &file)
    : db_(db), recorder_(std::make_unique<Recorder>())
{
    ensureJournalTables(db_);
    // Where the columns are in each table, for the engine's column numbers.
    for (std::size_t i = 0; i < kJournalled.size(); ++i) {
        const std::vector<std::string> names = columnNames(kJournalled[i]);
        Statement info = db_.prepare(std::string("PRAGMA main.table_info(") + kJournalled[i].table + ")");
        std::vector<bool> found(names.size(), false);
        while (info.next()) {
            const std::string name = info.text(1).toStdString();
            for (std::size_t c = 0; c < names.size(); ++c)
                if (sqlite3_stricmp(name.c_str(), names[c].c_str()) == 0) {
                    recorder_->positions[i][c] = int(info.integer(0));
                    found[c] = true;
                }
        }
        if (std::find(found.begin(), found.end(), false) != found.end())
            throw Error(platform::errnum::Database, QStringLiteral("資料表 %1 的欄位不完整").arg(QLatin1String(kJournalled[i].table)));
    }

    platform::Transaction transaction(db_);
    for (std::size_t i = 0; i < kJournalled.size(); ++i) {
        recorder_->tables[i].columns = kJournalled[i].columnCount;
        recorder_->tables[i].limit =
            firstInteger(db_, std::string("SELECT coalesce(max(rowid), 0) FROM ") + kJournalled[i].table);
    }
    // The state the last operation left, when the file shows that nothing was written since it
    // was stored; otherwise the tables are read.
    std::optional<Seal> known;
    if (const std::optional<quint32> counter = changeCounter(db_)) {
        Statement last = db_.prepare("SELECT seal_after FROM Journal WHERE seal_after IS NOT NULL ORDER BY id DESC LIMIT 1");
        if (last.next()) {
            const QString stored = last.text(0);
            const qsizetype at = stored.indexOf(u'@');
            bool ok = false;
            if (at >= 0 && stored.mid(at + 1).toUInt(&ok) == *counter && ok)
                known = parseSeal(stored);
        }
    }
    recorder_->before = known ? *known : readSeal(db_);
    Statement insert = db_.prepare("INSERT INTO Journal (at, operation, file, receivables_max, store_max, seal_before, "
                                   "file_hash) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    insert.bind(1, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
        .bind(2, operation)
        .bind(3, file)
        .bind(4, recorder_->tables[0].limit)
        .bind(5, recorder_->tables[1].limit)
        .bind(6, sealText(recorder_->before));
    // What the file held, so that the same contents imported again can be noticed.
    const QString hash = fileHash(file);
    if (hash.isEmpty())
        insert.bindNull(7);
    else
        insert.bind(7, hash);
    insert.run();
    id_ = sqlite3_last_insert_rowid(db_.handle());
    // Whatever an operation cut short by a restore left under this id is not this entry's.
    db_.execute("DELETE FROM JournalUndo WHERE entry = " + std::to_string(id_) + "; DELETE FROM JournalProblems WHERE entry = "
                + std::to_string(id_));
    // Read while no other program can write, so that any write of theirs from here on is seen.
    recorder_->dataVersion = dataVersion(db_);
    // Taken before the entry can be seen, so an undo never mistakes it for one that crashed.
    running_ = std::make_unique<QLockFile>(runningLockPath(db_, id_));
    running_->setStaleLockTime(0);
    running_->tryLock(0);
    transaction.commit();

    stopRecording();
    problem_.emplace(db_.prepare("INSERT INTO JournalProblems (entry, number, reason, text) VALUES (?1, ?2, ?3, ?4)"));
    // This connection's changes alone: another program's are not the operation's.
    sqlite3_preupdate_hook(db_.handle(), &Recorder::hook, recorder_.get());
    recording_ = true;
    try {
        std::lock_guard<std::mutex> lock(recordersLock);
        recorders[db_.handle()] = recorder_.get();
    } catch (...) {
        stopRecording(); // the hook must not outlive the recorder
        throw;
    }
}

JournalEntry::~JournalEntry()
{
    stopRecording();
    running_.reset();
}

void JournalEntry::stopRecording() noexcept
{
    problem_.reset();
    if (recording_) {
        sqlite3_preupdate_hook(db_.handle(), nullptr, nullptr);
        std::lock_guard<std::mutex> lock(recordersLock);
        recorders.erase(db_.handle());
    }
    recording_ = false;
}

QString problemExcerpt(const QString &text)
{
    if (text.size() <= kProblemTextChars)
        return text;
    // The note takes at most 15 characters: the cut text and it stay within the bound.
    qsizetype keep = kProblemTextChars - 32;
    if (text.at(keep - 1).isHighSurrogate())
        --keep; // never half a character
    return text.left(keep) + QStringLiteral("…（共 %1 字）").arg(text.size());
}

void JournalEntry::problem(qint64 number, const QString &reason, const QString &text)
{
    if (!problem_)
        return;
    problem_->bind(1, QString::number(id_)).bind(2, QString::number(number)).bind(3, reason).bind(4, problemExcerpt(text));
    problem_->run();
    problem_->reset();
}

bool JournalEntry::wantsFlush() const
{
    return recorder_->buffered() >= kFlushBytes;
}

void JournalEntry::flush()
{
    for (std::size_t i = 0; i < recorder_->tables.size(); ++i) {
        Recorder::Table &t = recorder_->tables[i];
        if (t.buffer.empty())
            continue;
        RawStatement insert(db_, "INSERT INTO JournalUndo (entry, tab, seq, data) VALUES (?1, ?2, ?3, ?4)");
        sqlite3_bind_int64(insert.get(), 1, id_);
        sqlite3_bind_int64(insert.get(), 2, qint64(i));
        sqlite3_bind_int64(insert.get(), 3, t.seq);
        sqlite3_bind_blob64(insert.get(), 4, t.buffer.data(), t.buffer.size(), SQLITE_STATIC);
        insert.run();
        ++t.seq;
        t.buffer.clear();
        t.buffer.shrink_to_fit();
    }
}

void JournalEntry::failed() noexcept
{
    recorder_->exact = false;
    failing_ = true;
}

void JournalEntry::close(const QString &counts)
{
    stopRecording();
    platform::Transaction transaction(db_);
    // Read before anything is written, while no other program can write: this transaction's
    // commit raises the counter by one.
    const bool alone = dataVersion(db_) == recorder_->dataVersion;
    // A connection in exclusive locking mode (a clearing holds one) raises the counter once for
    // the whole lock, not once per commit: the number after this commit cannot be told.
    bool exclusive = false;
    {
        Statement mode = db_.prepare("PRAGMA main.locking_mode");
        exclusive = mode.next() && mode.text(0).compare(QLatin1String("exclusive"), Qt::CaseInsensitive) == 0;
    }
    const std::optional<quint32> counter = changeCounter(db_);
    flush();
    Seal after;
    if (alone && recorder_->exact && !recorder_->lost) {
        // What the operation did, added to what the tables were: no need to read them again.
        // The rows above the limits are all the operation's, read as they are now.
        RowIds limits;
        for (std::size_t i = 0; i < limits.size(); ++i)
            limits[i] = recorder_->tables[i].limit;
        after = readSeal(db_, limits);
        for (std::size_t i = 0; i < after.size(); ++i) {
            after[i].rows += recorder_->before[i].rows + recorder_->tables[i].delta.rows;
            after[i].sum += recorder_->before[i].sum + recorder_->tables[i].delta.sum;
        }
    } else {
        // Another program wrote meanwhile, or a change failed part way: the tables say.
        after = readSeal(db_);
    }
    QString stored = sealText(after);
    if (counter && !exclusive)
        stored += u'@' + QString::number(quint32(*counter + 1));
    // A failed operation that left the tables as they were has nothing to undo: an undo passes
    // over it to the one before.
    const bool storedNothing = failing_ && after == recorder_->before;
    Statement done = db_.prepare("UPDATE Journal SET counts = ?1, state = ?2, seal_after = ?3 WHERE id = ?4");
    done.bind(1, counts)
        .bind(2, storedNothing ? QStringLiteral("failed") : QStringLiteral("done"))
        .bind(3, stored)
        .bind(4, id_);
    done.run();
    if (storedNothing) {
        Statement forget = db_.prepare("DELETE FROM JournalUndo WHERE entry = ?1");
        forget.bind(1, id_);
        forget.run();
    }
    if (recorder_->lost && !storedNothing)
        dropUndoData(db_, "id = " + std::to_string(id_), QStringLiteral("作業中有變動無法記錄"));
    // Another program wrote while the operation ran: its rows and the operation's can no longer
    // be told apart, and an undo could take theirs away with the operation's.
    if (!alone && !storedNothing)
        dropUndoData(db_, "id = " + std::to_string(id_), QStringLiteral("作業進行時其他程式也寫入了資料庫"));
    // The newest kUndoDepth operations not yet undone keep their undo data; older ones lose it.
    dropUndoData(db_,
                 "state IN ('done', 'running') AND id < (SELECT id FROM Journal WHERE state IN ('done', 'running') "
                 "ORDER BY id DESC LIMIT 1 OFFSET "
                     + std::to_string(kUndoDepth - 1) + ")",
                 QStringLiteral("只保留最近 %1 次作業的復原資料").arg(kUndoDepth));
    transaction.commit();
    running_.reset();
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

// ---- DeclaredUpdate ----

DeclaredUpdate::DeclaredUpdate(Database &db, const char *table, std::initializer_list<const char *> columns) : db_(db)
{
    while (table_ < kJournalled.size() && sqlite3_stricmp(table, kJournalled[table_].table) != 0)
        ++table_;
    if (table_ == kJournalled.size())
        throw Error(platform::errnum::Database, QStringLiteral("不是記錄在作業記錄中的資料表"));
    const std::vector<std::string> names = columnNames(kJournalled[table_]);
    for (const char *column : columns) {
        const auto found = std::find_if(names.begin(), names.end(),
                                        [&](const std::string &name) { return sqlite3_stricmp(name.c_str(), column) == 0; });
        if (found == names.end())
            throw Error(platform::errnum::Database, QStringLiteral("沒有這個欄位：") + QLatin1String(column));
        columns_.push_back(int(found - names.begin()));
    }
}

void DeclaredUpdate::before(qint64 rid, const Statement &row, int firstColumn)
{
    JournalEntry::Recorder *recorder = recorderOf(db_.handle());
    if (!recorder)
        return;
    JournalEntry::Recorder::Declared &d = recorder->declared;
    d.set = true;
    d.tab = table_;
    d.rid = rid;
    d.mask = 0;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const std::size_t c = std::size_t(columns_[i]);
        d.values[c] = kept(valueOf(row.value(firstColumn + int(i))), d.bytes[c]);
        d.mask |= 1u << c;
    }
}

void DeclaredUpdate::after()
{
    if (JournalEntry::Recorder *recorder = recorderOf(db_.handle())) {
        recorder->declared.set = false;
        recorder->declaredRows.count = 0;
        recorder->declaredRows.next = 0;
    }
    lookedUp_ = false;
    recorder_ = nullptr;
}

void DeclaredUpdate::statementUndone()
{
    if (JournalEntry::Recorder *recorder = recorderOf(db_.handle()))
        recorder->exact = false;
}

void DeclaredUpdate::row(qint64 rid, sqlite3_value *const *before, const QByteArrayView *after)
{
    // The entry open on the connection cannot change while one statement runs.
    if (!lookedUp_) {
        recorder_ = recorderOf(db_.handle());
        lookedUp_ = true;
    }
    JournalEntry::Recorder *recorder = recorder_;
    if (!recorder)
        return;
    JournalEntry::Recorder::DeclaredRows &rows = recorder->declaredRows;
    rows.tab = table_;
    rows.mask = 0;
    if (rows.count == rows.rows.size())
        rows.rows.emplace_back();
    JournalEntry::Recorder::DeclaredRow &r = rows.rows[rows.count++];
    r.rid = rid;
    r.done = false;
    // Filled in place: a whole Value built aside and copied in costs more than the rest here.
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const std::size_t c = std::size_t(columns_[i]);
        Value &b = r.before[c];
        readValue(before[i], b);
        if (b.type == SQLITE_TEXT || b.type == SQLITE_BLOB) {
            r.bytesBefore[c].assign(reinterpret_cast<const char *>(b.bytes), std::size_t(b.size));
            b.bytes = reinterpret_cast<const unsigned char *>(r.bytesBefore[c].data());
        }
        Value &a = r.after[c];
        a = Value{};
        a.type = SQLITE_TEXT;
        r.bytesAfter[c].assign(after[i].data(), std::size_t(after[i].size()));
        a.bytes = reinterpret_cast<const unsigned char *>(r.bytesAfter[c].data());
        a.size = int(after[i].size());
        rows.mask |= 1u << c;
    }
}

// ---- reading and undoing ----

std::vector<JournalRecord> journalEntries(Database &db)
{
    std::vector<JournalRecord> records;
    if (!journalExists(db))
        return records;
    Statement query = db.prepare(std::string("SELECT ") + kRecordColumns + " FROM Journal ORDER BY id DESC");
    while (query.next())
        records.push_back(readRecord(query));
    return records;
}

std::optional<std::vector<ProblemLine>> problemLines(Database &db, qint64 id, qint64 limit)
{
    if (!journalExists(db))
        return std::nullopt;
    Statement known = db.prepare("SELECT 1 FROM Journal WHERE id = ?1");
    known.bind(1, id);
    if (!known.next())
        return std::nullopt;
    std::vector<ProblemLine> lines;
    if (!db.hasTable(QStringLiteral("JournalProblems")))
        return lines;
    Statement query = db.prepare("SELECT number, reason, text FROM JournalProblems WHERE entry = ?1 ORDER BY seq LIMIT ?2");
    query.bind(1, id).bind(2, limit);
    while (query.next())
        lines.push_back({query.text(0).toLongLong(), query.text(1), query.text(2)});
    return lines;
}

namespace {

const QString kNothingToUndo = QStringLiteral("沒有可以復原的作業");

// Whether the tables are still as `stored` (an entry's seal_after) says: at once when the file's
// change counter shows nothing was written since it was stored, otherwise by reading them.
bool tablesStillAsLeft(Database &db, const QString &stored)
{
    if (const qsizetype at = stored.indexOf(u'@'); at >= 0) {
        bool ok = false;
        const quint32 then = stored.mid(at + 1).toUInt(&ok);
        if (const std::optional<quint32> now = changeCounter(db); ok && now && *now == then)
            return true;
    }
    return tablesMatch(db, stored);
}

// The columns of the journalled tables that are not the program's (another program added them):
// their values are in no seal and no undo data, so an undo could not bring them back.
QStringList foreignColumns(Database &db)
{
    QStringList foreign;
    for (const Journalled &t : kJournalled) {
        const std::vector<std::string> names = columnNames(t);
        Statement info = db.prepare(std::string("PRAGMA main.table_info(") + t.table + ")");
        while (info.next()) {
            const std::string name = info.text(1).toStdString();
            if (std::none_of(names.begin(), names.end(),
                             [&](const std::string &known) { return sqlite3_stricmp(known.c_str(), name.c_str()) == 0; }))
                foreign << QLatin1String(t.table) + u'.' + info.text(1);
        }
    }
    return foreign;
}

} // namespace

UndoPlan planUndo(Database &db)
{
    UndoPlan plan;
    if (!journalExists(db)) {
        plan.refusal = kNothingToUndo;
        return plan;
    }
    Statement query = db.prepare(std::string("SELECT ") + kRecordColumns
                                 + ", seal_before, coalesce(seal_after, '') FROM Journal "
                                   "WHERE state NOT IN ('undone', 'failed') ORDER BY id DESC");
    while (query.next()) {
        const JournalRecord record = readRecord(query);
        const QString before = query.text(7), after = query.text(8);
        if (record.state == JournalRecord::State::Running) {
            if (stillRunning(db, record.id)) {
                plan.entry = record;
                plan.refusal = entryCaption(record) + QStringLiteral("還在進行中，等它結束後才能復原");
                return plan;
            }
            // Ended without closing its entry (a crash, or a disk too full to write the close):
            // when the tables are as it found them, it stored nothing and is passed over.
            if (tablesMatch(db, before)) {
                plan.passedOver.push_back(record.id);
                continue;
            }
            plan.entry = record;
            plan.refusal = entryCaption(record) + QStringLiteral("沒有正常結束，已存入的部分無法復原");
            return plan;
        }
        plan.entry = record;
        const QStringList foreign = foreignColumns(db);
        if (!foreign.isEmpty())
            plan.refusal = QStringLiteral("資料表有本程式以外的欄位（") + foreign.join(QStringLiteral("、"))
                           + QStringLiteral("），其中的資料無法復原，未復原") + entryCaption(record);
        else if (record.state == JournalRecord::State::Dropped)
            plan.refusal = entryCaption(record) + QStringLiteral("的復原資料已不保留（") + record.droppedWhy
                           + QStringLiteral("），無法復原");
        else if (!tablesStillAsLeft(db, after))
            plan.refusal = QStringLiteral("資料在") + entryCaption(record)
                           + QStringLiteral("之後已有變動（回復了資料庫，或被其他程式修改），無法復原");
        return plan;
    }
    plan.refusal = kNothingToUndo;
    return plan;
}

JournalRecord undoLatest(Database &db)
{
    if (!journalExists(db))
        throw refusal(kNothingToUndo);
    // An undo writes: a journal from before the compact undo data gets its missing tables.
    ensureJournalTables(db);
    platform::Transaction transaction(db);
    const UndoPlan plan = planUndo(db);
    if (!plan.refusal.isEmpty())
        throw refusal(plan.refusal);
    const JournalRecord &record = *plan.entry;

    Statement saved = db.prepare("SELECT receivables_max, store_max, seal_before FROM Journal WHERE id = ?1");
    saved.bind(1, record.id);
    saved.next();
    const std::array<qint64, 2> largest = {saved.integer(0), saved.integer(1)};
    const QString before = saved.text(2);
    saved.reset();

    const std::string id = std::to_string(record.id);
    for (std::size_t i = 0; i < kJournalled.size(); ++i) {
        const Journalled &t = kJournalled[i];
        db.execute(std::string("DELETE FROM ") + t.table + " WHERE rowid > " + std::to_string(largest[i]));
        undoRecords(db, record.id, i);
        // Entries from before the compact records kept whole rows, the first event per row id.
        if (db.hasTable(QString::fromLatin1(t.shadow))) {
            const std::string first = std::string("(SELECT kind, rid, ") + t.columns + " FROM " + t.shadow
                                      + " WHERE entry = " + id + ")";
            db.execute(std::string("DELETE FROM ") + t.table + " WHERE rowid IN (SELECT rid FROM " + first
                       + " WHERE kind = " + std::to_string(kInserted) + ")");
            db.execute(std::string("INSERT OR REPLACE INTO ") + t.table + " (rowid, " + t.columns + ") SELECT rid, "
                       + t.columns + " FROM " + first + " WHERE kind <> " + std::to_string(kInserted));
        }
    }
    // Never half an undo: unless the tables are now exactly as they were before the operation
    // (another program changed them while it ran), nothing of the undo stays.
    if (!tablesMatch(db, before))
        throw refusal(entryCaption(record) + QStringLiteral("進行時資料也被其他程式修改，無法完整復原；資料未變動"));

    db.execute("DELETE FROM JournalUndo WHERE entry = " + id);
    for (const Journalled &t : kJournalled)
        if (db.hasTable(QString::fromLatin1(t.shadow)))
            db.execute(std::string("DELETE FROM ") + t.shadow + " WHERE entry = " + id);
    db.execute("UPDATE Journal SET state = 'undone' WHERE id = " + id);
    // The unfinished entries passed over stored nothing: they say so from now on.
    Statement nothing = db.prepare("UPDATE Journal SET state = 'failed' WHERE id = ?1 AND state = 'running'");
    for (const qint64 passed : plan.passedOver) {
        nothing.bind(1, passed);
        nothing.run();
        nothing.reset();
    }
    transaction.commit();
    JournalRecord undone = record;
    undone.state = JournalRecord::State::Undone;
    return undone;
}

void requireNoOperationRunning(Database &db)
{
    if (!journalExists(db))
        return;
    Statement running = db.prepare(std::string("SELECT ") + kRecordColumns + " FROM Journal WHERE state = 'running'");
    while (running.next()) {
        const JournalRecord record = readRecord(running);
        if (stillRunning(db, record.id))
            throw Error(platform::errnum::PermissionDenied, QStringLiteral("另一個作業") + entryCaption(record)
                                                                + QStringLiteral("正在進行中，請等它結束後再試"));
    }
}

void forgetUndoBeforeRestore(Database &db)
{
    if (!journalExists(db))
        return;
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
    case JournalRecord::State::Failed:
        return QStringLiteral("nothing stored");
    }
    return QString();
}

QString operationCaption(const QString &operation)
{
    static const std::map<QString, QString> captions = {
        {QStringLiteral("import-receivables"), QStringLiteral("讀入應收帳款資料(EXCEL)")},
        {QStringLiteral("import-payments"), QStringLiteral("讀入入帳明細(EXCEL)")},
        {QStringLiteral("import-bank"), QStringLiteral("讀入入帳明細(TXT)")},
        {QStringLiteral("import-store"), QStringLiteral("讀入便利超商銷帳磁片")},
        {QStringLiteral("clear-receivables"), QStringLiteral("應收帳款清檔作業")},
        {QStringLiteral("clear-store"), QStringLiteral("超商資料清檔作業")},
    };
    const auto found = captions.find(operation);
    return found == captions.end() ? operation : found->second;
}

QString entryCaption(const JournalRecord &record)
{
    const QDateTime at = QDateTime::fromString(record.at, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QString when = at.isValid() ? at.toString(QStringLiteral("yyyy/MM/dd HH:mm")) : record.at;
    return QStringLiteral("「%1」（%2）").arg(operationCaption(record.operation), when);
}

} // namespace talvesk::db
