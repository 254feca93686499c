#include "backup/Backup.h"

#include "db/Connection.h"
#include "db/Installation.h"
#include "db/FirstStart.h"
#include "db/Journal.h"
#include "db/SafetyCopy.h"
#include "db/ServerSnapshot.h"
#include "db/Tables.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <QDir>
#include <QRegularExpression>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>

namespace talvesk::backup {

using platform::Error;
namespace errnum = platform::errnum;

QString slotFileName(int slot)
{
    return slot >= 1 && slot <= kSlots ? QStringLiteral("Vellaroke.m0%1").arg(slot) : QStringLiteral("Vellaroke.bak");
}

QString slotCaption(int slot)
{
    return QStringLiteral("Vellaroke.M0%1").arg(slot);
}

QString drivePrefix(const QString &driveText)
{
    // A drive's entry ("a:", "c: [SYSTEM]", "e:/") gives its letter and colon; a folder's path is
    // the place itself, also on Windows where it has a colon of its own ("C:/Users/...").
    static const QRegularExpression drive(QStringLiteral("^([A-Za-z]:)[\\\\/]?(\\s.*)?$"));
    const QRegularExpressionMatch match = drive.match(driveText);
    return match.hasMatch() ? match.captured(1) : driveText;
}

QString slotPath(const QString &prefix, const QString &fileName)
{
    return QDir::cleanPath(prefix + u'/' + fileName);
}

std::array<SlotContent, kSlots> slotContents(const QString &prefix)
{
    std::array<SlotContent, kSlots> contents;
    if (prefix == QStringLiteral("a:"))
        return contents;
    for (int slot = 1; slot <= kSlots; ++slot) {
        const QString path = slotPath(prefix, slotFileName(slot));
        if (!platform::fileExists(path))
            continue;
        const QFileInfo file(path);
        contents[static_cast<std::size_t>(slot - 1)] = {true, file.lastModified(), file.size()};
    }
    return contents;
}

std::array<QString, kSlots> slotCaptions(const QString &prefix)
{
    std::array<QString, kSlots> captions;
    const auto contents = slotContents(prefix);
    for (int slot = 1; slot <= kSlots; ++slot) {
        if (contents[static_cast<std::size_t>(slot - 1)].found)
            captions[static_cast<std::size_t>(slot - 1)] = slotCaption(slot);
    }
    return captions;
}

namespace {

const QLocale &taiwan()
{
    static const QLocale locale(QLocale::Chinese, QLocale::Taiwan);
    return locale;
}

// Sizes as a clerk reads them: 950 位元組, 1.5 KB, 12.3 MB, 1.2 GB.
QString sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return taiwan().toString(bytes) + QStringLiteral(" 位元組");
    static const char *const units[] = {"KB", "MB", "GB", "TB"};
    double size = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    for (; size >= 1024 && unit + 1 < std::size(units); ++unit)
        size /= 1024;
    return taiwan().toString(size, 'f', 1) + u' ' + QLatin1StringView(units[unit]);
}

} // namespace

QString slotDescription(int slot, const SlotContent &content)
{
    if (!content.found)
        return QStringLiteral("第 %1 格：沒有備份").arg(slot);
    return QStringLiteral("第 %1 格：").arg(slot) + slotCaption(slot) + QStringLiteral("   ") + content.written.toString(QStringLiteral("yyyy/MM/dd HH:mm"))
         + QStringLiteral("   ") + sizeText(content.size);
}

QString replacedBackupText(int slot, const SlotContent &content)
{
    return QStringLiteral("第 %1 格的備份是 %2 做的").arg(slot).arg(content.written.toString(QStringLiteral("yyyy/MM/dd HH:mm")));
}

