#include "db/BatchedChanges.h"
#include "db/Connection.h"
#include "platform/Error.h"
#include "support/Tables.h"
#include "support/TestApp.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>

#include <chrono>
#include <thread>

#include <atomic>
#include <functional>
#include <optional>

using namespace talvesk;

namespace {

struct Counts {
    qint64 rows = 0;
    qint64 stored() const { return rows; }
    QString summary() const { return QString::number(rows); }
    QString changes() const { return QString(); }
};

class BatchedChangesTest : public ::testing::Test {
protected:
    // Inserts `n` receivables in batches of two; `beforeRow(i)` runs before the i-th (1-based).
    Counts insert(int n, const std::function<void(int)> &beforeRow, std::optional<Counts> &stopped)
    {
        platform::Database db = db::openDatabase(app.folder());
        auto insert = db.prepare("INSERT INTO F_AccountData (Bankcode) VALUES (?1)");
        return db::runInBatches<Counts>(
            db,
            [&](db::BatchedChanges &batch, Counts &counts) {
                for (int i = 1; i <= n; ++i) {
                    beforeRow(i);
                    insert.bind(1, QStringLiteral("A%1").arg(i));
                    insert.run();
                    insert.reset();
                    ++counts.rows;
                    batch.rowDone();
                }
            },
            [&](const Counts &c) { stopped = c; }, 2);
    }
    std::size_t stored() { return test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(); }

    test::TestApp app;
};

} // namespace

TEST_F(BatchedChangesTest, AFailedCommitFailsTheRunAndOnlyEarlierCommitsCount)
{
    std::optional<test::ReaderHoldingTheDatabase> reader;
    std::optional<Counts> stopped;
    try {
        // The other program starts reading after the first batch of two is stored.
        insert(5, [&](int i) { if (i == 3) reader.emplace(app.folder()); }, stopped);
        FAIL() << "a failed commit was reported as success";
    } catch (const platform::Error &e) {
        EXPECT_TRUE(e.description().contains(QStringLiteral("已存入 2 筆"))) << e.what();
    }
    reader.reset();
    ASSERT_TRUE(stopped.has_value());
    EXPECT_EQ(stopped->rows, 2);
    EXPECT_EQ(stored(), 2u);
    platform::Database db = db::openDatabase(app.folder());
    db.execute("BEGIN IMMEDIATE; COMMIT;"); // nothing was left locked
}

TEST_F(BatchedChangesTest, AFailingRowKeepsTheRowsBeforeIt)
{
    std::optional<Counts> stopped;
    EXPECT_THROW(insert(5, [&](int i) {
                     if (i == 4)
                         throw platform::Error(platform::errnum::TypeMismatch, QStringLiteral("bad cell"));
                 }, stopped),
                 platform::Error);
    ASSERT_TRUE(stopped.has_value());
    EXPECT_EQ(stopped->rows, 3);
    EXPECT_EQ(stored(), 3u);
}

TEST_F(BatchedChangesTest, GoingAwayWithoutACommitStoresNothing)
{
    {
        platform::Database db = db::openDatabase(app.folder());
        int committed = 0;
        db::BatchedChanges batch(db, [&] { ++committed; });
        db.execute("INSERT INTO F_AccountData (Bankcode) VALUES ('X')");
        batch.rowDone();
        EXPECT_EQ(committed, 0);
    }
    EXPECT_EQ(stored(), 0u);

    std::optional<Counts> stopped;
    EXPECT_EQ(insert(5, [](int) {}, stopped).rows, 5);
    EXPECT_FALSE(stopped.has_value());
    EXPECT_EQ(stored(), 5u);
}

TEST_F(BatchedChangesTest, AFirstRowsLookNeverWritesTheFileEvenWhenItsChangesOutgrowThePageCache)
{
    const QString file = app.folder().databaseFile();
    const QByteArray before = test::readFile(file);
    platform::Database db = db::openDatabase(app.folder());
    // A cache of a few pages, so that ordinary spilling would write the file long before the end.
    db.execute("PRAGMA cache_size = 8");
    auto insert = db.prepare("INSERT INTO F_AccountData (UserName, Bankcode) VALUES (?1, ?2)");
    auto seen = db.prepare("SELECT count(*) FROM F_AccountData");
    bool unchangedMidway = false, journalMidway = true;
    std::optional<Counts> stopped;
    const Counts counts = db::runInBatches<Counts>(
        db,
        [&](db::BatchedChanges &batch, Counts &c) {
            for (int i = 1; i <= 20000; ++i) {
                insert.bind(1, QString(40, u'名')).bind(2, QStringLiteral("A%1").arg(i));
                insert.run();
                insert.reset();
                ++c.rows;
                batch.rowDone();
                if (i == 15000) {
                    unchangedMidway = test::readFile(file) == before;
                    journalMidway = QFileInfo::exists(file + QStringLiteral("-journal"));
                }
            }
            // The run sees its own rows, as the real run's lookups would.
            seen.next();
            EXPECT_EQ(seen.text(0), QStringLiteral("20000"));
            seen.reset();
        },
        [&](const Counts &c) { stopped = c; }, 2, db::Changes::FirstRows);
    EXPECT_EQ(counts.rows, 20000);
    EXPECT_FALSE(stopped);
    EXPECT_TRUE(unchangedMidway);
    EXPECT_FALSE(journalMidway);
    EXPECT_FALSE(db.inTransaction());
    EXPECT_EQ(test::readFile(file), before);
    EXPECT_EQ(stored(), 0u);
}

