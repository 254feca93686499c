#include "db/SafetyCopy.h"

#include "db/ServerSnapshot.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <QDir>

namespace talvesk::db {

QString safetyCopyFile(const platform::AppFolder &app, const QString &name)
{
    return app.databaseFolder() + u'/' + name;
}

QString safetyCopyReport(const QString &safetyCopy, const QString &before)
{
    return before + QStringLiteral("的資料庫已另存為 ") + QDir::toNativeSeparators(safetyCopy);
}

void writeSafetyCopy(platform::Database &db, const platform::AppFolder &app, const QString &target)
{
    const QString scratch = target + QStringLiteral(".partial");
    try {
        platform::removeFileIfExists(scratch);
        if (db.isServer()) {
            // The caller holds the server's writing lock, so the snapshot holds what it deletes.
            snapshotServerInto(app, scratch);
        } else {
            db.copyInto(scratch);
            // The copy holds the same rows as the database: no one may read it who may not read that.
            platform::copyPermissions(app.databaseFile(), scratch);
        }
        platform::replaceFile(scratch, target);
    } catch (const platform::Error &) {
        try {
            platform::removeFileIfExists(scratch);
            // The engine's journal of a copy cut short goes with it.
            platform::removeFileIfExists(scratch + QStringLiteral("-journal"));
        } catch (const platform::Error &) {
        }
        throw;
    }
}

} // namespace talvesk::db
