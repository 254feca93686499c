#include "platform/AppFolder.h"

#include <QCoreApplication>
#include <QDir>

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
QString AppFolder::errorLogFile() const { return root_ + QStringLiteral("/ErrLog.txt"); }

} // namespace talvesk::platform
