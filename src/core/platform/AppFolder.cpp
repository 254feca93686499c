#include "platform/AppFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace talvesk::platform {

AppFolder::AppFolder(QString root) : root_(QDir::cleanPath(std::move(root))) {}

AppFolder AppFolder::ofProgram()
{
    return AppFolder(QCoreApplication::applicationDirPath());
}

QString AppFolder::credentialFolder() const { return root_ + QStringLiteral("/Env"); }
QString AppFolder::credentialFile() const { return credentialFolder() + QStringLiteral("/IdPass6.ini"); }
QString AppFolder::databaseFolder() const { return root_ + QStringLiteral("/ldb"); }
QString AppFolder::databaseFile() const { return databaseFolder() + QStringLiteral("/Vellaroke.mdb"); }
QString AppFolder::scratchDatabaseFile() const { return databaseFolder() + QStringLiteral("/Temp.mdb"); }
QString AppFolder::lookupIndexFile() const { return databaseFolder() + QStringLiteral("/LookupIndex.db"); }
QString AppFolder::errorLogFile() const { return root_ + QStringLiteral("/ErrLog.txt"); }

bool holdsOwnData(const QString &folder)
{
    // Asks the system (access(2) on Unix): a read-only mount or a folder of another owner says no.
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable() && !QFileInfo::exists(folder + u'/' + kInstalledMarker);
}

QString userDataFolder()
{
#ifdef Q_OS_WIN
    // %APPDATA%\Talvesk: the user's roaming profile, which follows the clerk between desks.
    const QString appData = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
    return appData.isEmpty() ? QString() : appData + QStringLiteral("/Talvesk");
#else
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    // Without a home folder there is no such place: never "/talvesk".
    return dataHome.isEmpty() ? QString() : dataHome + QStringLiteral("/talvesk");
#endif
}

} // namespace talvesk::platform
