#include "backup/Backup.h"
#include "db/Connection.h"
#include "db/Journal.h"
#include "platform/Files.h"
#include "core/shell/BatchRun.h"
#include "shell/BatchTool.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/TextFiles.h"
#include "support/Workbooks.h"

#include <QFile>
#include <QRegularExpression>

#include <csignal>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

using namespace talvesk;

namespace {

using test::BatchRun;
using test::batch;

// Both tables whole, as another program would read them now.
QStringList snapshot(const test::TestApp &app)
{
    platform::Database db = platform::Database::open(app.folder().databaseFile());
    return test::bothTables(db);
}

QString bankFile(const test::TestApp &app, const QString &name, const QStringList &lines)
{
    const QString path = app.path(name);
    test::writeFile(path, lines.join(QStringLiteral("\r\n")).toUtf8().prepend("\xEF\xBB\xBF"));
    return path;
}

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Rows with gaps in their ids and NULLs, as a database in use for years has them.
        test::execute(app.folder(), "INSERT INTO F_AccountData VALUES ('甲', '1', NULL, 'A1', '1500', '', '', '', NULL);"
                                    "INSERT INTO F_AccountData VALUES ('gone', '', '', 'X', '1', '', '', '', '');"
                                    "INSERT INTO F_AccountData VALUES ('乙', '2', 'm', 'A2', '900', '', '', '', '');"
                                    "DELETE FROM F_AccountData WHERE Bankcode = 'X';"
                                    "INSERT INTO SMdata VALUES ('2', 'c', 'a', 's', '', '', 'b1', 'OLD', 'b3', '10');");
        ASSERT_EQ(batch(app, {QStringLiteral("map-receivables"), QStringLiteral("A"), QString(), QString(),
                              QStringLiteral("B"), QStringLiteral("C")})
                      .code,
                  shell::kBatchOk);
        ASSERT_EQ(batch(app, {QStringLiteral("map-payments"), QStringLiteral("C"), QString(), QStringLiteral("B"),
                              QString(), QStringLiteral("A"), QString()})
                      .code,
                  shell::kBatchOk);
    }

    test::TestApp app;
};

} // namespace

