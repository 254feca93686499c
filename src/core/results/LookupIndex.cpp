#include "results/LookupIndex.h"

#include "db/Connection.h"
#include "db/Journal.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSet>

namespace talvesk::results::lookupindex {

using platform::Database;
using platform::Statement;
using platform::Value;

namespace {

// Rows read in one read transaction of the database while the index is made: a writer waits for
// one part at most.
constexpr qint64 kRowsPerPart = 50000;

QString indexStamp(Database &index, const char *schema)
{
    Statement stamp = index.prepare(std::string("SELECT value FROM ") + schema + ".Stamp");
    return stamp.next() ? stamp.text(0) : QString();
}

// Removes the scratch file unless it has been put in place.
struct Scratch {
    QString path;
    bool kept = false;
    ~Scratch()
    {
        if (!kept) {
            try {
                platform::removeFileIfExists(path);
            } catch (const platform::Error &) {
                // A scratch file left behind is made anew under another name next time.
            }
        }
    }
};

} // namespace

QString stampOf(Database &db)
{
    const std::optional<quint32> counter = db.changeCounter();
    if (!counter)
        return QString();
    QString stamp = QString::number(*counter);
    Statement last = db.prepare("SELECT coalesce(max(rowid), 0) FROM F_AccountData");
    if (last.next())
        stamp += u'|' + last.text(0);
    if (db::journalExists(db)) {
        Statement newest = db.prepare("SELECT id, at, coalesce(seal_after, '') FROM Journal ORDER BY id DESC LIMIT 1");
        if (newest.next())
            stamp += u'|' + newest.text(0) + u'|' + newest.text(1) + u'|' + newest.text(2);
    }
    return stamp;
}

bool current(const platform::AppFolder &app)
{
    // The server's own trigram indexes, which every commit keeps up, stand in for the file there.
    if (db::usesServer(app))
        return true;
    if (!platform::fileExists(app.lookupIndexFile()))
        return false;
    Database db = Database::open(app.databaseFile(), Database::ReadOnly);
    if (!attach(db, app))
        return false;
    bool isCurrent = false;
    {
        platform::ReadTransaction reading(db);
        isCurrent = attachedIsCurrent(db);
    }
    detach(db);
    return isCurrent;
}

bool refresh(const platform::AppFolder &app, const std::function<bool()> &stopRequested)
{
    if (db::usesServer(app))
        return true;
    Database source = Database::open(app.databaseFile(), Database::ReadOnly);
    QString stamp;
    {
        platform::ReadTransaction reading(source);
        stamp = stampOf(source);
    }
    if (stamp.isEmpty())
        return false;
    if (platform::fileExists(app.lookupIndexFile())) {
        try {
            Database old = Database::open(app.lookupIndexFile(), Database::ReadOnly);
            if (indexStamp(old, "main") == stamp)
                return true;
        } catch (const platform::Error &) {
            // Not an index any more: made anew below.
        }
    }

    // A name of this run's own: two programs making the index at once do not meet.
    Scratch scratch{app.lookupIndexFile()
                    + QStringLiteral(".%1-%2.new").arg(QCoreApplication::applicationPid()).arg(QRandomGenerator::global()->generate())};
    {
        Database index = Database::create(scratch.path);
        // A scratch file, put in place whole or thrown away: no journal is needed.
        index.execute("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF");
        index.execute("CREATE VIRTUAL TABLE LookupIndex USING fts5(Bankcode, UserName, UserNum, content='', "
                      "detail='none', tokenize='trigram'); CREATE TABLE Stamp (value TEXT NOT NULL)");
        index.execute("BEGIN");
        Statement insert = index.prepare("INSERT INTO LookupIndex (rowid, Bankcode, UserName, UserNum) VALUES (?1, ?2, ?3, ?4)");
        std::optional<qint64> after;
        for (bool more = true; more;) {
            platform::ReadTransaction reading(source);
            // Any commit since the first part raises the counter: the parts would not agree.
            if (stampOf(source) != stamp)
                return false;
            Statement rows = source.prepare(after ? "SELECT rowid, Bankcode, UserName, UserNum FROM F_AccountData "
                                                    "WHERE rowid > ?2 ORDER BY rowid LIMIT ?1"
                                                  : "SELECT rowid, Bankcode, UserName, UserNum FROM F_AccountData "
                                                    "ORDER BY rowid LIMIT ?1");
            rows.bind(1, kRowsPerPart);
            if (after)
                rows.bind(2, *after);
            qint64 read = 0;
            QByteArray withoutNul[3];
            while (rows.next()) {
                after = rows.integer(0);
                insert.bind(1, *after);
                for (int c = 1; c <= 3; ++c) {
                    const QByteArrayView text = rows.utf8(c);
                    if (rows.isNull(c)) {
                        insert.bindNull(c + 1);
                    } else if (text.contains('\0')) {
                        // The index reads a text only up to a NUL, the table's search past it: what
                        // follows is indexed as well (a fragment holding a NUL never asks the index).
                        withoutNul[c - 1] = text.toByteArray().replace('\0', ' ');
                        insert.bind(c + 1, Value::fromText(withoutNul[c - 1]));
                    } else {
                        insert.bind(c + 1, Value::fromText(text));
                    }
                }
                insert.run();
                insert.reset();
                ++read;
            }
            more = read == kRowsPerPart;
            platform::stopIfRequested(stopRequested);
        }
        Statement keep = index.prepare("INSERT INTO Stamp VALUES (?1)");
        keep.bind(1, stamp);
        keep.run();
        index.execute("INSERT INTO LookupIndex (LookupIndex) VALUES ('optimize')");
        index.execute("COMMIT");
    }
    platform::replaceFile(scratch.path, app.lookupIndexFile());
    scratch.kept = true;
    return true;
}

bool attach(Database &db, const platform::AppFolder &app)
{
    if (!platform::fileExists(app.lookupIndexFile()))
        return false;
    try {
        Statement attaching = db.prepare("ATTACH DATABASE ?1 AS lookupindex");
        attaching.bind(1, Value::fromText(platform::libraryPath(app.lookupIndexFile())));
        attaching.run();
        return true;
    } catch (const platform::Error &error) {
        if (error.number() == platform::errnum::Cancelled)
            throw; // the lookup was stopped, not the index found wanting
        return false; // no index to read (being put in place, or not an index): the table is read
    }
}

bool attachedIsCurrent(Database &db)
{
    try {
        const QString stamp = stampOf(db);
        return !stamp.isEmpty() && indexStamp(db, "lookupindex") == stamp;
    } catch (const platform::Error &error) {
        if (error.number() == platform::errnum::Cancelled)
            throw; // the lookup was stopped, not the index found wanting
        return false; // an unreadable index is none
    }
}

void detach(Database &db) noexcept
{
    try {
        db.execute("DETACH DATABASE lookupindex");
    } catch (const platform::Error &) {
        // Nothing was attached.
    }
}

std::optional<QString> matchQuery(const QString &text)
{
    const QList<uint> characters = text.toUcs4();
    // The index's query language ends a text at a NUL.
    if (characters.size() < 3 || text.contains(QChar(0)))
        return std::nullopt;
    QStringList terms;
    QSet<QString> seen;
    for (qsizetype i = 0; i + 3 <= characters.size(); ++i) {
        QString trigram = QString::fromUcs4(reinterpret_cast<const char32_t *>(characters.constData() + i), 3);
        if (seen.contains(trigram))
            continue;
        seen.insert(trigram);
        terms << u'"' + trigram.replace(u'"', QStringLiteral("\"\"")) + u'"';
    }
    return terms.join(QStringLiteral(" AND "));
}

} // namespace talvesk::results::lookupindex
