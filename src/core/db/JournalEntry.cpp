// An operation's entry: opened before its first change, recording while the operation runs,
// closed with its counts and the state the tables were left in.

#include "db/Journal.h"

#include "db/JournalRecorder.h"
#include "db/JournalRows.h"

#include <QDateTime>
#include <QSysInfo>

#include <algorithm>
#include <array>

namespace talvesk::db {

using namespace journal;
using platform::Database;
using platform::Error;
using platform::Statement;

namespace {

// The state `stored` (an entry's seal_after) describes, when the file's change counter shows that
// nothing was written since it was stored; nullopt otherwise.
std::optional<Seal> sealStillValid(const QString &stored, std::optional<quint32> counter)
{
    const qsizetype at = stored.indexOf(u'@');
    bool ok = false;
    if (counter && at >= 0 && stored.mid(at + 1).toUInt(&ok) == *counter && ok)
        return parseSeal(stored);
    return std::nullopt;
}

} // namespace

JournalEntry::JournalEntry(Database &db, const QString &operation, const QString &file)
    : db_(db), recorder_(std::make_unique<Recorder>()), fileHash_(std::async(std::launch::async, fileHash, file))
{
    ensureJournalTables(db_);
    // Where the columns are in each table, for the connection's column numbers.
    for (std::size_t i = 0; i < kJournalled.size(); ++i) {
        const std::vector<std::string> names = columnNames(kJournalled[i]);
        const std::vector<std::string> columns = db_.columnsOf(kJournalled[i].table);
        std::vector<bool> found(names.size(), false);
        for (std::size_t at = 0; at < columns.size(); ++at)
            for (std::size_t c = 0; c < names.size(); ++c)
                if (sameName(columns[at].c_str(), names[c].c_str())) {
                    recorder_->positions[i][c] = int(at);
                    found[c] = true;
                }
        if (std::find(found.begin(), found.end(), false) != found.end())
            throw Error(platform::errnum::Database, QStringLiteral("資料表 %1 的欄位不完整").arg(QLatin1String(kJournalled[i].table)));
    }

    platform::Transaction transaction(db_);
    // Read first, so that any write of another program from here on is seen: a file keeps
    // other writers out until the commit, but on the server a change made by hand can come
    // between any two statements.
    recorder_->dataVersion = dataVersion(db_);
    for (std::size_t i = 0; i < kJournalled.size(); ++i) {
        recorder_->tables[i].columns = kJournalled[i].columnCount;
        recorder_->tables[i].limit =
            firstInteger(db_, std::string("SELECT coalesce(max(rowid), 0) FROM ") + kJournalled[i].table);
    }
    // The state the last operation left, when the file shows that nothing was written since it
    // was stored; otherwise the tables are read.
    std::optional<Seal> known;
    if (const std::optional<quint32> counter = db_.changeCounter()) {
        Statement last = db_.prepare("SELECT seal_after FROM Journal WHERE seal_after IS NOT NULL ORDER BY id DESC LIMIT 1");
        if (last.next())
            known = sealStillValid(last.text(0), counter);
    }
    recorder_->before = known ? *known : readSeal(db_);
    // On the server, the desk that ran the operation too.
    Statement insert = db_.prepare(db_.isServer() ? "INSERT INTO Journal (at, operation, file, receivables_max, store_max, "
                                                    "seal_before, file_hash, host) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)"
                                                  : "INSERT INTO Journal (at, operation, file, receivables_max, store_max, "
                                                    "seal_before, file_hash) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    insert.bind(1, QDateTime::currentDateTime().toString(kStampFormat))
        .bind(2, operation)
        .bind(3, file)
        .bind(4, recorder_->tables[0].limit)
        .bind(5, recorder_->tables[1].limit)
        .bind(6, sealText(recorder_->before));
    insert.bindNull(7); // stored at the close
    if (db_.isServer())
        insert.bind(8, QSysInfo::machineHostName());
    insert.run();
    id_ = db_.lastInsertRowid();
    // Whatever an operation cut short by a restore left under this id is not this entry's.
    runWith(db_, "DELETE FROM JournalUndo WHERE entry = ?1", {id_});
    runWith(db_, "DELETE FROM JournalProblems WHERE entry = ?1", {id_});
    // Taken before the entry can be seen, so an undo never mistakes it for one that crashed.
    // (On the server the writing lock, held until the operation ends, says so.)
    if (!db_.isServer()) {
        running_ = std::make_unique<QLockFile>(runningLockPath(db_, id_));
        running_->setStaleLockTime(0);
        running_->tryLock(0);
    }
    transaction.commit();

    stopRecording();
    problem_.emplace(db_.prepare("INSERT INTO JournalProblems (entry, number, reason, text) VALUES (?1, ?2, ?3, ?4)"));
    // This connection's changes alone: another program's are not the operation's. (The server
    // records the changes to the rows that were there; the rows the operation adds are read at
    // its close.)
    std::array<platform::WatchedTable, kJournalled.size()> watched;
    for (std::size_t i = 0; i < kJournalled.size(); ++i)
        watched[i] = {kJournalled[i].table, recorder_->tables[i].limit};
    db_.watchRowChanges(recorder_.get(), watched);
    recording_ = true;
}

JournalEntry::~JournalEntry()
{
    stopRecording();
    running_.reset();
}

void JournalEntry::stopRecording() noexcept
{
    problem_.reset();
    if (recording_ && db_.rowChangeWatcher() == recorder_.get()) {
        try {
            db_.watchRowChanges(nullptr);
        } catch (...) {
            // Only the server can fail here, and a session that cannot stop recording is gone.
        }
    }
    recording_ = false;
}

void JournalEntry::problem(qint64 number, const QString &reason, const QString &text)
{
    if (!problem_)
        return;
    problem_->bind(1, id_).bind(2, number).bind(3, reason).bind(4, problemExcerpt(text));
    problem_->run();
    problem_->reset();
}

bool JournalEntry::wantsFlush() const
{
    return recorder_->buffered() >= kFlushBytes;
}

void JournalEntry::flush()
{
    // The changes the server recorded since the last flush are told to the recorder first.
    if (recording_)
        db_.deliverRowChanges();
    for (std::size_t i = 0; i < recorder_->tables.size(); ++i) {
        Recorder::Table &t = recorder_->tables[i];
        if (t.buffer.empty())
            continue;
        Statement insert = db_.prepare("INSERT INTO JournalUndo (entry, tab, seq, data) VALUES (?1, ?2, ?3, ?4)");
        insert.bind(1, id_).bind(2, qint64(i)).bind(3, t.seq).bind(4, platform::Value::fromBlob(t.buffer));
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

void JournalEntry::close(const QString &counts, const QString &changes)
{
    if (recording_)
        db_.deliverRowChanges();
    stopRecording();
    platform::Transaction transaction(db_);
    // A connection in exclusive locking mode (a clearing holds one) raises the counter once for
    // the whole lock, not once per commit: the number after this commit cannot be told.
    bool exclusive = false;
    if (!db_.isServer()) {
        Statement mode = db_.prepare("PRAGMA main.locking_mode");
        exclusive = mode.next() && mode.text(0).compare(QLatin1String("exclusive"), Qt::CaseInsensitive) == 0;
    }
    // Read before anything is written: this transaction's commit raises the counter by one.
    const std::optional<quint32> counter = db_.changeCounter();
    flush();
    const bool exact = recorder_->exact && !recorder_->lost;
    if (exact && db_.isServer()) {
        // The server recorded no change to the rows the operation added: they are summed up
        // here, as they are now, once.
        RowIds limits;
        for (std::size_t i = 0; i < limits.size(); ++i)
            limits[i] = recorder_->tables[i].limit;
        const Seal own = readSeal(db_, limits);
        for (std::size_t i = 0; i < own.size(); ++i)
            recorder_->tables[i].own = own[i];
    }
    // Asked after the operation's rows are read, so that another program's commit before that
    // (a file keeps them out; the server does not keep out a change by hand) is seen.
    const bool alone = dataVersion(db_) == recorder_->dataVersion;
    Seal after;
    if (alone && exact) {
        // What the operation did, added to what the tables were: no need to read them again.
        for (std::size_t i = 0; i < after.size(); ++i) {
            const Recorder::Table &t = recorder_->tables[i];
            after[i].rows = recorder_->before[i].rows + t.delta.rows + t.own.rows;
            after[i].sum = recorder_->before[i].sum + t.delta.sum + t.own.sum;
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
    Statement done = db_.prepare("UPDATE Journal SET counts = ?1, state = ?2, seal_after = ?3, changes = ?5, "
                                 "file_hash = ?6 WHERE id = ?4");
    done.bind(1, counts)
        .bind(2, storedNothing ? QStringLiteral("failed") : QStringLiteral("done"))
        .bind(3, stored)
        .bind(4, id_);
    // What the file held, so that the same contents imported again can be noticed.
    const QString hash = fileHash_.valid() ? fileHash_.get() : QString();
    for (const auto &[column, text] : {std::pair{5, changes}, std::pair{6, hash}}) {
        if (text.isEmpty())
            done.bindNull(column);
        else
            done.bind(column, text);
    }
    done.run();
    if (storedNothing)
        runWith(db_, "DELETE FROM JournalUndo WHERE entry = ?1", {id_});
    if (recorder_->lost && !storedNothing)
        dropUndoData(db_, "id = ?1", id_, QStringLiteral("作業中有變動無法記錄"));
    // Another program wrote while the operation ran: its rows and the operation's can no longer
    // be told apart, and an undo could take theirs away with the operation's.
    if (!alone && !storedNothing)
        dropUndoData(db_, "id = ?1", id_, QStringLiteral("作業進行時其他程式也寫入了資料庫"));
    // The newest kUndoDepth operations not yet undone keep their undo data; older ones lose it.
    dropUndoData(db_,
                 "state IN ('done', 'running') AND id < (SELECT id FROM Journal WHERE state IN ('done', 'running') "
                 "ORDER BY id DESC LIMIT 1 OFFSET ?1)",
                 kUndoDepth - 1, QStringLiteral("只保留最近 %1 次作業的復原資料").arg(kUndoDepth));
    transaction.commit();
    running_.reset();
}

void JournalEntry::closeQuietly(const QString &counts, const QString &changes) noexcept
{
    try {
        close(counts, changes);
    } catch (...) {
        // The entry stays "running": it will not be undone on a guess.
        stopRecording();
    }
}

} // namespace talvesk::db
