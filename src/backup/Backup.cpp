#include "backup/Backup.h"

#include "db/Connection.h"
#include "db/Tables.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <QDir>

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

// Refuses a file that is not a database of this program.
void checkIsProgramDatabase(const QString &path, const QString &shownName)
{
    QStringList missing;
    try {
        platform::Database db = platform::Database::open(path, platform::Database::ReadOnly);
        missing = db::missingProgramTables(db);
    } catch (const Error &error) {
        if (error.number() == errnum::FileNotFound)
            throw;
        throw Error(errnum::Database, shownName + QStringLiteral(" 不是有效的資料庫,未回復: ") + error.description());
    }
    if (!missing.isEmpty())
        throw Error(errnum::Database, shownName + QStringLiteral(" 不是本系統的資料庫備份(缺少資料表 ")
                                          + missing.join(QStringLiteral("、")) + QStringLiteral("),未回復"));
}

} // namespace

void restoreDatabase(const platform::AppFolder &app, const QString &source)
{
    if (!platform::fileExists(source))
        throw Error(errnum::FileNotFound, QStringLiteral("File not found: ") + source);
    const QString shown = QDir::toNativeSeparators(source);
    checkIsProgramDatabase(source, shown);
    {
        // As the backup does: the current database is opened and closed first.
        platform::Database db = db::openDatabase(app);
    }
    const QString scratch = app.databaseFolder() + QStringLiteral("/Vellaroke.restore");
    try {
        platform::copyFileAtomically(source, scratch);
        checkIsProgramDatabase(scratch, shown);
        platform::replaceFile(scratch, app.databaseFile());
    } catch (const Error &) {
        try {
            platform::removeFileIfExists(scratch);
        } catch (const Error &) {
        }
        throw;
    }
}

} // namespace talvesk::backup
