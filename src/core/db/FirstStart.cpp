#include "db/FirstStart.h"

#include "credentials/Credentials.h"
#include "db/Installation.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <filesystem>
#include <system_error>

namespace talvesk::db {

using platform::AppFolder;
using platform::Error;
namespace errnum = platform::errnum;

QString builtInSchema()
{
    QFile schema(QStringLiteral(":/talvesk/schema.sql"));
    if (!schema.open(QIODevice::ReadOnly))
        throw Error(errnum::FileNotFound, QStringLiteral("程式缺少資料庫結構（schema.sql）"));
    return QString::fromUtf8(schema.readAll());
}

Completion completeAppFolder(const AppFolder &app, const QString &schemaSql)
{
    Completion made;
    for (const QString &folder : {app.databaseFolder(), app.credentialFolder()}) {
        if (!QDir().mkpath(folder))
            throw Error(errnum::PathFileAccess, QStringLiteral("無法建立資料夾：") + folder);
    }
    if (!platform::fileExists(app.databaseFile())) {
        createDatabase(app.databaseFile(), schemaSql);
        made.database = true;
    }
    if (!platform::fileExists(app.credentialFile())) {
        credentials::saveCredentials(app.credentialFile(), kInitialUserName, kInitialPassword);
        made.credentials = true;
    }
    return made;
}

namespace {

// An empty folder is no data folder yet: one made by hand, or by another program.
bool holdsAnything(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.exists() && !info.isSymLink())
        return false;
    return !info.isDir() || !QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

} // namespace

ChosenFolder appFolderFor(const QString &programFolder)
{
    if (platform::holdsOwnData(programFolder))
        return {AppFolder(programFolder), false};

    const QString target = platform::userDataFolder();
    if (target.isEmpty())
        throw Error(errnum::PathFileAccess, QStringLiteral("找不到使用者的資料夾（未設定 HOME）"));
    if (holdsAnything(target))
        return {AppFolder(target), false};

    const QString parent = QFileInfo(target).path();
    platform::makePrivateFolders(parent);
    // Made whole beside its place (for its owner alone), then renamed into it.
    QTemporaryDir scratch(parent + QStringLiteral("/.talvesk-first-start-XXXXXX"));
    if (!scratch.isValid())
        throw Error(errnum::PathFileAccess,
                    QStringLiteral("無法建立資料夾：") + parent + QStringLiteral("：") + scratch.errorString());
    completeAppFolder(AppFolder(scratch.path()), builtInSchema());
    platform::syncFile(scratch.path());

    std::error_code ec;
    std::filesystem::rename(platform::toFsPath(scratch.path()), platform::toFsPath(target), ec);
    if (ec) {
        // Another start (the batch tool from a scheduled job, say) put its folder there first:
        // that one is used, and this one goes away with `scratch`.
        if (QFileInfo(target).isDir() && holdsAnything(target))
            return {AppFolder(target), false};
        throw platform::fileError(ec, target);
    }
    scratch.setAutoRemove(false);
    platform::syncFile(parent);
    return {AppFolder(target), true};
}

} // namespace talvesk::db