PlaceProblem placeProblem(const platform::Error &error)
{
    switch (error.systemError()) {
    case EROFS:
    case EACCES:
    case EPERM:
        return PlaceProblem::WriteProtected;
    case ENOSPC:
#if defined(EDQUOT) && EDQUOT != ENOSPC
    case EDQUOT:
#endif
    case EFBIG:
        return PlaceProblem::NoSpace;
    default:
        return PlaceProblem::None;
    }
}

QString placeProblemText(PlaceProblem problem, const QString &place)
{
    switch (problem) {
    case PlaceProblem::WriteProtected:
        return QStringLiteral("無法寫入 %1：磁碟或資料夾有防寫保護(唯讀)，請解除防寫或選擇另一個位置。").arg(place);
    case PlaceProblem::NoSpace:
        return QStringLiteral("%1 的空間不足，放不下這份備份，請清出空間或選擇另一個位置。").arg(place);
    case PlaceProblem::None:
        break;
    }
    return QString();
}

namespace {

// Refuses a place that cannot hold the whole copy before anything is written there. The scratch
// copy sits beside an older backup until it replaces it, so the whole size is needed.
void requireRoomFor(const QString &target, qint64 bytes)
{
    const QString folder = QFileInfo(target).absolutePath();
    const QStorageInfo volume(folder);
    if (!volume.isValid() || !volume.isReady() || volume.bytesAvailable() < 0 || volume.bytesAvailable() >= bytes)
        return;
    throw Error(errnum::DeviceIo,
                QStringLiteral("磁碟空間不足：%1 尚有 %2，備份需要 %3").arg(folder, sizeText(volume.bytesAvailable()), sizeText(bytes)),
                ENOSPC);
}

} // namespace

namespace {

// A backup of the office's server: a new database file of the desk's form, filled from one
// snapshot of the server (every table as one moment left it, whatever the clerks write
// meanwhile), then put in place whole.
void backupServer(const platform::AppFolder &app, const QString &target)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        throw Error(errnum::PathFileAccess, QStringLiteral("無法建立暫存資料夾：") + scratch.errorString());
    const QString built = scratch.filePath(QStringLiteral("backup.mdb"));
    db::snapshotServerInto(app, built);
    requireRoomFor(target, QFileInfo(built).size());
    platform::copyFileAtomically(built, target);
}

} // namespace

void backupDatabase(const platform::AppFolder &app, const QString &target)
{
    if (db::usesServer(app)) {
        backupServer(app, target);
        return;
    }
    platform::Database db = db::openDatabase(app);
    // A read transaction keeps the engine's shared lock while the file is copied: a writer cannot
    // commit into the middle of the copy, and one already writing makes this fail as busy.
    db.execute("BEGIN");
    struct EndRead {
        platform::Database &db;
        ~EndRead() { db.rollback(); }
    } endRead{db};
    db.prepare("SELECT count(*) FROM sqlite_master").next();
    requireRoomFor(target, QFileInfo(app.databaseFile()).size());
    platform::copyFileAtomically(app.databaseFile(), target);
}

