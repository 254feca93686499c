#include "db/Connection.h"
#include "platform/Files.h"
#include "shell/Compaction.h"
#include "support/TestApp.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace talvesk;

namespace {

void fillAndThin(const platform::AppFolder &app, int rows, int kept)
{
    platform::Database db = db::openDatabase(app);
    platform::Transaction t(db);
    auto insert = db.prepare("INSERT INTO F_AccountData VALUES (?1, '', '', ?2, '100', '', '', '', '')");
    for (int i = 0; i < rows; ++i) {
        insert.bind(1, QString(200, u'名')).bind(2, QString::number(i)).run();
        insert.reset();
    }
    auto remove = db.prepare("DELETE FROM F_AccountData WHERE CAST(Bankcode AS INTEGER) >= ?1");
    remove.bind(1, QString::number(kept)).run();
    t.commit();
}

int rowCount(const platform::AppFolder &app)
{
    platform::Database db = db::openDatabase(app);
    auto q = db.prepare("SELECT count(*) FROM F_AccountData");
    q.next();
    return q.text(0).toInt();
}

} // namespace

TEST(Compaction, ShrinksTheDatabaseKeepsEveryRowAndRemovesALeftoverScratchFile)
{
    test::TestApp app;
    fillAndThin(app.folder(), 3000, 10);
    test::writeFile(app.folder().scratchDatabaseFile(), "left over from an earlier run");
    const qint64 before = QFileInfo(app.folder().databaseFile()).size();

    EXPECT_FALSE(shell::compactDatabase(app.folder()).has_value());

    EXPECT_LT(QFileInfo(app.folder().databaseFile()).size(), before);
    EXPECT_EQ(rowCount(app.folder()), 10);
    EXPECT_FALSE(platform::fileExists(app.folder().scratchDatabaseFile()));
}

TEST(Compaction, AFileThatIsNotADatabaseIsLeftByteForByteAndNoScratchFileStays)
{
    test::TestApp app(test::TestApp::NoDatabase);
    QByteArray junk;
    for (int i = 0; i < 10000; ++i)
        junk.append(static_cast<char>(i % 251));
    test::writeFile(app.folder().databaseFile(), junk);
    test::writeFile(app.folder().scratchDatabaseFile(), "left over");

    const auto failure = shell::compactDatabase(app.folder());
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), junk);
    EXPECT_FALSE(platform::fileExists(app.folder().scratchDatabaseFile()));
}

TEST(Compaction, AMissingDatabaseIsReportedAndNotCreated)
{
    test::TestApp app(test::TestApp::NoDatabase);
    const auto failure = shell::compactDatabase(app.folder());
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->number(), platform::errnum::FileNotFound);
    EXPECT_FALSE(platform::fileExists(app.folder().databaseFile()));
    EXPECT_FALSE(platform::fileExists(app.folder().scratchDatabaseFile()));
}
