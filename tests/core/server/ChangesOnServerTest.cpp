// What the server's bulk path and change counter must keep: new rows stored exactly as on a desk's
// file, the counters moving as a file's do, and a change made by hand (a second real connection,
// as psql is) noticed before an undo and while an operation runs.
#include "core/server/DeskOrServer.h"
#include "core/shell/BatchRun.h"
#include "db/Connection.h"
#include "platform/Postgres.h"
#include "support/Postgres.h"
#include "support/TestApp.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <optional>

#include <gtest/gtest.h>

using namespace talvesk;
using test::batch;
using test::nameServer;

namespace {

void mapReceivables(const test::TestApp &app)
{
    ASSERT_EQ(batch(app, {QStringLiteral("map-receivables"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                          QStringLiteral("D"), QStringLiteral("E")})
                  .code,
              shell::kBatchOk);
}

// Every column of every receivable, "|"-joined, in row id order, with NULL shown as "<null>".
QStringList storedRows(const test::TestApp &app)
{
    platform::Database db = db::openDatabase(app.folder(), db::Reach::DeskOrServer);
    platform::Statement rows = db.prepare("SELECT UserName, UserNum, Memo, Bankcode, Total, PayDate, PayTotal, N_PayTotal, "
                                          "Spare FROM F_AccountData ORDER BY rowid");
    QStringList out;
    while (rows.next()) {
        QStringList cells;
        for (int c = 0; c < 9; ++c)
            cells << (rows.isNull(c) ? QStringLiteral("<null>") : rows.text(c));
        out << cells.join(u'|');
    }
    return out;
}

qint64 serverInteger(const QString &connection, const char *sql)
{
    return platform::pg::Connection(connection).execute(sql).integer(0, 0);
}

class ChangesOnBothDatabases : public ::testing::TestWithParam<bool> {};

} // namespace

// New rows go in by one statement each on the file and by COPY on the server: the characters COPY
// escapes (tab, line ends, backslash, its NULL marker \N) arrive as the file stores them. The
// counters move alike: changeCounter with every write transaction committed, this connection's
// or another's; dataVersion with another connection's alone; neither with a rollback or a read.
TEST_P(ChangesOnBothDatabases, NewRowsAreStoredAlikeAndTheCountersMoveAsAFilesDo)
{
    const bool onServer = GetParam();
    const test::DeskOrServer desk(onServer);
    const test::TestApp &app = desk.app;
    mapReceivables(app);
    const QString awkward = app.path(QStringLiteral("awkward.csv"));
    test::writeFile(awkward, "name,number,memo,account,total\n"
                             "\"tab\there\",1,back\\slash,A1,10\n"
                             "\\N,2,\"line\nend\",A2,20\n"
                             "\"cr\rhere\",3,\\\\N,A3,30\n"
                             "王小明,4,\"say \"\"hi\"\"\",A4,40\n");
    const test::BatchRun imported = batch(app, {QStringLiteral("import-receivables"), awkward});
    EXPECT_EQ(imported.out, QStringLiteral("import-receivables: 4 written, 0 not processed\n")) << imported.err.toStdString();
    EXPECT_EQ(storedRows(app), (QStringList{QStringLiteral("tab\there|1|back\\slash|A1|10||||"),
                                            QStringLiteral("\\N|2|line\nend|A2|20||||"),
                                            QStringLiteral("cr\rhere|3|\\\\N|A3|30||||"),
                                            QStringLiteral("王小明|4|say \"hi\"|A4|40||||")}));

    platform::Database ours = db::openDatabase(app.folder(), db::Reach::DeskOrServer);
    // Both read inside one transaction, as the journal reads them (a file's counter wants a lock).
    auto counted = [&ours] {
        platform::ReadTransaction reading(ours);
        platform::Statement first = ours.prepare("SELECT count(*) FROM F_AccountData");
        first.next();
        const std::optional<quint32> counter = ours.changeCounter();
        EXPECT_TRUE(counter.has_value());
        return std::pair{counter.value_or(0), ours.dataVersion()};
    };
    // Another program: the program's own interface on the file, a bare connection on the server,
    // as a change made there by hand.
    auto theirs = [&](const char *sql) {
        if (onServer) {
            platform::pg::Connection(desk.database->connectionString()).execute(sql);
        } else {
            platform::Database other = platform::Database::open(app.folder().databaseFile());
            other.execute(sql);
        }
    };

    const auto [counter0, version0] = counted();
    {
        platform::Transaction mine(ours);
        ours.execute("UPDATE F_AccountData SET Memo = 'ours' WHERE Bankcode = 'A1'");
        ours.execute("UPDATE F_AccountData SET Memo = 'ours again' WHERE Bankcode = 'A2'");
        mine.commit();
    }
    const auto [counter1, version1] = counted();
    EXPECT_EQ(counter1, counter0 + 1) << "one write transaction, one raise";
    EXPECT_EQ(version1, version0) << "this connection's own commit moved dataVersion";
    {
        platform::Transaction undone(ours);
        ours.execute("DELETE FROM F_AccountData");
    }
    theirs("SELECT count(*) FROM F_AccountData");
    EXPECT_EQ(counted(), std::pair(counter1, version1)) << "a rollback or a read moved a counter";
    theirs("UPDATE F_AccountData SET Memo = 'theirs' WHERE Bankcode = 'A3'");
    const auto [counter2, version2] = counted();
    EXPECT_EQ(counter2, counter1 + 1);
    EXPECT_NE(version2, version1) << "another connection's commit went unseen";

    // A new row the database refuses (the last, which no later lookup follows) fails a dry run as
    // it fails the real run, though the server gets it in bulk and the dry run ends in a rollback.
    theirs(onServer ? "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                      "IF NEW.Bankcode = 'BAD' THEN RAISE EXCEPTION 'refused'; END IF; RETURN NEW; END $$;"
                      "CREATE TRIGGER refuse BEFORE INSERT ON F_AccountData FOR EACH ROW EXECUTE FUNCTION refuse()"
                    : "CREATE TRIGGER refuse BEFORE INSERT ON F_AccountData WHEN NEW.Bankcode = 'BAD' "
                      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    const QString refusing = app.path(QStringLiteral("refusing.csv"));
    test::writeFile(refusing, "name,number,memo,account,total\nok,5,,A5,1\nlast,6,,BAD,1\n");
    const test::BatchRun tried = batch(app, {QStringLiteral("import-receivables"), refusing, QStringLiteral("--dry-run")});
    EXPECT_EQ(tried.code, shell::kBatchFailed) << tried.out.toStdString();
    EXPECT_TRUE(tried.err.contains(QStringLiteral("refused"))) << tried.err.toStdString();
    EXPECT_EQ(storedRows(app).size(), 4);
}

INSTANTIATE_TEST_SUITE_P(Databases, ChangesOnBothDatabases, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Server" : "DesksFile"; });

// A change made by hand, outside the program: after an import it refuses the undo until it is
// taken back; made while an import runs, it costs that import its undo data (its rows and the
// hand's can no longer be told apart), and the hand's row is never undone with the import's. A
// server whose older server-init made no change counter refuses the same, by reading the tables.
TEST(ChangesOnServer, AChangeMadeByHandIsNoticedAfterAndWhileAnOperationRuns)
{
    test::TestApp app;
    test::PostgresDatabase database;
    const QString connection = database.connectionString();
    nameServer(app, connection);
    ASSERT_EQ(batch(app, {QStringLiteral("server-init")}).code, shell::kBatchOk);
    mapReceivables(app);
    const QString file = app.path(QStringLiteral("three.csv"));
    test::writeFile(file, "name,number,memo,account,total\na,1,,A1,10\nb,2,,A2,20\nc,3,,A3,30\n");

    auto handChangeRefusesUndo = [&] {
        ASSERT_EQ(batch(app, {QStringLiteral("import-receivables"), file}).code, shell::kBatchOk);
        platform::pg::Connection(connection).execute("UPDATE F_AccountData SET Memo = 'by hand' WHERE Bankcode = 'A2'");
        const test::BatchRun refused = batch(app, {QStringLiteral("undo")});
        EXPECT_EQ(refused.out, QStringLiteral("undo: nothing undone\n"));
        EXPECT_TRUE(refused.err.contains(QStringLiteral("已有變動"))) << refused.err.toStdString();
        // Taken back by hand: the tables are as the import left them, and it is undone.
        platform::pg::Connection(connection).execute("UPDATE F_AccountData SET Memo = '' WHERE Bankcode = 'A2'");
        EXPECT_TRUE(batch(app, {QStringLiteral("undo")}).out.startsWith(QStringLiteral("undo: "))) << "not undone";
        EXPECT_TRUE(storedRows(app).isEmpty());
    };
    handChangeRefusesUndo();

    // A row inserted by hand, committed while the import waits to write its entry: it lands
    // between the import's first reading of the tables and its close.
    platform::pg::Connection hand(connection);
    hand.execute("BEGIN; INSERT INTO F_AccountData (UserName, UserNum, Memo, Bankcode, Total, PayDate, PayTotal, N_PayTotal, "
                 "Spare) VALUES ('hand', '9', '', 'HAND', '90', '', '', '', '')");
    QProcess job;
    job.start(QStringLiteral(TALVESK_BATCH_PROGRAM),
              {QStringLiteral("--app-dir"), app.folder().root(), QStringLiteral("import-receivables"), file});
    ASSERT_TRUE(job.waitForStarted());
    // (In this database: other tests share the server.)
    const char *const importWaits = "SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
                                    "AND wait_event_type = 'Lock'";
    QElapsedTimer waited;
    waited.start();
    while (serverInteger(connection, importWaits) == 0 && waited.elapsed() < 20000)
        QThread::msleep(20);
    ASSERT_GT(serverInteger(connection, importWaits), 0) << "the import never waited";
    hand.execute("COMMIT");
    ASSERT_TRUE(job.waitForFinished(30000));
    EXPECT_EQ(QString::fromUtf8(job.readAllStandardOutput()).remove(u'\r'),
              QStringLiteral("import-receivables: 3 written, 0 not processed\n"));
    EXPECT_TRUE(batch(app, {QStringLiteral("history")}).out.split(u'\n').first().endsWith(QStringLiteral("\tundo data dropped")))
        << batch(app, {QStringLiteral("history")}).out.toStdString();
    EXPECT_EQ(batch(app, {QStringLiteral("undo")}).out, QStringLiteral("undo: nothing undone\n"));
    EXPECT_EQ(serverInteger(connection, "SELECT count(*) FROM F_AccountData WHERE Bankcode = 'HAND'"), 1);

    // A server made before the counter: the same refusal, the tables read whole.
    hand.execute("DELETE FROM F_AccountData; DROP FUNCTION talvesk_count_change() CASCADE; DROP TABLE talvesk_change_counter");
    handChangeRefusesUndo();
}
