#include "backup/Backup.h"

#include "db/Connection.h"
#include "db/Journal.h"
#include "db/SafetyCopy.h"
#include "db/Tables.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <QDir>

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
    const qsizetype colon = driveText.indexOf(u':');
    return colon >= 0 ? driveText.left(colon + 1) : driveText;
}

QString slotPath(const QString &prefix, const QString &fileName)
{
    return QDir::cleanPath(prefix + u'/' + fileName);
}

std::array<QString, kSlots> slotCaptions(const QString &prefix)
{
    std::array<QString, kSlots> captions;
    if (prefix == QStringLiteral("a:"))
        return captions;
    for (int slot = 1; slot <= kSlots; ++slot) {
        if (platform::fileExists(slotPath(prefix, slotFileName(slot))))
            captions[static_cast<std::size_t>(slot - 1)] = slotCaption(slot);
    }
    return captions;
}

void backupDatabase(const platform::AppFolder &app, const QString &target)
{
    {
        platform::Database db = db::openDatabase(app);
    }
    platform::copyFileAtomically(app.databaseFile(), target);
}

namespace {

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
// The operations recorded before a restore are not undone on the restored tables. Should this
// fail, an undo still never runs on tables other than those its operation left.
void forgetUndoQuietly(const platform::AppFolder &app)
{
    try {
        platform::Database restored = db::openDatabase(app);
        db::forgetUndoBeforeRestore(restored);
    } catch (const Error &) {
    }
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
    RestoreOutcome outcome;
    outcome.safetyCopy = db::safetyCopyFile(app, db::kBeforeRestore);
    if (!platform::fileExists(database)) {
        // Nothing to keep and no one to wait for: the checked backup goes into the empty place.
        outcome.previous = RestoreOutcome::Previous::Missing;
        outcome.safetyCopy.clear();
        platform::copyFileAtomically(source, database);
        forgetUndoQuietly(app);
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
        db::writeSafetyCopy(*current, app, outcome.safetyCopy);
        current->replaceContentWith(backup);
        try {
            db::forgetUndoBeforeRestore(*current);
        } catch (const Error &) {
            // See forgetUndoQuietly.
        }
        return outcome;
    }
    // No connection of this program holds the damaged file: it is copied aside as it is, and the
    // backup takes its place in one rename, keeping the file's permission bits.
    platform::copyFileAtomically(database, outcome.safetyCopy);
    platform::copyPermissions(database, outcome.safetyCopy);
    platform::copyFileAtomically(source, database);
    forgetUndoQuietly(app);
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