namespace {

// What a database holds that is not the program's: triggers, views, and tables (or their indexes)
// other than the program's tables and the journal's.
QStringList foreignObjects(platform::Database &db)
{
    QStringList known = db::programTables();
    known << QStringLiteral("Journal") << QStringLiteral("JournalProblems") << QStringLiteral("JournalUndo")
          << QStringLiteral("JournalReceivables") << QStringLiteral("JournalStore");
    auto isKnown = [&](const QString &table) {
        return known.contains(table, Qt::CaseInsensitive) || table.startsWith(QStringLiteral("sqlite_"), Qt::CaseInsensitive);
    };
    QStringList foreign;
    platform::Statement objects = db.prepare("SELECT type, name, tbl_name FROM sqlite_schema");
    while (objects.next()) {
        const QString type = objects.text(0);
        if ((type == QLatin1String("table") && !isKnown(objects.text(1)))
            || (type == QLatin1String("index") && !isKnown(objects.text(2)))
            || (type != QLatin1String("table") && type != QLatin1String("index")))
            foreign << type + u' ' + objects.text(1);
    }
    return foreign;
}

// Refuses a file that is not a sound database of this program, saying why.
void checkIsProgramDatabase(platform::Database &backup, const QString &shownName)
{
    QStringList missing;
    QStringList problems;
    try {
        missing = db::missingProgramTables(backup);
        if (missing.isEmpty())
            problems = backup.integrityProblems();
    } catch (const Error &error) {
        problems << error.description(); // too damaged even to be checked
    }
    if (!missing.isEmpty())
        throw Error(errnum::Database, shownName + QStringLiteral(" 不是本系統的資料庫備份(缺少資料表 ")
                                          + missing.join(QStringLiteral("、")) + QStringLiteral("),未回復"));
    // A trigger, a view or a table of another program would come back with the backup and act
    // on the program's own writes (a trigger that undoes each import, say).
    const QStringList foreign = foreignObjects(backup);
    if (!foreign.isEmpty())
        throw Error(errnum::Database, shownName + QStringLiteral(" 含有不是本系統的物件(")
                                          + foreign.join(QStringLiteral("、")) + QStringLiteral("),未回復"));
    if (!problems.isEmpty())
        throw Error(errnum::Database, shownName + QStringLiteral(" 已損壞,未回復: ") + problems.join(QStringLiteral("; ")));
}

platform::Database openBackup(const QString &source, const QString &shownName)
{
    try {
        return platform::Database::open(source, platform::Database::ReadOnly);
    } catch (const Error &error) {
        if (error.number() == errnum::FileNotFound)
            throw;
        throw Error(errnum::Database, shownName + QStringLiteral(" 不是有效的資料庫,未回復: ") + error.description());
    }
}

} // namespace

namespace {

// The backup as it goes in, beside the database: a copy of its own (the backup itself is only
// read), in the program's rollback-journal mode whatever mode the backup was in, whose recorded
// operations can no longer be undone (the tables they left are not the ones restored over). So
// the restore puts all of it in at once, in one transaction, or nothing.
class PreparedBackup {
public:
    PreparedBackup(const platform::AppFolder &app, platform::Database &backup, const QString &source)
        : path_(app.databaseFolder() + QStringLiteral("/Restore.mdb"))
    {
        platform::removeFileIfExists(path_);
        // Readable by whom the database is (by whom the backup is, when there is no database).
        const QString model = platform::fileExists(app.databaseFile()) ? app.databaseFile() : source;
        try {
            platform::createEmptyFileLike(path_, model);
            backup.compactInto(path_);
            // Opening for writing puts a copy in WAL mode back to the rollback journal.
            platform::Database prepared = platform::Database::open(path_);
            db::forgetUndoBeforeRestore(prepared);
        } catch (...) {
            remove();
            throw;
        }
    }
    PreparedBackup(const PreparedBackup &) = delete;
    PreparedBackup &operator=(const PreparedBackup &) = delete;
    ~PreparedBackup() { remove(); }
    const QString &path() const { return path_; }

private:
    void remove() noexcept
    {
        try {
            platform::removeFileIfExists(path_);
            platform::removeFileIfExists(path_ + QStringLiteral("-journal"));
        } catch (const Error &) {
            // The next restore removes it before it starts.
        }
    }
    QString path_;
};

} // namespace

