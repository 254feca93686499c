#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "support/TestApp.h"

#include <gtest/gtest.h>

using namespace talvesk;
using platform::Database;
using platform::Error;

namespace {

int countRows(Database &db, const char *table)
{
    auto q = db.prepare(std::string("SELECT count(*) FROM ") + table);
    EXPECT_TRUE(q.next());
    return q.text(0).toInt();
}

void insertAccount(Database &db, const QString &bankcode, const QString &name = QStringLiteral("x"))
{
    auto insert = db.prepare("INSERT INTO F_AccountData VALUES (?1, '', '', ?2, '', '', '', '', '')");
    insert.bind(1, name).bind(2, bankcode).run();
}

} // namespace

TEST(Database, OpeningAMissingFileFailsWithFileNotFoundAndCreatesNothing)
{
    test::TestApp app(test::TestApp::NoDatabase);
    const QString path = app.folder().databaseFile();
    try {
        Database::open(path);
        FAIL() << "opened a missing database";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::FileNotFound);
    }
    EXPECT_FALSE(platform::fileExists(path));
}

TEST(Database, AFileThatIsNotADatabaseFailsAtOpenAndIsLeftAlone)
{
    test::TestApp app(test::TestApp::NoDatabase);
    const QString path = app.folder().databaseFile();
    const QByteArray junk(4096, 'j');
    test::writeFile(path, junk);
    EXPECT_THROW(Database::open(path), Error);
    EXPECT_EQ(test::readFile(path), junk);

    EXPECT_THROW(Database::open(app.folder().databaseFolder()), Error) << "a folder is no database";
}

TEST(Database, BoundValuesKeepQuotesAndChineseUnchanged)
{
    test::TestApp app;
    Database db = Database::open(app.folder().databaseFile());
    const QString tricky = QStringLiteral("O'Brien 王'小明 '); DROP TABLE SMdata; --");
    insertAccount(db, QStringLiteral("123"), tricky);

    auto q = db.prepare("SELECT UserName FROM F_AccountData WHERE Bankcode = ?1");
    q.bind(1, QStringLiteral("123"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), tricky);
    EXPECT_FALSE(q.next());
    EXPECT_TRUE(db.hasTable(QStringLiteral("smdata")));
}

TEST(Database, TransactionRollsBackUnlessCommitted)
{
    test::TestApp app;
    Database db = Database::open(app.folder().databaseFile());
    {
        platform::Transaction t(db);
        insertAccount(db, QStringLiteral("1"));
    }
    EXPECT_FALSE(db.inTransaction());
    EXPECT_EQ(countRows(db, "F_AccountData"), 0);
    {
        platform::Transaction t(db);
        insertAccount(db, QStringLiteral("2"));
        t.commit();
    }
    EXPECT_EQ(countRows(db, "F_AccountData"), 1);
}

TEST(Database, AFailingRowIsUndoneAloneAndTheRowsBeforeItStay)
{
    test::TestApp app;
    {
        Database db = Database::open(app.folder().databaseFile());
        platform::Transaction t(db);
        for (int row = 1; row <= 3; ++row) {
            platform::Savepoint sp(db);
            insertAccount(db, QString::number(row));
            if (row == 2)
                continue; // the change is abandoned: the savepoint rolls it back
            sp.release();
        }
        // A statement that fails leaves the transaction usable.
        EXPECT_THROW(db.execute("INSERT INTO NoSuchTable VALUES (1)"), Error);
        t.commit();
    }
    Database db = Database::open(app.folder().databaseFile());
    auto q = db.prepare("SELECT Bankcode FROM F_AccountData ORDER BY rowid");
    QStringList codes;
    while (q.next())
        codes << q.text(0);
    EXPECT_EQ(codes, (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
}

TEST(Database, NullReadsAsEmptyTextAndStatementsRunAgainAfterReset)
{
    test::TestApp app;
    Database db = Database::open(app.folder().databaseFile());
    db.execute("INSERT INTO ImportSetting (item1) VALUES ('A')");
    auto q = db.prepare("SELECT item1, item2 FROM ImportSetting");
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QStringLiteral("A"));
    EXPECT_TRUE(q.text(1).isEmpty());
    EXPECT_EQ(q.columnName(1), QStringLiteral("item2"));
    q.reset();
    EXPECT_TRUE(q.next());
}

TEST(Database, CompactIntoWritesAFileThatHoldsEveryRow)
{
    test::TestApp app;
    const QString copy = app.path(QStringLiteral("ldb/copy.mdb"));
    {
        Database db = Database::open(app.folder().databaseFile());
        insertAccount(db, QStringLiteral("42"));
        db.compactInto(copy);
    }
    Database db = Database::open(copy);
    EXPECT_EQ(countRows(db, "F_AccountData"), 1);
}
