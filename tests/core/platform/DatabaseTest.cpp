#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "support/TestApp.h"

#include <QFile>

#include <atomic>
#include <limits>
#include <thread>

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

// What the journal, the payment batch and the lookup ask of a statement and a connection: values
// of every type as they are, functions that see them, counts of changed rows, and failures that
// read the same whichever way they came.
TEST(Database, ValuesKeepTheirTypeFunctionsSeeThemAndFailuresHaveOneNumber)
{
    using platform::Value;
    test::TestApp app;
    Database db = Database::open(app.folder().databaseFile());
    db.execute("CREATE TEMP TABLE v (x)");

    // Past 2^53 a double would round the integer; a NUL inside a text or a blob ends nothing.
    constexpr qint64 kBig = (qint64(1) << 53) + 1;
    const QByteArray text("a\0b\xe7\x8e\x8b", 6), blob("\0\xff\0", 3);
    const std::vector<Value> stored = {Value::null(), Value::fromInteger(kBig), Value::fromInteger(std::numeric_limits<qint64>::min()),
                                       Value::fromReal(0.1), Value::fromText(text), Value::fromBlob(blob),
                                       Value::fromText(QByteArrayView())};
    auto insert = db.prepare("INSERT INTO v (x) VALUES (?1)");
    for (const Value &value : stored) {
        insert.bind(1, value).run();
        EXPECT_EQ(insert.changes(), 1);
        insert.reset();
    }
    QStringList seen;
    db.addFunction("seen", 1, Database::Deterministic, [&](std::span<const Value> arguments) {
        const Value &a = arguments[0];
        seen << QStringLiteral("%1:%2").arg(int(a.type)).arg(a.type == Value::Integer ? a.integer : a.size);
        return Value::fromBlob(a.view().first(std::min<qsizetype>(a.size, 2)));
    });
    auto read = db.prepare("SELECT x, typeof(x), seen(x), CAST(x AS TEXT) FROM v ORDER BY rowid");
    for (const Value &expected : stored) {
        ASSERT_TRUE(read.next());
        const Value got = read.value(0);
        EXPECT_EQ(got.type, expected.type);
        EXPECT_EQ(got.integer, expected.integer);
        EXPECT_EQ(got.real, expected.real);
        EXPECT_EQ(got.view().toByteArray(), expected.view().toByteArray());
        EXPECT_EQ(read.value(2).type, Value::Blob) << "what a function returns keeps its type";
        EXPECT_EQ(read.value(2).view().toByteArray(), expected.view().toByteArray().left(2));
        // The text a number is written as is the engine's own (old seals hash it so).
        if (!expected.isNull()) {
            EXPECT_EQ(got.toText(), read.value(3).view().toByteArray()) << read.text(1).toStdString();
        }
    }
    EXPECT_FALSE(read.next());
    EXPECT_EQ(read.changes(), 0) << "a query changes no rows";
    EXPECT_EQ(seen, (QStringList{QStringLiteral("5:0"), QStringLiteral("1:9007199254740993"),
                                 QStringLiteral("1:-9223372036854775808"), QStringLiteral("2:0"), QStringLiteral("3:6"),
                                 QStringLiteral("4:3"), QStringLiteral("3:0")}));
    EXPECT_EQ(Value::fromReal(1e300).toText(), QByteArray("1.0e+300"));

    // A function that fails fails its statement with its words; the connection goes on.
    db.addFunction("refuse", 0, Database::DirectOnly, [](std::span<const Value>) -> Value {
        throw Error(platform::errnum::Database, QStringLiteral("不要"));
    });
    try {
        db.prepare("SELECT refuse()").next();
        FAIL() << "a refusing function let its statement run";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::Database);
        EXPECT_TRUE(e.description().contains(QStringLiteral("不要"))) << e.what();
    }
    auto update = db.prepare("UPDATE v SET x = 1 WHERE rowid <= 3");
    update.run();
    EXPECT_EQ(update.changes(), 3);
    db.removeFunction("seen", 1);
    EXPECT_THROW(db.prepare("SELECT seen(1)"), Error);

    // Stopped from another thread while it runs: Cancelled, and the connection is still good.
    std::atomic<bool> running{false};
    db.addFunction("running", 1, 0, [&](std::span<const Value> arguments) {
        running = true;
        return arguments[0];
    });
    std::thread stopper([&] {
        while (!running)
            std::this_thread::yield();
        db.interrupt();
    });
    try {
        auto endless = db.prepare("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c LIMIT 1000000000) "
                                  "SELECT count(running(n)) FROM c");
        endless.next();
        ADD_FAILURE() << "ran to its end";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::Cancelled) << e.what();
    }
    stopper.join();
    EXPECT_EQ(countRows(db, "v"), int(stored.size()));

    // Held by a second connection past the wait: 70 with its reason.
    Database other = Database::open(app.folder().databaseFile());
    platform::Transaction holding(other);
    insertAccount(other, QStringLiteral("held"));
    try {
        insertAccount(db, QStringLiteral("x"));
        FAIL() << "wrote beside a writer";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::PermissionDenied) << e.what();
        EXPECT_TRUE(e.description().startsWith(QStringLiteral("資料庫正被其他程式使用中"))) << e.what();
    }
}