TEST_F(BatchedChangesTest, AFailingDryRunReportsTheRowsTheRealRunWouldKeepAndStoresNone)
{
    const QByteArray before = test::readFile(app.folder().databaseFile());
    {
        // A dry run commits its batches, which only its private copy may take.
        platform::Database live = db::openDatabase(app.folder());
        EXPECT_THROW(db::runInBatches<Counts>(live, [](db::BatchedChanges &, Counts &) {}, {}, 2, db::Changes::DryRun),
                     platform::Error);
    }
    platform::Database db = db::openDatabaseFor(app.folder(), db::Changes::DryRun);
    auto insert = db.prepare("INSERT INTO F_AccountData (Bankcode) VALUES (?1)");
    std::optional<Counts> stopped;
    try {
        db::runInBatches<Counts>(
            db,
            [&](db::BatchedChanges &batch, Counts &c) {
                for (int i = 1; i <= 5; ++i) {
                    if (i == 4)
                        throw platform::Error(platform::errnum::Database, QStringLiteral("壞了"));
                    insert.bind(1, QStringLiteral("A%1").arg(i));
                    insert.run();
                    insert.reset();
                    ++c.rows;
                    batch.rowDone();
                }
            },
            [&](const Counts &c) { stopped = c; }, 2, db::Changes::DryRun);
        FAIL() << "the failure was lost";
    } catch (const platform::Error &e) {
        EXPECT_TRUE(e.description().startsWith(QStringLiteral("壞了")));
        EXPECT_TRUE(e.description().contains(db::dryRunNote()));
    }
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->rows, 3);
    EXPECT_FALSE(db.inTransaction());
    EXPECT_EQ(stored(), 0u);
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
}

namespace {

// Enough receivables for a database of some megabytes: its copy takes several steps.
void fillDatabase(const platform::AppFolder &app, int rows)
{
    platform::Database db = db::openDatabase(app);
    platform::Transaction transaction(db);
    auto insert = db.prepare("INSERT INTO F_AccountData (UserName, Bankcode, Total) VALUES (?1, ?2, '100')");
    for (int i = 0; i < rows; ++i) {
        insert.bind(1, QString(60, u'名')).bind(2, QStringLiteral("F%1").arg(i));
        insert.run();
        insert.reset();
    }
    transaction.commit();
}

qint64 countOf(platform::Database &db, std::string_view sql)
{
    auto query = db.prepare(sql);
    query.next();
    return query.integer(0);
}

} // namespace

TEST_F(BatchedChangesTest, ADryRunsCopyLetsAnotherProgramCommitBetweenItsStepsAndHoldsWhatItCommitted)
{
    fillDatabase(app.folder(), 30000);
    bool written = false;
    int steps = 0;
    platform::Database copy = db::openDatabaseFor(app.folder(), db::Changes::DryRun, [&] {
        // Between the first two steps of the copy, another program writes and commits.
        if (++steps == 2 && !written) {
            platform::Database other = platform::Database::open(app.folder().databaseFile());
            platform::Transaction transaction(other);
            other.execute("INSERT INTO F_AccountData (Bankcode, Total) VALUES ('WRITTEN', '1')");
            transaction.commit();
            written = true;
        }
        return false;
    });
    ASSERT_TRUE(written);
    EXPECT_GT(steps, 3) << "the copy took a single step: the database is too small to show anything";
    EXPECT_TRUE(copy.isPrivate());
    // The copy started over: it is the database as the other program's commit left it.
    EXPECT_EQ(countOf(copy, "SELECT count(*) FROM F_AccountData WHERE Bankcode = 'WRITTEN'"), 1);
    EXPECT_EQ(countOf(copy, "SELECT count(*) FROM F_AccountData"), 30001);
    EXPECT_TRUE(copy.integrityProblems().isEmpty());
}

TEST_F(BatchedChangesTest, AStopEndsADryRunsCopyAndAnyStatementOnIt)
{
    fillDatabase(app.folder(), 30000);
    const QByteArray before = test::readFile(app.folder().databaseFile());
    try {
        db::openDatabaseFor(app.folder(), db::Changes::DryRun, [] { return true; });
        FAIL() << "the copy went on after the stop";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::Cancelled);
    }
    std::atomic<bool> stop = false;
    platform::Database copy = db::openDatabaseFor(app.folder(), db::Changes::DryRun, [&] { return stop.load(); });
    stop = true;
    // A statement that would run for minutes ends at once.
    try {
        countOf(copy, "SELECT count(*) FROM F_AccountData a, F_AccountData b WHERE a.UserName || b.Bankcode = 'x'");
        FAIL() << "the statement went on after the stop";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::Cancelled);
    }

    // Nor does a stop wait out the two seconds a copy may wait for another program's commit.
    platform::Database other = db::openDatabase(app.folder());
    other.execute("BEGIN EXCLUSIVE");
    stop = false;
    std::optional<platform::Error> waiting;
    std::thread copying([&] {
        try {
            db::openDatabaseFor(app.folder(), db::Changes::DryRun, [&] { return stop.load(); });
        } catch (const platform::Error &e) {
            waiting = e;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QElapsedTimer stopping;
    stopping.start();
    stop = true;
    copying.join();
    EXPECT_LT(stopping.elapsed(), 1000);
    other.execute("ROLLBACK");
    ASSERT_TRUE(waiting);
    EXPECT_EQ(waiting->number(), platform::errnum::Cancelled);
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
}
