// Undoing the newest operation, and what keeps an undo from landing where it cannot be exact.

#include "db/Journal.h"

#include "db/JournalRows.h"
#include "db/JournalSeal.h"
#include "db/UndoRecords.h"

#include <algorithm>

namespace talvesk::db {

using namespace journal;
using platform::Database;
using platform::Error;
using platform::Statement;

namespace {

const QString kNothingToUndo = QStringLiteral("沒有可以復原的作業");

// Whether the tables are still as `stored` (an entry's seal_after) says: at once when the file's
// change counter shows nothing was written since it was stored, otherwise by reading them.
bool tablesStillAsLeft(Database &db, const QString &stored)
{
    if (const qsizetype at = stored.indexOf(u'@'); at >= 0) {
        bool ok = false;
        const quint32 then = stored.mid(at + 1).toUInt(&ok);
        if (const std::optional<quint32> now = db.changeCounter(); ok && now && *now == then)
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
        for (const std::string &name : db.columnsOf(t.table))
            if (std::none_of(names.begin(), names.end(),
                             [&](const std::string &known) { return sameName(known.c_str(), name.c_str()); }))
                foreign << QLatin1String(t.table) + u'.' + QString::fromStdString(name);
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
    Statement query = db.prepare("SELECT " + recordColumns(db)
                                 + ", seal_before, coalesce(seal_after, '') FROM Journal "
                                   "WHERE state NOT IN ('undone', 'failed') ORDER BY id DESC");
    while (query.next()) {
        const JournalRecord record = readRecord(query);
        const QString before = query.text(kRecordColumnCount), after = query.text(kRecordColumnCount + 1);
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

    for (std::size_t i = 0; i < kJournalled.size(); ++i) {
        const Journalled &t = kJournalled[i];
        runWith(db, std::string("DELETE FROM ") + t.table + " WHERE rowid > ?1", {largest[i]});
        undoRecords(db, record.id, i);
        // Entries from before the compact records kept whole rows, the first event per row id.
        if (db.hasTable(QString::fromLatin1(t.shadow))) {
            const std::string first = std::string("(SELECT kind, rid, ") + t.columns + " FROM " + t.shadow
                                      + " WHERE entry = ?1)";
            runWith(db, std::string("DELETE FROM ") + t.table + " WHERE rowid IN (SELECT rid FROM " + first + " WHERE kind = ?2)",
                    {record.id, kInserted});
            runWith(db,
                    std::string("INSERT OR REPLACE INTO ") + t.table + " (rowid, " + t.columns + ") SELECT rid, "
                        + t.columns + " FROM " + first + " WHERE kind <> ?2",
                    {record.id, kInserted});
        }
    }
    // Never half an undo: unless the tables are now exactly as they were before the operation
    // (another program changed them while it ran), nothing of the undo stays.
    if (!tablesMatch(db, before))
        throw refusal(entryCaption(record) + QStringLiteral("進行時資料也被其他程式修改，無法完整復原；資料未變動"));

    runWith(db, "DELETE FROM JournalUndo WHERE entry = ?1", {record.id});
    for (const Journalled &t : kJournalled)
        if (db.hasTable(QString::fromLatin1(t.shadow)))
            runWith(db, std::string("DELETE FROM ") + t.shadow + " WHERE entry = ?1", {record.id});
    runWith(db, "UPDATE Journal SET state = 'undone' WHERE id = ?1", {record.id});
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
    Statement running = db.prepare("SELECT " + recordColumns(db) + " FROM Journal WHERE state = 'running'");
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
    dropUndoData(db, "state IN ('done', 'running')", std::nullopt, QStringLiteral("資料庫已從備份回復"));
    transaction.commit();
}

} // namespace talvesk::db