TEST_F(JournalTest, ImportsAndClearingsAreUndoneOneByOneExactly)
{
    std::vector<QStringList> before;
    auto step = [&](const QStringList &args) {
        before.push_back(snapshot(app));
        const BatchRun r = batch(app, args);
        ASSERT_EQ(r.code, shell::kBatchOk) << args.join(u' ').toStdString() << r.err.toStdString();
    };

    const QString receivables = app.path(QStringLiteral("r.xlsx"));
    test::writeXlsx(receivables, QStringLiteral("R"),
                    {{QStringLiteral("h")},
                     {QStringLiteral("甲改"), QStringLiteral("A1"), 2000.0},
                     {QStringLiteral("丙"), QStringLiteral("A3"), 300.0},
                     {QStringLiteral("無帳號"), QString(), 5.0}});
    step({QStringLiteral("import-receivables"), receivables});
    step({QStringLiteral("import-bank"),
          bankFile(app, QStringLiteral("bank.txt"),
                   {test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000000500"), QStringLiteral("A1")),
                    test::bankLine(QStringLiteral("1130106"), QStringLiteral("00000000001"), QStringLiteral("NOPE"))})});
    const QString payments = app.path(QStringLiteral("p.xlsx"));
    test::writeXlsx(payments, QStringLiteral("P"),
                    {{QStringLiteral("h")},
                     {QStringLiteral("A2"), 900.0, 1130107.0},
                     {QStringLiteral("ZZ"), 1.0, 1130107.0}});
    step({QStringLiteral("import-payments"), payments});
    const QString store = app.path(QStringLiteral("TFM.txt"));
    test::writeFile(store, (test::storeLine(QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("s"),
                                            QStringLiteral("1130101"), QStringLiteral("1130102"), QStringLiteral("b1"),
                                            QStringLiteral("OLD"), QStringLiteral("b3"))
                            + QStringLiteral("\r\n")
                            + test::storeLine(QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("s"),
                                              QStringLiteral("1130101"), QStringLiteral("1130102"), QStringLiteral("b1"),
                                              QStringLiteral("NEW"), QStringLiteral("b3")))
                               .toUtf8());
    step({QStringLiteral("import-store"), store});
    step({QStringLiteral("import-receivables"), receivables});
    step({QStringLiteral("clear-receivables")});
    step({QStringLiteral("clear-store")});
    const QStringList end = snapshot(app);
    ASSERT_TRUE(end.isEmpty());

    const BatchRun history = batch(app, {QStringLiteral("history")});
    ASSERT_EQ(history.code, shell::kBatchOk);
    const QStringList lines = history.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 7);
    const QStringList newest = lines.front().split(u'\t');
    ASSERT_EQ(newest.size(), 5) << lines.front().toStdString();
    EXPECT_EQ(newest[2], QStringLiteral("clear-store"));
    EXPECT_EQ(newest[3], QString()) << "a clearing reads no file";
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")).match(newest[1]).hasMatch());
    const QStringList oldest = lines.back().split(u'\t');
    EXPECT_EQ(oldest, (QStringList{oldest[0], oldest[1], QStringLiteral("import-receivables"), receivables,
                                   QStringLiteral("2 written, 1 not processed")}));
    // Beside its counts, each import keeps how its rows changed the tables; the workbook read a
    // second time, after the payments, changed nothing.
    {
        platform::Database db = db::openDatabase(app.folder());
        QStringList changes;
        for (const db::JournalRecord &e : db::journalEntries(db))
            changes.prepend(e.changes);
        EXPECT_EQ(changes.join(u'|').toStdString(), "1 new, 1 updated, 0 unchanged|0 new, 1 updated, 0 unchanged|"
                                                    "0 new, 1 updated, 0 unchanged|0 new, 0 updated, 0 unchanged|"
                                                    "0 new, 0 updated, 2 unchanged||");
    }

    // Undone newest first, each step back to exactly the tables before it, row ids and NULLs too.
    for (int i = static_cast<int>(before.size()) - 1; i >= 0; --i) {
        const BatchRun r = batch(app, {QStringLiteral("undo")});
        ASSERT_EQ(r.code, shell::kBatchOk) << i << r.err.toStdString();
        EXPECT_TRUE(snapshot(app) == before[static_cast<std::size_t>(i)]) << "after undoing step " << i;
        if (i == 0) {
            EXPECT_EQ(r.out, QStringLiteral("undo: 1 import-receivables %1 %2\n").arg(oldest[1], receivables));
        }
    }
    const BatchRun nothing = batch(app, {QStringLiteral("undo")});
    EXPECT_EQ(nothing.code, shell::kBatchFailed);
    EXPECT_EQ(nothing.out, QStringLiteral("undo: nothing undone\n"));
    EXPECT_TRUE(nothing.err.contains(QStringLiteral("沒有可以復原的作業")));
    for (const QString &line : batch(app, {QStringLiteral("history")}).out.split(u'\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.endsWith(QStringLiteral("\tundone"))) << line.toStdString();
}

// Rows an import inserts and changes again (an account named twice), into an emptied table, are
// sealed as the import left them: the next operation starts from that seal, and both are undone
// back to exactly the tables before them.
TEST_F(JournalTest, RowsAnImportInsertsAndChangesAgainAreUndoneExactly)
{
    const QString twice = app.path(QStringLiteral("twice.xlsx"));
    test::writeXlsx(twice, QStringLiteral("R"),
                    {{QStringLiteral("h")}, {QStringLiteral("丁"), QStringLiteral("A9"), 100.0}, {QStringLiteral("丁改"), QStringLiteral("A9"), 120.0}});
    ASSERT_EQ(batch(app, {QStringLiteral("clear-receivables")}).code, shell::kBatchOk);
    const QStringList before = snapshot(app);
    ASSERT_EQ(batch(app, {QStringLiteral("import-receivables"), twice}).code, shell::kBatchOk);
    ASSERT_EQ(batch(app, {QStringLiteral("clear-receivables")}).code, shell::kBatchOk);
    for (int i = 0; i < 2; ++i) {
        const BatchRun undo = batch(app, {QStringLiteral("undo")});
        EXPECT_EQ(undo.code, shell::kBatchOk) << i << undo.err.toStdString();
    }
    EXPECT_EQ(snapshot(app), before);
}

TEST_F(JournalTest, TheLinesAnImportCouldNotUseAreKeptWithItsEntry)
{
    ASSERT_EQ(batch(app, {QStringLiteral("import-bank"),
                          bankFile(app, QStringLiteral("bank.txt"),
                                   {test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000000500"), QStringLiteral("A1")),
                                    test::bankLine(QStringLiteral("1130106"), QStringLiteral("00000000001"), QStringLiteral("NOPE")),
                                    test::bankLine(QStringLiteral("1130106"), QStringLiteral("0000000x001"), QStringLiteral("A2"))})})
                  .code,
              shell::kBatchOk);
    const QString payments = app.path(QStringLiteral("p.xlsx"));
    test::writeXlsx(payments, QStringLiteral("P"),
                    {{QStringLiteral("h")}, {QStringLiteral("A2"), 900.0, 1130107.0}, {QStringLiteral("ZZ9"), 12.5, 1130108.0}});
    ASSERT_EQ(batch(app, {QStringLiteral("import-payments"), payments}).code, shell::kBatchOk);

    const QStringList bankProblems = batch(app, {QStringLiteral("problems"), QStringLiteral("1")}).out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(bankProblems.size(), 2);
    EXPECT_TRUE(bankProblems[0].startsWith(QStringLiteral("2\t沒有此虛擬帳號的應收帳款\t"))) << bankProblems[0].toStdString();
    EXPECT_TRUE(bankProblems[0].contains(QStringLiteral("NOPE")));
    EXPECT_TRUE(bankProblems[1].startsWith(QStringLiteral("3\t金額欄位不是數字\t"))) << bankProblems[1].toStdString();
    EXPECT_EQ(bankProblems[0].count(u'\t'), 2);
    EXPECT_TRUE(QFile::exists(app.folder().errorLogFile())) << "ErrLog.txt is still written";

    const BatchRun paymentProblems = batch(app, {QStringLiteral("problems"), QStringLiteral("2")});
    EXPECT_EQ(paymentProblems.code, shell::kBatchOk);
    EXPECT_EQ(paymentProblems.out, QStringLiteral("3\t沒有此虛擬帳號的應收帳款\t1130108 | 12.5 | ZZ9\n"));

    EXPECT_EQ(batch(app, {QStringLiteral("problems"), QStringLiteral("99")}).code, shell::kBatchFailed);
    EXPECT_EQ(batch(app, {QStringLiteral("problems"), QStringLiteral("x")}).code, shell::kBatchFailed);
}

TEST_F(JournalTest, AnUndoIsRefusedOnceTheTablesChangedOrWereRestored)
{
    const QString bank = bankFile(app, QStringLiteral("bank.txt"),
                                  {test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000000500"), QStringLiteral("A1"))});
    ASSERT_EQ(batch(app, {QStringLiteral("import-bank"), bank}).code, shell::kBatchOk);

    // Another program changed a row since: the undo would bring back rows it never saw.
    test::execute(app.folder(), "UPDATE F_AccountData SET Memo = 'by hand' WHERE Bankcode = 'A2'");
    QStringList changed = snapshot(app);
    BatchRun r = batch(app, {QStringLiteral("undo")});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_TRUE(r.err.contains(QStringLiteral("之後已有變動"))) << r.err.toStdString();
    EXPECT_TRUE(snapshot(app) == changed) << "a refused undo changes nothing";

    // Put back as it was, the undo goes through.
    test::execute(app.folder(), "UPDATE F_AccountData SET Memo = 'm' WHERE Bankcode = 'A2'");
    EXPECT_EQ(batch(app, {QStringLiteral("undo")}).code, shell::kBatchOk);

    // A backup taken after an import and restored: the tables are as that import left them, but
    // what came before the restore is not undone on the restored tables.
    ASSERT_EQ(batch(app, {QStringLiteral("import-bank"), bank}).code, shell::kBatchOk);
    ASSERT_EQ(batch(app, {QStringLiteral("backup"), app.path(QString()), QStringLiteral("--slot"), QStringLiteral("2")}).code,
              shell::kBatchOk);
    ASSERT_EQ(batch(app, {QStringLiteral("restore"), app.path(QString()), QStringLiteral("--slot"), QStringLiteral("2")}).code,
              shell::kBatchOk);
    const QStringList restored = snapshot(app);
    r = batch(app, {QStringLiteral("undo")});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_TRUE(r.err.contains(QStringLiteral("資料庫已從備份回復"))) << r.err.toStdString();
    EXPECT_TRUE(batch(app, {QStringLiteral("history")}).out.split(u'\n').front().endsWith(QStringLiteral("\tundo data dropped")));
    EXPECT_TRUE(snapshot(app) == restored);

    // An import after the restore is undone as any other.
    const QString another = bankFile(app, QStringLiteral("bank2.txt"),
                                     {test::bankLine(QStringLiteral("1130109"), QStringLiteral("00000000700"), QStringLiteral("A2"))});
    ASSERT_EQ(batch(app, {QStringLiteral("import-bank"), another}).code, shell::kBatchOk);
    EXPECT_TRUE(snapshot(app) != restored);
    EXPECT_EQ(batch(app, {QStringLiteral("undo")}).code, shell::kBatchOk);
    EXPECT_TRUE(snapshot(app) == restored);

    // A column another program added and filled is in no undo data: refused, not undone without it.
    ASSERT_EQ(batch(app, {QStringLiteral("import-bank"), another}).code, shell::kBatchOk);
    test::execute(app.folder(), "ALTER TABLE F_AccountData ADD COLUMN Theirs TEXT; UPDATE F_AccountData SET Theirs = 'kept'");
    const QByteArray widened = test::readFile(app.folder().databaseFile());
    r = batch(app, {QStringLiteral("undo")});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_TRUE(r.err.contains(QStringLiteral("F_AccountData.Theirs"))) << r.err.toStdString();
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), widened);
}

TEST_F(JournalTest, AnotherProgramWritingDuringAnOperationMakesItsUndoRefusedWhole)
{
    platform::Database ours = db::openDatabase(app.folder());
    platform::Database other = platform::Database::open(app.folder().databaseFile());
    const QStringList start = snapshot(app);
    {
        db::JournalEntry entry(ours, QStringLiteral("import-bank"), QStringLiteral("/x/bank.txt"));
        ours.execute("UPDATE F_AccountData SET PayTotal = '5' WHERE Bankcode = 'A1'");
        other.execute("UPDATE F_AccountData SET Memo = 'other' WHERE Bankcode = 'A2'");
        ours.execute("INSERT INTO F_AccountData (Bankcode) VALUES ('A9')");
        entry.close(QStringLiteral("2 applied, 0 abnormal"));
    }
    const QStringList end = snapshot(app);
    try {
        db::undoLatest(ours);
        FAIL() << "half an undo was kept";
    } catch (const platform::Error &e) {
        EXPECT_TRUE(e.description().contains(QStringLiteral("其他程式"))) << e.what();
    }
    EXPECT_TRUE(snapshot(app) == end);
    EXPECT_TRUE(snapshot(app) != start);
}

TEST_F(JournalTest, OnlyTheNewestOperationsKeepTheirUndoData)
{
    const QString store = app.path(QStringLiteral("TFM.txt"));
    test::writeFile(store, "212345678\r\n");
    for (int i = 0; i < db::kUndoDepth + 2; ++i)
        ASSERT_EQ(batch(app, {QStringLiteral("import-store"), store}).code, shell::kBatchOk);
    const QStringList lines = batch(app, {QStringLiteral("history")}).out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), db::kUndoDepth + 2);
    EXPECT_TRUE(lines[db::kUndoDepth - 1].endsWith(QStringLiteral("1 applied, 0 abnormal")));
    EXPECT_TRUE(lines[db::kUndoDepth].endsWith(QStringLiteral("\tundo data dropped")));
    EXPECT_TRUE(lines.back().endsWith(QStringLiteral("\tundo data dropped")));
    for (int i = 0; i < db::kUndoDepth; ++i)
        ASSERT_EQ(batch(app, {QStringLiteral("undo")}).code, shell::kBatchOk) << i;
    const BatchRun r = batch(app, {QStringLiteral("undo")});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_TRUE(r.err.contains(QStringLiteral("只保留最近 20 次作業"))) << r.err.toStdString();
}

