// The journal's rows as they are read: the entries, their problem lines, the files' hashes, the
// words an entry is shown in; and what the journal's parts share about them.

#include "db/Journal.h"

#include "server/ServerSettings.h"

#include "db/Connection.h"
#include "db/JournalRows.h"
#include "db/JournalTables.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>

#include <map>

namespace talvesk::db {

using namespace journal;
using platform::Database;
using platform::Error;
using platform::Statement;

// ---- what the journal's parts share ----

namespace journal {

namespace {

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

} // namespace

JournalRecord readRecord(const Statement &query)
{
    JournalRecord record;
    record.id = query.integer(0);
    record.at = query.text(1);
    record.operation = query.text(2);
    record.file = query.text(3);
    record.counts = query.text(4);
    record.state = stateOf(query.text(5));
    record.droppedWhy = query.text(6);
    record.changes = query.text(7);
    record.host = query.text(8);
    return record;
}

void runWith(Database &db, const std::string &sql, std::initializer_list<qint64> values)
{
    Statement statement = db.prepare(sql);
    int index = 0;
    for (const qint64 value : values)
        statement.bind(++index, value);
    statement.run();
}

qint64 firstInteger(Database &db, const std::string &sql)
{
    Statement query = db.prepare(sql);
    return query.next() ? query.integer(0) : 0;
}

qint64 dataVersion(Database &db)
{
    return db.dataVersion();
}

void dropUndoData(Database &db, const std::string &where, std::optional<qint64> value, const QString &why)
{
    const std::string entries = "entry IN (SELECT id FROM Journal WHERE " + where + ")";
    auto prepare = [&](const std::string &sql) {
        Statement statement = db.prepare(sql);
        if (value)
            statement.bind(1, *value);
        return statement;
    };
    prepare("DELETE FROM JournalUndo WHERE " + entries).run();
    for (const Journalled &t : kJournalled)
        if (db.hasTable(QString::fromLatin1(t.shadow)))
            prepare(std::string("DELETE FROM ") + t.shadow + " WHERE " + entries).run();
    Statement mark = prepare("UPDATE Journal SET state = 'dropped', dropped_why = ?2 WHERE " + where);
    mark.bind(2, why);
    mark.run();
}

QString runningLockPath(Database &db, qint64 id)
{
    return db.filePath() + QStringLiteral(".entry-%1.lock").arg(id);
}

bool stillRunning(Database &db, qint64 id)
{
    // On the server an operation holds the writing lock from its start to its end, and the
    // server lets it go with a desk that is gone.
    if (db.isServer())
        return db.writingLockHeldElsewhere(server::kWritingLock);
    QLockFile probe(runningLockPath(db, id));
    probe.setStaleLockTime(0);
    if (probe.tryLock(0)) {
        probe.unlock();
        return false;
    }
    return probe.error() == QLockFile::LockFailedError;
}

Error refusal(const QString &why)
{
    return Error(platform::errnum::Database, why);
}

} // namespace journal

// ---- reading ----

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

std::optional<QDateTime> importedBefore(Database &db, const QString &hash, qint64 upToEntry)
{
    if (hash.isEmpty() || !journalExists(db) || !hasFileHash(db))
        return std::nullopt;
    Statement last = db.prepare("SELECT at FROM Journal WHERE file_hash = ?1 AND state = 'done' "
                                "AND operation LIKE 'import-%' AND id <= ?2 ORDER BY id DESC LIMIT 1");
    last.bind(1, hash).bind(2, upToEntry);
    if (!last.next())
        return std::nullopt;
    return QDateTime::fromString(last.text(0), kStampFormat);
}

std::optional<QDateTime> importedBefore(const platform::AppFolder &app, const QString &file)
{
    const QString hash = fileHash(file);
    if (hash.isEmpty())
        return std::nullopt;
    try {
        Database db = openDatabase(app, Reach::DeskOrServer);
        return importedBefore(db, hash);
    } catch (const Error &) {
        return std::nullopt;
    }
}

ImportedBefore::ImportedBefore(const platform::AppFolder &app, const QString &file)
{
    try {
        db_.emplace(openDatabase(app, Reach::DeskOrServer));
        upTo_ = journalExists(*db_) ? firstInteger(*db_, "SELECT coalesce(max(id), 0) FROM Journal") : 0;
        hash_ = std::async(std::launch::async, [file] { return fileHash(file); });
    } catch (const Error &) {
        db_.reset(); // no database to ask: the import itself says why
    }
}

std::optional<QDateTime> ImportedBefore::when()
{
    if (!db_ || !hash_.valid())
        return std::nullopt;
    try {
        // Asked once the import has ended: a read beside it could hold up one of its commits.
        return importedBefore(*db_, hash_.get(), upTo_);
    } catch (...) {
        return std::nullopt; // only a note is lost
    }
}

std::vector<JournalRecord> journalEntries(Database &db)
{
    std::vector<JournalRecord> records;
    if (!journalExists(db))
        return records;
    Statement query = db.prepare("SELECT " + recordColumns(db) + " FROM Journal ORDER BY id DESC");
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
    // "No limit" is said as the largest number: the server refuses a negative one.
    query.bind(1, id).bind(2, limit < 0 ? std::numeric_limits<qint64>::max() : limit);
    while (query.next())
        lines.push_back({query.integer(0), query.text(1), query.text(2)});
    return lines;
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

// ---- the words an entry is shown in ----

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
    const QDateTime at = QDateTime::fromString(record.at, kStampFormat);
    const QString when = at.isValid() ? at.toString(QStringLiteral("yyyy/MM/dd HH:mm")) : record.at;
    return QStringLiteral("「%1」（%2）").arg(operationCaption(record.operation), when);
}

} // namespace talvesk::db