namespace {

// Restore at the server: under the writing lock (another clerk's operation is waited for two
// seconds, then the restore is refused), the server is first backed up to ldb/BeforeRestore.mdb,
// then its tables are replaced with the checked backup's in one transaction; the ids the server
// gives next continue after the restored ones.
RestoreOutcome restoreServer(const platform::AppFolder &app, const QString &checkedBackup)
{
    platform::Database server = db::openDatabaseToWrite(app);
    db::requireNoOperationRunning(server);
    RestoreOutcome outcome;
    outcome.safetyCopy = db::safetyCopyFile(app, db::kBeforeRestore);
    backupServer(app, outcome.safetyCopy);
    platform::Database in = platform::Database::open(checkedBackup, platform::Database::ReadOnly);
    platform::ReadTransaction reading(in);
    platform::Transaction transaction(server);
    for (const db::CopiedTable &t : db::kCopiedTables) {
        server.execute(std::string("DELETE FROM ") + t.table);
        db::copyTable(in, server, t);
    }
    for (const db::CopiedTable &t : db::kCopiedTables)
        if (std::strchr(t.key, ',') == nullptr)
            server.execute(std::string("SELECT setval(pg_get_serial_sequence('") + t.table + "', '"
                           + (std::string(t.key) == "rowid" ? "rid" : t.key) + "'), coalesce((SELECT max(" + t.key
                           + ") FROM " + t.table + "), 0) + 1, false)");
    transaction.commit();
    return outcome;
}

} // namespace

RestoreOutcome restoreDatabase(const platform::AppFolder &app, const QString &source)
{
    if (!platform::fileExists(source))
        throw Error(errnum::FileNotFound, QStringLiteral("找不到備份檔：") + source);
    const QString shown = QDir::toNativeSeparators(source);
    platform::Database backup = openBackup(source, shown);
    checkIsProgramDatabase(backup, shown);

    const QString database = app.databaseFile();
    const PreparedBackup prepared(app, backup, source);
    if (db::usesServer(app))
        return restoreServer(app, prepared.path());
    RestoreOutcome outcome;
    outcome.safetyCopy = db::safetyCopyFile(app, db::kBeforeRestore);
    if (!platform::fileExists(database)) {
        // Nothing to keep and no one to wait for: the checked backup goes into the empty place.
        outcome.previous = RestoreOutcome::Previous::Missing;
        outcome.safetyCopy.clear();
        platform::copyFileAtomically(prepared.path(), database);
        return outcome;
    }
    platform::refuseReadOnlyFile(database);
    std::optional<platform::Database> current;
    try {
        current.emplace(db::openDatabase(app));
        current->lockExclusively();
    } catch (const Error &error) {
        // Only the engine's own refusal (not a database, malformed) means the file is damaged,
        // which is what a restore is for; held elsewhere (70), gone meanwhile (53) or a file
        // that cannot be read is reported and nothing is replaced.
        if (error.number() != errnum::Database)
            throw;
        current.reset();
        outcome.previous = RestoreOutcome::Previous::Damaged;
        outcome.damage = error.description();
    }
    if (current) {
        // An import between two of its commits would go on writing into the restored tables.
        db::requireNoOperationRunning(*current);
        db::writeSafetyCopy(*current, app, outcome.safetyCopy);
        platform::Database in = platform::Database::open(prepared.path(), platform::Database::ReadOnly);
        current->replaceContentWith(in);
        return outcome;
    }
    // No connection of this program holds the damaged file: it is copied aside as it is, and the
    // backup takes its place in one rename, keeping the file's permission bits.
    platform::copyFileAtomically(database, outcome.safetyCopy);
    platform::copyPermissions(database, outcome.safetyCopy);
    platform::copyFileAtomically(prepared.path(), database);
    return outcome;
}

QString restoreReport(const RestoreOutcome &outcome)
{
    switch (outcome.previous) {
    case RestoreOutcome::Previous::Kept:
        return db::safetyCopyReport(outcome.safetyCopy, QStringLiteral("回復前"));
    case RestoreOutcome::Previous::Missing:
        return QStringLiteral("原資料庫不存在,已直接以備份檔放回");
    case RestoreOutcome::Previous::Damaged:
        return QStringLiteral("原資料庫已損壞(") + outcome.damage + QStringLiteral("),已以備份檔取代; ")
            + db::safetyCopyReport(outcome.safetyCopy, QStringLiteral("損壞"));
    }
    return QString();
}

} // namespace talvesk::backup