TEST_F(JournalTest, ADatabaseFromBeforeTheJournalIsOpenedUsedAndRestored)
{
    const char *dropJournal = "DROP TABLE Journal; DROP TABLE JournalProblems; DROP TABLE JournalUndo;";
    {
        platform::Database raw = platform::Database::open(app.folder().databaseFile());
        raw.execute(dropJournal);
        ASSERT_FALSE(raw.hasTable(QStringLiteral("Journal")));
    }
    // An old backup: a copy of the database as it was before the journal.
    const QString oldBackup = app.path(QStringLiteral("Vellaroke.m02"));
    ASSERT_TRUE(QFile::copy(app.folder().databaseFile(), oldBackup));

    // Reading, a dry run and a backup leave such a database byte for byte as it was.
    const QString store = app.path(QStringLiteral("TFM.txt"));
    test::writeFile(store, "212345678\r\n");
    const QByteArray untouched = test::readFile(app.folder().databaseFile());
    const QList<QStringList> readers = {{QStringLiteral("history")},
                                        {QStringLiteral("find")},
                                        {QStringLiteral("problems"), QStringLiteral("1")},
                                        {QStringLiteral("undo")},
                                        {QStringLiteral("import-store"), store, QStringLiteral("--dry-run")},
                                        {QStringLiteral("backup"), app.path(QString()), QStringLiteral("--slot"), QStringLiteral("3")}};
    for (const QStringList &args : readers) {
        batch(app, args);
        EXPECT_EQ(test::readFile(app.folder().databaseFile()), untouched) << args.join(u' ').toStdString();
    }
    EXPECT_EQ(batch(app, {QStringLiteral("history")}).out, QString());
    ASSERT_EQ(batch(app, {QStringLiteral("import-store"), store}).code, shell::kBatchOk);
    EXPECT_EQ(batch(app, {QStringLiteral("history")}).out.count(u'\n'), 1);

    const BatchRun r = batch(app, {QStringLiteral("restore"), app.path(QString()), QStringLiteral("--slot"), QStringLiteral("2")});
    ASSERT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    EXPECT_EQ(batch(app, {QStringLiteral("history")}).out, QString()) << "the restored database's own journal: none";
    EXPECT_EQ(batch(app, {QStringLiteral("undo")}).code, shell::kBatchFailed);
    ASSERT_EQ(batch(app, {QStringLiteral("import-store"), store}).code, shell::kBatchOk);
    EXPECT_EQ(batch(app, {QStringLiteral("undo")}).code, shell::kBatchOk);
}

