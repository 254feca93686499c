#include "credentials/Credentials.h"
#include "db/Connection.h"
#include "db/FirstStart.h"
#include "platform/Error.h"
#include "support/TestApp.h"
#include "support/Volumes.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace talvesk;

namespace {

// Points $XDG_DATA_HOME at a fresh folder while it lives.
class DataHome {
public:
    explicit DataHome(const QString &path) : saved_(qgetenv("XDG_DATA_HOME")), had_(qEnvironmentVariableIsSet("XDG_DATA_HOME"))
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(path));
    }
    ~DataHome()
    {
        if (had_)
            qputenv("XDG_DATA_HOME", saved_);
        else
            qunsetenv("XDG_DATA_HOME");
    }

private:
    QByteArray saved_;
    bool had_;
};

// The database's own description of its tables, indexes and triggers, to compare two databases.
QStringList schemaOf(const platform::AppFolder &app)
{
    platform::Database db = db::openDatabase(app);
    auto query = db.prepare("SELECT type, name, sql FROM sqlite_master ORDER BY type, name");
    QStringList objects;
    while (query.next())
        objects << query.text(0) + u' ' + query.text(1) + u' ' + query.text(2);
    return objects;
}

// What a folder holds, every file with its size and time, to see that nothing changed.
QStringList snapshot(const QString &folder)
{
    QStringList entries;
    for (const QString &name : {QStringLiteral("ldb/Vellaroke.mdb"), QStringLiteral("Env/IdPass6.ini")}) {
        const QFileInfo info(folder + u'/' + name);
        entries << name + u' ' + QString::number(info.size()) + u' '
                       + QString::number(info.lastModified().toMSecsSinceEpoch());
    }
    entries << QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    return entries;
}

} // namespace

TEST(FirstStart, AnInstalledProgramMakesTheUsersFolderOnceAndAPortableOneIsUsedAsItIs)
{
    QTemporaryDir home;
    const DataHome dataHome(home.path() + QStringLiteral("/share"));
    const QString userFolder = home.path() + QStringLiteral("/share/talvesk");
    ASSERT_EQ(platform::userDataFolder().toStdString(), userFolder.toStdString());

    // A program folder the user cannot write into (a real read-only volume): the first start
    // makes the user's folder whole, for its owner alone, and leaves no scratch folder beside it.
    test::WriteProtectedFolder installed;
    ASSERT_TRUE(installed.ok());
    const db::ChosenFolder first = db::appFolderFor(installed.path());
    EXPECT_TRUE(first.madeNow);
    EXPECT_EQ(first.app.root().toStdString(), userFolder.toStdString());
    EXPECT_EQ(QFileInfo(userFolder).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
              QFile::Permissions());
    EXPECT_EQ(QDir(home.path() + QStringLiteral("/share")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                  .join(u' ').toStdString(),
              "talvesk");
    // The database is the one staging makes from the schema file, and the credentials verify.
    const test::TestApp staged;
    EXPECT_EQ(schemaOf(first.app), schemaOf(staged.folder()));
    const auto stored = credentials::LoadStoredCredentials(first.app.credentialFile());
    EXPECT_EQ(credentials::DecryptCredential(stored.userName), QStringLiteral("ADMIN"));
    EXPECT_EQ(credentials::DecryptCredential(stored.password), QStringLiteral("1234"));
    EXPECT_EQ(test::readFile(first.app.credentialFile()), test::readFile(staged.folder().credentialFile()));

    // The next start finds it and changes nothing, even with the database gone from it: that is
    // reported when the database is opened, never answered with an empty one.
    const QStringList before = snapshot(userFolder);
    const db::ChosenFolder second = db::appFolderFor(installed.path());
    EXPECT_FALSE(second.madeNow);
    EXPECT_EQ(second.app.root().toStdString(), userFolder.toStdString());
    EXPECT_EQ(snapshot(userFolder), before);
    ASSERT_TRUE(QFile::remove(first.app.databaseFile()));
    EXPECT_FALSE(db::appFolderFor(installed.path()).madeNow);
    EXPECT_FALSE(QFileInfo::exists(first.app.databaseFile()));

    // A staged or portable folder the user may write into is used as it is, a missing database
    // included; one a package installed says so, and root's data goes to the user's folder too.
    QTemporaryDir portable;
    const db::ChosenFolder own = db::appFolderFor(portable.path());
    EXPECT_FALSE(own.madeNow);
    EXPECT_EQ(own.app.root().toStdString(), QDir::cleanPath(portable.path()).toStdString());
    EXPECT_TRUE(QDir(portable.path()).isEmpty());
    test::writeFile(portable.path() + u'/' + platform::kInstalledMarker, QByteArray());
    EXPECT_EQ(db::appFolderFor(portable.path()).app.root().toStdString(), userFolder.toStdString());
}

TEST(FirstStart, AnEmptyUserFolderIsFilledAndOneThatCannotBeMadeIsReportedWithNothingLeft)
{
    test::WriteProtectedFolder installed;
    ASSERT_TRUE(installed.ok());

    // An empty folder someone made in its place (by hand, or another program) is no data yet.
    QTemporaryDir home;
    const QString userFolder = home.path() + QStringLiteral("/talvesk");
    ASSERT_TRUE(QDir().mkpath(userFolder));
    {
        const DataHome dataHome(home.path());
        const db::ChosenFolder made = db::appFolderFor(installed.path());
        EXPECT_TRUE(made.madeNow);
        EXPECT_TRUE(QFileInfo::exists(made.app.databaseFile()));
        EXPECT_TRUE(QFileInfo::exists(made.app.credentialFile()));
    }

    // A data home on a volume nobody may write: the error names the folder, and nothing is made.
    test::WriteProtectedFolder readOnlyHome;
    ASSERT_TRUE(readOnlyHome.ok());
    const DataHome dataHome(readOnlyHome.path() + QStringLiteral("/share"));
    try {
        db::appFolderFor(installed.path());
        FAIL() << "made a folder on a read-only volume";
    } catch (const platform::Error &error) {
        EXPECT_EQ(error.number(), platform::errnum::PermissionDenied);
        EXPECT_TRUE(error.description().contains(readOnlyHome.path() + QStringLiteral("/share"))) << error.description().toStdString();
    }
    EXPECT_TRUE(QDir(readOnlyHome.path()).isEmpty());
}
