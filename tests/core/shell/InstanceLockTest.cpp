#include "db/Connection.h"
#include "db/Journal.h"
#include "shell/DataSummary.h"
#include "shell/InstanceLock.h"
#include "store/StoreImport.h"
#include "support/Processes.h"
#include "support/Tables.h"
#include "support/TestApp.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace talvesk;
using shell::InstanceLock;

// A second copy on the same database is refused while the first runs, and may start once the
// first has ended, whether it ended well or died holding the lock.
TEST(InstanceLock, OneCopyPerDatabaseAndALockLeftByADeadCopyIsTakenOver)
{
    test::TestApp app;
    const QString lockFile = InstanceLock::lockFilePath(app.folder());
    EXPECT_EQ(lockFile, app.folder().databaseFolder() + QStringLiteral("/Vellaroke.mdb.lock"));
    {
        test::LockHolder first(lockFile);
        ASSERT_TRUE(first.holds());
        InstanceLock second(app.folder());
        EXPECT_EQ(second.tryLock(), InstanceLock::Outcome::HeldElsewhere);
        EXPECT_EQ(second.holderPid(), first.pid());
        EXPECT_TRUE(shell::alreadyRunningText(first.pid()).contains(QString::number(first.pid())));
    }
    {
        InstanceLock after(app.folder());
        EXPECT_EQ(after.tryLock(), InstanceLock::Outcome::Locked) << "the first copy ended and let go";
    }
    EXPECT_FALSE(QFile::exists(lockFile)) << "a copy that ends removes its lock";

    test::LockHolder crashed(lockFile);
    ASSERT_TRUE(crashed.holds());
    crashed.dieHoldingTheLock();
    EXPECT_TRUE(QFile::exists(lockFile));
    InstanceLock next(app.folder());
    EXPECT_EQ(next.tryLock(), InstanceLock::Outcome::Locked) << "the lock of a copy that is gone is stale";

    // Within one process the lock is held too: a second window of the same copy cannot take it.
    InstanceLock again(app.folder());
    EXPECT_NE(again.tryLock(), InstanceLock::Outcome::Locked);
}

TEST(DataSummary, CountsReceivablesPaidUnpaidAndStoreRecords)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("100"));
    test::addReceivable(app.folder(), QStringLiteral("A2"), QStringLiteral("200"));
    test::addReceivable(app.folder(), QStringLiteral("A3"), QStringLiteral("300"));
    {
        platform::Database db = db::openDatabase(app.folder());
        db.execute("UPDATE F_AccountData SET PayDate = '1130105' WHERE Bankcode = 'A2'");
        db.execute("UPDATE F_AccountData SET PayDate = '  ' WHERE Bankcode = 'A3'");
        db.execute("INSERT INTO SMdata (BARCODE2) VALUES ('B1')");
    }
    const shell::DataSummary summary = shell::summarize(app.folder());
    EXPECT_EQ(summary.receivables, 3);
    EXPECT_EQ(summary.paid, 1) << "a blank date is no payment";
    EXPECT_EQ(summary.store, 1);
    shell::DataSummary dated = summary;
    dated.lastImport = QDateTime(QDate(2024, 5, 1), QTime(14, 32));
    EXPECT_EQ(shell::summaryText(dated),
              QStringLiteral("應收帳款 3 筆 (有入帳 1 / 未入帳 2) | 超商資料 1 筆 | 最後匯入 2024/05/01 14:32"));
    EXPECT_FALSE(summary.lastImport.isValid()) << "nothing imported yet";
    EXPECT_EQ(shell::summaryText({42000, 1221, 0, QDateTime()}),
              QStringLiteral("應收帳款 42,000 筆 (有入帳 1,221 / 未入帳 40,779) | 超商資料 0 筆 | 尚無匯入"));

    // The newest import in the journal, the batch tool's as well; an undone one no longer counts.
    const QString store = app.path(QStringLiteral("TFM.txt"));
    test::writeFile(store, "212345678\r\n");
    store::StoreImport(app.folder()).run(store, {});
    const QDateTime imported = shell::summarize(app.folder()).lastImport;
    EXPECT_TRUE(imported.isValid());
    EXPECT_LE(imported.secsTo(QDateTime::currentDateTime()), 60);
    {
        platform::Database db = db::openDatabase(app.folder());
        db::undoLatest(db);
    }
    EXPECT_FALSE(shell::summarize(app.folder()).lastImport.isValid());
}