TEST_F(JournalTest, AFailedCrashedOrRunningOperationNeverBlocksTheUndoOfTheOnesBefore)
{
    const QStringList initial = snapshot(app);
    const QString store = app.path(QStringLiteral("TFM.txt"));
    test::writeFile(store, "212345678\r\n");
    ASSERT_EQ(batch(app, {QStringLiteral("import-store"), store}).code, shell::kBatchOk);
    const QStringList imported = snapshot(app);
    auto newest = [&] { return batch(app, {QStringLiteral("history")}).out.split(u'\n').front(); };

    // Another program's trigger refuses the clearing: it fails whole and its entry says so.
    test::execute(app.folder(), "CREATE TRIGGER keep BEFORE DELETE ON SMdata BEGIN SELECT RAISE(ABORT, 'kept'); END");
    EXPECT_EQ(batch(app, {QStringLiteral("clear-store")}).code, shell::kBatchFailed);
    test::execute(app.folder(), "DROP TRIGGER keep");
    EXPECT_TRUE(snapshot(app) == imported);
    EXPECT_TRUE(newest().endsWith(QStringLiteral("\tfailed after 0 deleted\tnothing stored"))) << newest().toStdString();

#ifndef _WIN32 // (a process killing itself: fork and SIGKILL)
    // A program killed part way through a clearing: its entry stays unfinished, and the engine
    // takes back what it had not committed.
    const pid_t child = fork();
    if (child == 0) {
        try {
            platform::Database db = platform::Database::open(app.folder().databaseFile());
            db::JournalEntry entry(db, QStringLiteral("clear-receivables"), QString());
            db.execute("BEGIN; DELETE FROM F_AccountData;");
            ::kill(::getpid(), SIGKILL);
        } catch (...) {
        }
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(newest().endsWith(QStringLiteral("\tunfinished"))) << newest().toStdString();
    EXPECT_TRUE(snapshot(app) == imported);
#endif

    // An operation still running in another connection is waited for, not passed over.
    {
        platform::Database db = db::openDatabase(app.folder());
        db::JournalEntry running(db, QStringLiteral("import-bank"), QStringLiteral("/x/bank.txt"));
        const BatchRun r = batch(app, {QStringLiteral("undo")});
        EXPECT_EQ(r.code, shell::kBatchFailed);
        EXPECT_TRUE(r.err.contains(QStringLiteral("「讀入入帳明細(TXT)」"))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("還在進行中"))) << r.err.toStdString();
        running.failed();
        running.close(QStringLiteral("failed after 0 applied, 0 abnormal"));
    }

    // The undo passes over all three and takes the import back.
    const BatchRun r = batch(app, {QStringLiteral("undo")});
    ASSERT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("undo: 1 import-store "))) << r.out.toStdString();
    EXPECT_TRUE(snapshot(app) == initial);
    const QStringList lines = batch(app, {QStringLiteral("history")}).out.split(u'\n', Qt::SkipEmptyParts);
