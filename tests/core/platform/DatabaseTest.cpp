#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "support/TestApp.h"

#include <QFile>

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

// A parameter keeps its buffer from one value to the next: a shorter value after a longer one,
// a part of a longer text, Chinese after ASCII and the empty text must each be bound as they are.
TEST(Database, AParameterBoundAgainHoldsOnlyItsNewValue)
{
    test::TestApp app;
    Database db = Database::open(app.folder().databaseFile());
    auto echo = db.prepare("SELECT ?1, length(?1), typeof(?2) || ':' || ?2");
    const QString line = QStringLiteral("9512000000000001 王小明");
    const auto bound = [&](QStringView value, qint64 number) {
        echo.bind(1, value).bind(2, number);
        EXPECT_TRUE(echo.next());
        const QStringList got{echo.text(0), echo.text(1), echo.text(2)};
        echo.reset();
        return got;
    };
    EXPECT_EQ(bound(line, 7), (QStringList{line, QStringLiteral("20"), QStringLiteral("integer:7")}));
    EXPECT_EQ(bound(QStringView(line).left(4), 1), (QStringList{QStringLiteral("9512"), QStringLiteral("4"), QStringLiteral("integer:1")}));
    EXPECT_EQ(bound(QStringView(line).mid(17), 2), (QStringList{QStringLiteral("王小明"), QStringLiteral("3"), QStringLiteral("integer:2")}));
    EXPECT_EQ(bound(QString(), -3), (QStringList{QString(), QStringLiteral("0"), QStringLiteral("integer:-3")}));
    echo.bind(1, QStringLiteral("x"));
    ASSERT_TRUE(echo.next());
    EXPECT_EQ(echo.utf8(0), QByteArrayView("x"));
    EXPECT_TRUE(echo.isNull(2)) << "a reset keeps nothing bound";
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
        db.execute("CREATE TRIGGER refuse BEFORE INSERT ON F_AccountData WHEN NEW.Bankcode = '2' "
                   "BEGIN SELECT RAISE(ABORT, 'refused'); END");
        platform::Transaction t(db);
        for (int row = 1; row <= 3; ++row) {
            // The statement of row 2 fails: the engine undoes it alone, inside the transaction.
            if (row == 2)
                EXPECT_THROW(insertAccount(db, QString::number(row)), Error);
            else
                insertAccount(db, QString::number(row));
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

// Two connections on one file, as the windows and a scheduled batch job have.
TEST(Database, AnExclusiveHolderKeepsOtherConnectionsOutUntilItCloses)
{
    test::TestApp app;
    Database other = Database::open(app.folder().databaseFile());
    {
        Database holder = Database::open(app.folder().databaseFile());
        holder.lockExclusively();
        try {
            insertAccount(other, QStringLiteral("1"));
            FAIL() << "wrote beside an exclusive holder";
        } catch (const Error &e) {
            EXPECT_EQ(e.number(), platform::errnum::PermissionDenied) << e.what();
        }
        insertAccount(holder, QStringLiteral("2"));
    }
    insertAccount(other, QStringLiteral("3"));
    EXPECT_EQ(countRows(other, "F_AccountData"), 2);
}

TEST(Database, ReplacedContentIsWhatEveryOpenConnectionSeesNext)
{
    test::TestApp live, backup;
    {
        Database b = Database::open(backup.folder().databaseFile());
        insertAccount(b, QStringLiteral("FROM-BACKUP-1"));
        insertAccount(b, QStringLiteral("FROM-BACKUP-2"));
    }
    Database reader = Database::open(live.folder().databaseFile());
    insertAccount(reader, QStringLiteral("LIVE"));
    EXPECT_EQ(countRows(reader, "F_AccountData"), 1);
    {
        Database target = Database::open(live.folder().databaseFile());
        Database source = Database::open(backup.folder().databaseFile(), Database::ReadOnly);
        target.replaceContentWith(source);
    }
    EXPECT_EQ(countRows(reader, "F_AccountData"), 2);
    insertAccount(reader, QStringLiteral("AFTER"));
    Database fresh = Database::open(live.folder().databaseFile());
    EXPECT_EQ(countRows(fresh, "F_AccountData"), 3) << "the reader wrote into the replaced content, same file";
}

TEST(Database, AWriterInTheMiddleOfATransactionMakesAReplacementFailAndKeepsItsRows)
{
    test::TestApp live, backup;
    Database writer = Database::open(live.folder().databaseFile());
    {
        platform::Transaction open(writer);
        insertAccount(writer, QStringLiteral("WRITER"));
        Database target = Database::open(live.folder().databaseFile());
        Database source = Database::open(backup.folder().databaseFile(), Database::ReadOnly);
        try {
            target.replaceContentWith(source);
            FAIL() << "replaced the content under a writer";
        } catch (const Error &e) {
            EXPECT_EQ(e.number(), platform::errnum::PermissionDenied) << e.what();
        }
        open.commit();
    }
    EXPECT_EQ(countRows(writer, "F_AccountData"), 1);
}

TEST(Database, IntegrityCheckFindsNothingInASoundDatabaseAndNamesTheDamageInAnother)
{
    test::TestApp app;
    {
        Database db = Database::open(app.folder().databaseFile());
        platform::Transaction t(db);
        for (int i = 0; i < 3000; ++i)
            insertAccount(db, QString::number(i), QString(100, u'名'));
        t.commit();
        EXPECT_TRUE(db.integrityProblems().isEmpty());
    }
    QFile file(app.folder().databaseFile());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_GT(file.size(), 400000);
    file.seek(file.size() / 2);
    file.write(QByteArray(200 * 1024, '\0'));
    file.close();
    Database db = Database::open(app.folder().databaseFile());
    QStringList problems;
    try {
        problems = db.integrityProblems();
    } catch (const Error &e) {
        problems << e.description(); // the engine may refuse before it can list anything
    }
    EXPECT_FALSE(problems.isEmpty());
}