#ifdef _WIN32
    const int passedOver = 2; // no killed copy there
#else
    const int passedOver = 3;
#endif
    ASSERT_EQ(lines.size(), passedOver + 1);
    for (int i = 0; i < passedOver; ++i)
        EXPECT_TRUE(lines[i].endsWith(QStringLiteral("\tnothing stored"))) << lines[i].toStdString();
    EXPECT_TRUE(lines[passedOver].endsWith(QStringLiteral("\tundone")));
}

// The race forced: an operation between two of its commits (its entry open, no transaction held)
// while a restore and a compaction try to replace the database beneath it.
TEST_F(JournalTest, ARestoreOrCompactionNeverLandsBetweenTwoCommitsOfAnOperation)
{
    const QString drive = app.path(QString());
    ASSERT_EQ(batch(app, {QStringLiteral("backup"), drive, QStringLiteral("--slot"), QStringLiteral("1")}).code, shell::kBatchOk);
    platform::Database db = db::openDatabase(app.folder());
    {
        db::JournalEntry running(db, QStringLiteral("import-receivables"), QStringLiteral("/x/r.xlsx"));
        db.execute("INSERT INTO F_AccountData (Bankcode) VALUES ('B1')"); // its first batch, committed
        const QStringList between = snapshot(app);
        for (const QStringList &args : QList<QStringList>{{QStringLiteral("restore"), drive, QStringLiteral("--slot"), QStringLiteral("1")},
                                                          {QStringLiteral("compact")}}) {
            const BatchRun r = batch(app, args);
            EXPECT_NE(r.code, shell::kBatchOk) << args.front().toStdString();
            EXPECT_TRUE(r.err.contains(QStringLiteral("「讀入應收帳款資料(EXCEL)」")) && r.err.contains(QStringLiteral("正在進行中")))
                << r.err.toStdString();
            EXPECT_TRUE(snapshot(app) == between) << args.front().toStdString();
        }
        db.execute("INSERT INTO F_AccountData (Bankcode) VALUES ('B2')"); // its second batch
        running.close(QStringLiteral("2 written, 0 not processed"));
    }
    // Ended, its entry and rows are as it reported them; the restore then goes through.
    EXPECT_TRUE(batch(app, {QStringLiteral("history")}).out.split(u'\n').front().endsWith(QStringLiteral("\t2 written, 0 not processed")));
    ASSERT_EQ(batch(app, {QStringLiteral("restore"), drive, QStringLiteral("--slot"), QStringLiteral("1")}).code, shell::kBatchOk);
}
