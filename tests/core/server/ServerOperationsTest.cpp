// The operations that run on the office's server, against a real one: the same lines as on a
// desk's file, one writer at a time across desks, and nothing reported that was not stored when a
// desk or the server goes away mid-import.
#include "core/server/DeskOrServer.h"
#include "core/shell/BatchRun.h"
#include "db/Connection.h"
#include "db/SafetyCopy.h"
#include "db/TableExport.h"
#include "platform/Codec950.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Postgres.h"
#include "results/Lookup.h"
#include "server/ServerSchema.h"
#include "server/ServerSettings.h"
#include "support/Postgres.h"
#include "support/TestApp.h"
#include "support/TextFiles.h"
#include "workbook/Workbook.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

using namespace talvesk;
using test::batch;
using test::nameServer;

namespace {

// The receivables as "name|number|memo|account|total" in row id order, read through the program's
// own database interface, whichever database the folder names. (The ids themselves may differ:
// the server never gives an id twice, not even one a dry run took and gave back.)
QStringList receivables(const test::TestApp &app)
{
    platform::Database db = db::openDatabase(app.folder(), db::Reach::DeskOrServer);
    platform::Statement rows = db.prepare("SELECT UserName, UserNum, Memo, Bankcode, Total FROM F_AccountData ORDER BY rowid");
    QStringList out;
    while (rows.next()) {
        QStringList cells;
        for (int c = 0; c < 5; ++c)
            cells << rows.text(c);
        out << cells.join(u'|');
    }
    return out;
}

// A workbook of `rows` receivables with accounts A0000001, A0000002, … in order.
QString manyReceivables(const test::TestApp &app, const QString &name, int rows, int first = 1)
{
    QByteArray csv = "name,number,memo,account,total\n";
    for (int i = first; i < first + rows; ++i)
        csv += "n" + QByteArray::number(i) + "," + QByteArray::number(i) + ",,A" + QByteArray::number(i).rightJustified(7, '0')
               + ",100\n";
    const QString path = app.path(name);
    test::writeFile(path, csv);
    return path;
}

QProcess *startBatch(const test::TestApp &app, const QStringList &command, QObject *parent = nullptr)
{
    auto *job = new QProcess(parent);
    job->start(QStringLiteral(TALVESK_BATCH_PROGRAM), QStringList{QStringLiteral("--app-dir"), app.folder().root()} + command);
    job->waitForStarted();
    return job;
}

// What a batch tool run printed on standard output, each line ended by "\n" as the tool writes it
// (Windows' C runtime ends each with "\r\n" on the way out).
QString printed(QProcess &job)
{
    QString out = QString::fromUtf8(job.readAllStandardOutput());
#ifdef _WIN32
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
#endif
    return out;
}

qint64 serverInteger(const QString &connection, const char *sql)
{
    return platform::pg::Connection(connection).execute(sql).integer(0, 0);
}

// Waits up to `ms` for `sql` to count more than none.
bool waitFor(const QString &connection, const char *sql, int ms = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        if (serverInteger(connection, sql) > 0)
            return true;
        QThread::msleep(50);
    }
    return false;
}

const char *const kRunning = "SELECT count(*) FROM Journal WHERE state = 'running'";
// An import past its first commit, its rows still coming.
const char *const kFirstCommit = "SELECT count(*) FROM (SELECT 1 FROM F_AccountData LIMIT 1) AS first";
// (In this database: advisory locks are each database's own, and other tests share the server.)
const char *const kWritingLockHeld = "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND granted "
                                     "AND database = (SELECT oid FROM pg_database WHERE datname = current_database())";

// A folder whose database is a fresh server database that server-init has made, mapped.
struct OnServer {
    test::TestApp app;
    test::PostgresDatabase database;
    explicit OnServer(const QString &server = test::PostgresServer::shared()) : database(server)
    {
        nameServer(app, database.connectionString());
        EXPECT_EQ(batch(app, {QStringLiteral("server-init")}).code, shell::kBatchOk);
        EXPECT_EQ(batch(app, {QStringLiteral("map-receivables"), QStringLiteral("A"), QStringLiteral("B"),
                              QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E")})
                      .code,
                  shell::kBatchOk);
    }
};

class OnBothDatabases : public ::testing::TestWithParam<bool> {};

} // namespace

// One suite for both: every line the batch tool prints, the stored rows under their ids, the
// problem lines and an exact undo, the same on the desk's file and on the server.
TEST_P(OnBothDatabases, TheReceivablesImportItsJournalAndUndoSayTheSame)
{
    const bool onServer = GetParam();
    const test::DeskOrServer desk(onServer);
    const test::TestApp &app = desk.app;
    EXPECT_EQ(batch(app, {QStringLiteral("map-receivables"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                          QStringLiteral("D"), QStringLiteral("E")})
                  .out,
              QStringLiteral("map: ImportSetting = A,B,C,D,E\n"));
    const QString first = app.path(QStringLiteral("first.csv")), second = app.path(QStringLiteral("second.csv"));
    // An account named twice is written twice; a row without an account is a problem line.
    test::writeFile(first, "name,number,memo,account,total\n王小明,1,m,9001,1500\n李,2,,9002,200\n,3,,,\n張,3,x,9001,1600\n");
    test::writeFile(second, "name,number,memo,account,total\n王小明,1,m,9001,1700\n陳,4,'q',9003,300\n");

    EXPECT_EQ(batch(app, {QStringLiteral("import-receivables"), first, QStringLiteral("--dry-run")}).out,
              QStringLiteral("dry run: import-receivables: 3 written, 1 not processed\n"));
    EXPECT_TRUE(receivables(app).isEmpty());
    EXPECT_EQ(batch(app, {QStringLiteral("import-receivables"), first}).out,
              QStringLiteral("import-receivables: 3 written, 1 not processed\n"));
    const QStringList afterFirst = receivables(app);
    EXPECT_EQ(afterFirst, (QStringList{QStringLiteral("張|3|x|9001|1600"), QStringLiteral("李|2||9002|200")}));
    const test::BatchRun again = batch(app, {QStringLiteral("import-receivables"), second});
    EXPECT_EQ(again.out, QStringLiteral("import-receivables: 2 written, 0 not processed\n")) << again.err.toStdString();
    EXPECT_EQ(receivables(app), (QStringList{QStringLiteral("王小明|1|m|9001|1700"), QStringLiteral("李|2||9002|200"),
                                             QStringLiteral("陳|4|'q'|9003|300")}));

    const QString history = batch(app, {QStringLiteral("history")}).out;
    static const QRegularExpression stamp(QStringLiteral("\\t\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\t"));
    EXPECT_EQ(QString(history).replace(stamp, QStringLiteral("\tAT\t")),
              QStringLiteral("2\tAT\timport-receivables\t%1\t2 written, 0 not processed\n"
                             "1\tAT\timport-receivables\t%2\t3 written, 1 not processed\n")
                  .arg(second, first));
    EXPECT_EQ(batch(app, {QStringLiteral("problems"), QStringLiteral("1")}).out, QStringLiteral("4\t沒有虛擬帳號\t | 3 |  |  | \n"));

    EXPECT_TRUE(batch(app, {QStringLiteral("undo")}).out.startsWith(QStringLiteral("undo: 2 import-receivables ")));
    EXPECT_EQ(receivables(app), afterFirst);
    EXPECT_TRUE(batch(app, {QStringLiteral("undo")}).out.startsWith(QStringLiteral("undo: 1 import-receivables ")));
    EXPECT_TRUE(receivables(app).isEmpty());
    EXPECT_EQ(batch(app, {QStringLiteral("undo")}).out, QStringLiteral("undo: nothing undone\n"));

    // Rows imported after an undo, and changed by another program since: never undone over it.
    ASSERT_EQ(batch(app, {QStringLiteral("import-receivables"), second}).code, shell::kBatchOk);
    {
        platform::Database db = db::openDatabase(app.folder(), db::Reach::DeskOrServer);
        db.execute("UPDATE F_AccountData SET Memo = 'by hand' WHERE Bankcode = '9003'");
    }
    const test::BatchRun refused = batch(app, {QStringLiteral("undo")});
    EXPECT_EQ(refused.out, QStringLiteral("undo: nothing undone\n"));
    EXPECT_TRUE(refused.err.contains(QStringLiteral("已有變動"))) << refused.err.toStdString();

    // A row the database refuses stops the import: what it says it stored is what is stored (on
    // the file the rows before it; on the server, where the failure ends the transaction, none of
    // its batch), never a batch the server rolled back.
    {
        platform::Database db = db::openDatabase(app.folder(), db::Reach::DeskOrServer);
        db.execute(onServer ? "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                              "IF NEW.Bankcode = 'BAD' THEN RAISE EXCEPTION 'refused'; END IF; RETURN NEW; END $$;"
                              "CREATE TRIGGER refuse BEFORE INSERT ON F_AccountData FOR EACH ROW EXECUTE FUNCTION refuse()"
                            : "CREATE TRIGGER refuse BEFORE INSERT ON F_AccountData WHEN NEW.Bankcode = 'BAD' "
                              "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    }
    const QString refusing = app.path(QStringLiteral("refusing.csv"));
    test::writeFile(refusing, "name,number,memo,account,total\nok,5,,9005,1\nbad,6,,BAD,1\nlate,7,,9007,1\n");
    const qsizetype before = receivables(app).size();
    const test::BatchRun stopped = batch(app, {QStringLiteral("import-receivables"), refusing});
    static const QRegularExpression failedAfter(QStringLiteral("^import-receivables: failed after (\\d+) written, 0 not processed\n$"));
    const QRegularExpressionMatch said = failedAfter.match(stopped.out);
    ASSERT_TRUE(said.hasMatch()) << stopped.out.toStdString();
    EXPECT_EQ(receivables(app).size() - before, said.captured(1).toLongLong());
    EXPECT_FALSE(receivables(app).join(u' ').contains(QStringLiteral("late")));

    if (onServer) {
        // The desk that ran each operation, and the desk's own file untouched by any of it.
        platform::pg::Connection server(desk.database->connectionString());
        EXPECT_EQ(server.execute("SELECT DISTINCT host FROM Journal").text(0, 0), QSysInfo::machineHostName());
        platform::Database desk = platform::Database::open(app.folder().databaseFile(), platform::Database::ReadOnly);
        platform::Statement none = desk.prepare("SELECT count(*) FROM F_AccountData");
        ASSERT_TRUE(none.next());
        EXPECT_EQ(none.integer(0), 0);
        // What works only on a desk's file (its compaction) never falls back to the file.
        try {
            db::openDatabase(app.folder());
            ADD_FAILURE() << "a desk-only opening reached the desk's file";
        } catch (const platform::Error &error) {
            EXPECT_TRUE(error.description().contains(QStringLiteral("還不能在共用資料庫上進行"))) << error.description().toStdString();
        }
    }
}

namespace {

// Every row of `table` (the program's columns, in row id order) read through the program's own
// database interface, whichever database the folder names.
std::vector<std::string> tableRows(const platform::AppFolder &app, const char *table, const char *columns)
{
    platform::Database db = db::openDatabase(app, db::Reach::DeskOrServer);
    platform::Statement rows = db.prepare(std::string("SELECT ") + columns + " FROM " + table + " ORDER BY rowid");
    std::vector<std::string> out;
    while (rows.next()) {
        QStringList cells;
        for (int c = 0; c < rows.columnCount(); ++c)
            cells << (rows.isNull(c) ? QStringLiteral("NULL") : rows.text(c));
        out.push_back(cells.join(u'|').toStdString());
    }
    return out;
}

} // namespace

// The imports that pay receivables and load store records, both exports and both clearings: the
// same lines, rows, safety copies and exact undo on the desk's file and on the server.
TEST_P(OnBothDatabases, ThePaymentAndStoreImportsExportsAndClearingsSayTheSame)
{
    const bool onServer = GetParam();
    const test::DeskOrServer desk(onServer);
    const test::TestApp &app = desk.app;
    if (onServer) {
        const test::BatchRun &init = desk.init;
        // The test server's databases classify characters as plain C, where the lookup's trigram
        // indexes hold no Chinese: server-init says so, and not of a database made as advised.
        EXPECT_TRUE(init.err.contains(QStringLiteral("字元分類為 C，"))) << init.err.toStdString();
        const std::string advisedName = "talvesk_utf8_" + std::to_string(QCoreApplication::applicationPid());
        platform::pg::Connection maintenance(test::PostgresServer::shared());
        maintenance.execute("CREATE DATABASE " + advisedName + " TEMPLATE template0 LOCALE 'C.UTF-8'");
        {
            platform::pg::Connection advised(test::PostgresServer::shared() + QStringLiteral(" dbname=")
                                             + QString::fromStdString(advisedName));
            EXPECT_EQ(server::characterClassWarning(advised), QString());
        }
        maintenance.execute("DROP DATABASE " + advisedName);
    }
    const platform::AppFolder &folder = app.folder();
    const char *const paid = "Bankcode, Total, PayDate, PayTotal, N_PayTotal";
    const char *const store = "REC, C_NUM, BARCODE2, P_TOTAL";
    ASSERT_EQ(batch(app, {QStringLiteral("map-receivables"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                          QStringLiteral("D"), QStringLiteral("E")}).code,
              shell::kBatchOk);
    const QString owed = app.path(QStringLiteral("owed.csv"));
    test::writeFile(owed, "name,number,memo,account,total\n甲,1,,A1,1500\n乙,2,,A2,900\n丙,3,,A3,300\n");
    ASSERT_EQ(batch(app, {QStringLiteral("import-receivables"), owed}).code, shell::kBatchOk);

    // A payments workbook: A1 paid in part, an unknown account not processed.
    ASSERT_EQ(batch(app, {QStringLiteral("map-payments"), QStringLiteral("C"), QString(), QStringLiteral("B"), QString(),
                          QStringLiteral("A"), QString()}).code,
              shell::kBatchOk);
    const QString payments = app.path(QStringLiteral("paid.csv"));
    test::writeFile(payments, "account,amount,date\nA1,1000,1130105\nZZ,1,1130105\n");
    EXPECT_EQ(batch(app, {QStringLiteral("import-payments"), payments, QStringLiteral("--dry-run")}).out.toStdString(),
              QString(QStringLiteral("dry run: import-payments: 1 written, 1 not processed\n")).toStdString());
    EXPECT_EQ(batch(app, {QStringLiteral("import-payments"), payments}).out.toStdString(),
              QString(QStringLiteral("import-payments: 1 written, 1 not processed\n")).toStdString());

    // A bank file: A2 paid whole, an account no receivable holds logged.
    const QString bank = app.path(QStringLiteral("bank.txt"));
    test::writeFile(bank, platform::codec950::encode(QString(
                              test::bankLine(QStringLiteral("1130106"), QStringLiteral("00000000900"), QStringLiteral("A2"))
                              + QStringLiteral("\r\n") + test::bankLine(QStringLiteral("1130106"), QStringLiteral("1"), QStringLiteral("NOPE")))));
    EXPECT_EQ(batch(app, {QStringLiteral("import-bank"), bank}).out,
              QStringLiteral("import-bank: 1 applied, 1 abnormal; see ") + folder.errorLogFile() + u'\n');
    const std::vector<std::string> afterPayments{"A1|1500|1130105|1000|500", "A2|900|1130106|900|0", "A3|300|||"};
    EXPECT_EQ(tableRows(folder, "F_AccountData", paid), afterPayments);

    // A store file: K1 twice (the second updates it), then the same file again changes nothing.
    auto storeLine = [](const QString &barcode2, const QString &amount) -> QString {
        return test::storeLine(QStringLiteral("C1"), QStringLiteral("R1"), QStringLiteral("S1"), QStringLiteral("20240105"),
                               QStringLiteral("20240104"), QStringLiteral("B1"), barcode2, QStringLiteral("000000") + amount)
               + QStringLiteral("\r\n");
    };
    const QString storeFile = app.path(QStringLiteral("TFM.txt"));
    test::writeFile(storeFile, platform::codec950::encode(QString(storeLine(QStringLiteral("K1"), QStringLiteral("000001500"))
                                                                  + storeLine(QStringLiteral("K2"), QStringLiteral("000000200"))
                                                                  + storeLine(QStringLiteral("K1"), QStringLiteral("000001600")))));
    EXPECT_EQ(batch(app, {QStringLiteral("import-store"), storeFile}).out.toStdString(),
              QString(QStringLiteral("import-store: 3 applied, 0 abnormal\n")).toStdString());
    EXPECT_EQ(batch(app, {QStringLiteral("import-store"), storeFile, QStringLiteral("--dry-run")}).out.toStdString(),
              QString(QStringLiteral("dry run: import-store: 3 applied, 0 abnormal\n")).toStdString());
    const std::vector<std::string> stored{"2|C1|K1|1600", "2|C1|K2|200"};
    EXPECT_EQ(tableRows(folder, "SMdata", store), stored);

    // Both exports read what is stored.
    const QString results = app.path(QStringLiteral("results.xlsx")), storeOut = app.path(QStringLiteral("store.xlsx"));
    EXPECT_EQ(batch(app, {QStringLiteral("export-results"), results}).out.toStdString(),
              QString(QStringLiteral("export-results: 3 rows to ") + results + u'\n').toStdString());
    EXPECT_EQ(workbook::Workbook::open(results)->worksheet(QStringLiteral("銷帳結果"))->cell(3, u"D").text, QStringLiteral("A2"));
    {
        // 帳款查詢's export: only what its query finds, with the status the lookup works out.
        const QString found = app.path(QStringLiteral("found.xlsx"));
        const db::TableLayout layout = results::Lookup::exportLayout();
        EXPECT_EQ(db::exportTable(folder, layout, found, {}, results::Lookup(folder, {QString(), results::Status::Partial}).filter()).rows, 1);
        const auto sheet = workbook::Workbook::open(found)->worksheet(layout.sheetName);
        EXPECT_EQ(sheet->cell(2, u"D").text, QStringLiteral("A1"));
        EXPECT_EQ(sheet->cell(2, workbook::columnLetters(int(layout.columns.size()) - 1)).text, results::statusCaption(results::Status::Partial));
    }
    EXPECT_EQ(batch(app, {QStringLiteral("export-store"), storeOut}).out.toStdString(),
              QString(QStringLiteral("export-store: 2 rows to ") + storeOut + u'\n').toStdString());

    // Undone newest first, each exactly.
    EXPECT_TRUE(batch(app, {QStringLiteral("undo")}).out.startsWith(QStringLiteral("undo: 4 import-store ")));
    EXPECT_TRUE(tableRows(folder, "SMdata", store).empty());
    EXPECT_TRUE(batch(app, {QStringLiteral("undo")}).out.startsWith(QStringLiteral("undo: 3 import-bank ")));
    EXPECT_EQ(tableRows(folder, "F_AccountData", paid).at(1), "A2|900|||");
    ASSERT_EQ(batch(app, {QStringLiteral("import-bank"), bank}).code, shell::kBatchOk);
    ASSERT_EQ(batch(app, {QStringLiteral("import-store"), storeFile}).code, shell::kBatchOk);

    // The clearings keep the rows they delete in a safety copy of the desk's form, and undo them.
    for (const auto &[command, table, columns, rows] :
         {std::tuple{"clear-store", "SMdata", store, stored}, std::tuple{"clear-receivables", "F_AccountData", paid, afterPayments}}) {
        const test::BatchRun cleared = batch(app, {QString::fromLatin1(command)});
        EXPECT_EQ(cleared.out.toStdString(), std::string(command) + ": " + table + " emptied\n");
        EXPECT_TRUE(tableRows(folder, table, columns).empty());
        const QString copy = db::safetyCopyFile(folder, QString::fromLatin1(table) == QStringLiteral("SMdata")
                                                            ? db::kBeforeClearStore : db::kBeforeClearReceivables);
        EXPECT_TRUE(cleared.err.contains(QDir::toNativeSeparators(copy))) << cleared.err.toStdString();
        {
            platform::Database kept = platform::Database::open(copy, platform::Database::ReadOnly);
            platform::Statement count = kept.prepare(std::string("SELECT count(*) FROM ") + table);
            ASSERT_TRUE(count.next());
            EXPECT_EQ(std::size_t(count.integer(0)), rows.size());
        }
        const QString undone = batch(app, {QStringLiteral("undo")}).out;
        EXPECT_TRUE(undone.contains(QString::fromLatin1(command))) << undone.toStdString();
        EXPECT_EQ(tableRows(folder, table, columns), rows);
    }
}

INSTANTIATE_TEST_SUITE_P(Databases, OnBothDatabases, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Server" : "DesksFile"; });

// One writer at a time, whichever desk: another clerk's writing operation is waited for two
// seconds and then refused in Chinese with nothing changed, or, let go within them, followed; a
// reader never waits; two desks importing at once each store all of their rows or none.
TEST(ServerOperations, OneClerkWritesAtATimeAndReadersNeverWait)
{
    OnServer office;
    const test::TestApp &app = office.app;
    const QString connection = office.database.connectionString();
    const QString small = manyReceivables(app, QStringLiteral("small.csv"), 3);

    platform::Database otherDesk = platform::Database::connect(connection);
    ASSERT_TRUE(otherDesk.lockForWriting(server::kWritingLock, std::chrono::milliseconds(0)));
    // Its operation is midway: a row written, not yet committed.
    otherDesk.execute("BEGIN");
    otherDesk.execute("INSERT INTO F_AccountData (Bankcode) VALUES ('OTHER')");

    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QProcess> job(startBatch(app, {QStringLiteral("import-receivables"), small}));
    ASSERT_TRUE(job->waitForFinished(30000));
    EXPECT_GE(timer.elapsed(), 1900);
    EXPECT_EQ(job->exitCode(), shell::kBatchFailed);
    EXPECT_EQ(printed(*job), QStringLiteral("import-receivables: failed after 0 written, 0 not processed\n"));
    EXPECT_TRUE(QString::fromUtf8(job->readAllStandardError()).contains(server::kAnotherClerkWrites));
    EXPECT_EQ(serverInteger(connection, "SELECT count(*) FROM Journal"), 0);

    timer.restart();
    const test::BatchRun read = batch(app, {QStringLiteral("history")});
    EXPECT_EQ(read.code, shell::kBatchOk);
    EXPECT_LT(timer.elapsed(), 1500) << "a reader waited for a writer";
    EXPECT_TRUE(receivables(app).isEmpty()) << "a reader saw a row not yet committed";

    // Let go within the two seconds: the waiting import goes on and stores its rows.
    job.reset(startBatch(app, {QStringLiteral("import-receivables"), small}));
    QThread::msleep(500);
    otherDesk.execute("COMMIT");
    otherDesk.unlockWriting();
    ASSERT_TRUE(job->waitForFinished(30000));
    EXPECT_EQ(printed(*job), QStringLiteral("import-receivables: 3 written, 0 not processed\n"));
    EXPECT_EQ(receivables(app).size(), 4);

    // Two desks at once, each with rows of its own.
    const QString left = manyReceivables(app, QStringLiteral("left.csv"), 4000, 1000);
    const QString right = manyReceivables(app, QStringLiteral("right.csv"), 4000, 9000);
    std::unique_ptr<QProcess> a(startBatch(app, {QStringLiteral("import-receivables"), left}));
    std::unique_ptr<QProcess> b(startBatch(app, {QStringLiteral("import-receivables"), right}));
    ASSERT_TRUE(a->waitForFinished(60000));
    ASSERT_TRUE(b->waitForFinished(60000));
    qint64 expected = 4;
    for (QProcess *desk : {a.get(), b.get()}) {
        const QString out = printed(*desk);
        if (desk->exitCode() == shell::kBatchOk) {
            EXPECT_EQ(out, QStringLiteral("import-receivables: 4000 written, 0 not processed\n"));
            expected += 4000;
        } else {
            EXPECT_EQ(out, QStringLiteral("import-receivables: failed after 0 written, 0 not processed\n"));
        }
    }
    EXPECT_GE(expected, 4004) << "neither desk stored its rows";
    EXPECT_EQ(serverInteger(connection, "SELECT count(*) FROM F_AccountData"), expected);
    EXPECT_EQ(serverInteger(connection, kRunning), 0);
}

// A desk killed mid-import (SIGKILL; TerminateProcess on Windows) leaves no lock behind and no
// half batch: what is stored is the file's first rows, the next operation goes on at once, and the
// unfinished entry is never undone on a guess.
TEST(ServerOperations, ADeskKilledMidImportLeavesNoLockAndNoHalfBatch)
{
    OnServer office;
    const test::TestApp &app = office.app;
    const QString connection = office.database.connectionString();
    const QString big = manyReceivables(app, QStringLiteral("big.csv"), 400000);

    std::unique_ptr<QProcess> job(startBatch(app, {QStringLiteral("import-receivables"), big}));
    ASSERT_TRUE(waitFor(connection, kFirstCommit)); // (a fixed wait let a fast import finish)
    job->kill();
    ASSERT_TRUE(job->waitForFinished(10000));
    EXPECT_EQ(job->exitStatus(), QProcess::CrashExit);

    // The server ends the session: its transaction rolled back, its lock let go.
    QElapsedTimer timer;
    timer.start();
    while (serverInteger(connection, kWritingLockHeld) > 0 && timer.elapsed() < 5000)
        QThread::msleep(20);
    EXPECT_EQ(serverInteger(connection, kWritingLockHeld), 0);
    const qint64 stored = serverInteger(connection, "SELECT count(*) FROM F_AccountData");
    EXPECT_LT(stored, 400000);
    if (stored > 0) {
        EXPECT_EQ(platform::pg::Connection(connection).execute("SELECT max(Bankcode) FROM F_AccountData").text(0, 0),
                  QStringLiteral("A") + QString::number(stored).rightJustified(7, u'0'))
            << "the rows stored are not the file's first ones";
    }

    const QString small = manyReceivables(app, QStringLiteral("small.csv"), 2, 900000);
    const test::BatchRun next = batch(app, {QStringLiteral("import-receivables"), small});
    EXPECT_EQ(next.out, QStringLiteral("import-receivables: 2 written, 0 not processed\n")) << next.err.toStdString();
    EXPECT_TRUE(batch(app, {QStringLiteral("undo")}).out.startsWith(QStringLiteral("undo: 2 import-receivables ")));
    const test::BatchRun killed = batch(app, {QStringLiteral("undo")});
    if (stored > 0) {
        EXPECT_EQ(killed.out, QStringLiteral("undo: nothing undone\n"));
        EXPECT_TRUE(killed.err.contains(QStringLiteral("沒有正常結束"))) << killed.err.toStdString();
    }
    EXPECT_EQ(serverInteger(connection, "SELECT count(*) FROM F_AccountData"), stored);
}

// The server restarted mid-import: the import fails cleanly, and the rows it says it stored are
// exactly the rows the server kept.
TEST(ServerOperations, AServerRestartedMidImportFailsCleanlyReportingOnlyWhatIsStored)
{
    test::PostgresServer own;
    OnServer office(own.connectionString());
    const QString connection = office.database.connectionString();
    const QString big = manyReceivables(office.app, QStringLiteral("big.csv"), 400000);

    std::unique_ptr<QProcess> job(startBatch(office.app, {QStringLiteral("import-receivables"), big}));
    ASSERT_TRUE(waitFor(connection, kFirstCommit));
    own.stop();
    ASSERT_TRUE(job->waitForFinished(30000));
    own.start();
    const QString out = printed(*job);
    EXPECT_EQ(job->exitCode(), shell::kBatchFailed);
    static const QRegularExpression failed(QStringLiteral("^import-receivables: failed after (\\d+) written, 0 not processed\n$"));
    const QRegularExpressionMatch said = failed.match(out);
    ASSERT_TRUE(said.hasMatch()) << out.toStdString();
    EXPECT_EQ(serverInteger(office.database.connectionString(), "SELECT count(*) FROM F_AccountData"),
              said.captured(1).toLongLong());
    EXPECT_FALSE(QString::fromUtf8(job->readAllStandardError()).isEmpty());
}

// A backup made at the server is a desk's database: restored onto a desk it holds the same rows
// under the same journal, problem lines and all.
TEST(ServerOperations, ABackupOfTheServerRestoresOntoADeskWithItsJournal)
{
    OnServer office;
    const QString first = manyReceivables(office.app, QStringLiteral("first.csv"), 30);
    test::writeFile(office.app.path(QStringLiteral("second.csv")),
                    "name,number,memo,account,total\nchanged,1,\t\\,A0000001,7\nnew,2,,B1,8\n,3,,,\n");
    ASSERT_EQ(batch(office.app, {QStringLiteral("import-receivables"), first}).code, shell::kBatchOk);
    ASSERT_EQ(batch(office.app, {QStringLiteral("import-receivables"), office.app.path(QStringLiteral("second.csv"))}).code,
              shell::kBatchOk);
    const QString drive = office.app.path(QStringLiteral("drive"));
    QDir().mkpath(drive);
    const test::BatchRun saved = batch(office.app, {QStringLiteral("backup"), drive, QStringLiteral("--slot"), QStringLiteral("2")});
    ASSERT_EQ(saved.code, shell::kBatchOk) << saved.err.toStdString();
    EXPECT_TRUE(saved.out.startsWith(QStringLiteral("backup: to "))) << saved.out.toStdString();

    test::TestApp desk;
    const test::BatchRun restored = batch(desk, {QStringLiteral("restore"), drive, QStringLiteral("--slot"), QStringLiteral("2")});
    ASSERT_EQ(restored.code, shell::kBatchOk) << restored.err.toStdString();
    EXPECT_EQ(receivables(desk), receivables(office.app));
    // (A restore drops what undoing needs, as any restore does.)
    EXPECT_EQ(batch(desk, {QStringLiteral("history")}).out,
              batch(office.app, {QStringLiteral("history")}).out.replace(u'\n', QStringLiteral("\tundo data dropped\n")));
    EXPECT_EQ(batch(desk, {QStringLiteral("problems"), QStringLiteral("2")}).out, QStringLiteral("4\t沒有虛擬帳號\t | 3 |  |  | \n"));

    // And back onto the server, after more work there: never while another clerk writes, then in
    // one go, the server's tables as they were kept aside first, and new rows after the old.
    const QStringList backedUp = receivables(office.app);
    ASSERT_EQ(batch(office.app, {QStringLiteral("import-receivables"), manyReceivables(office.app, QStringLiteral("later.csv"), 5, 100)}).code,
              shell::kBatchOk);
    const QStringList later = receivables(office.app);
    const QStringList restore{QStringLiteral("restore"), drive, QStringLiteral("--slot"), QStringLiteral("2")};
    {
        platform::Database otherDesk = platform::Database::connect(office.database.connectionString());
        ASSERT_TRUE(otherDesk.lockForWriting(server::kWritingLock, std::chrono::milliseconds(0)));
        const test::BatchRun refused = batch(office.app, restore);
        EXPECT_EQ(refused.out, QStringLiteral("restore: failed, database unchanged\n"));
        EXPECT_TRUE(refused.err.contains(server::kAnotherClerkWrites)) << refused.err.toStdString();
        EXPECT_EQ(receivables(office.app), later);
    }
    const test::BatchRun back = batch(office.app, restore);
    ASSERT_EQ(back.code, shell::kBatchOk) << back.err.toStdString();
    EXPECT_EQ(receivables(office.app), backedUp);
    EXPECT_EQ(batch(office.app, {QStringLiteral("history")}).out, batch(desk, {QStringLiteral("history")}).out);
    test::TestApp keptAside;
    platform::copyFileAtomically(db::safetyCopyFile(office.app.folder(), db::kBeforeRestore), keptAside.folder().databaseFile());
    EXPECT_EQ(receivables(keptAside), later);
    const test::BatchRun after = batch(office.app, {QStringLiteral("import-receivables"), manyReceivables(office.app, QStringLiteral("after.csv"), 2, 500)});
    EXPECT_EQ(after.out, QStringLiteral("import-receivables: 2 written, 0 not processed\n")) << after.err.toStdString();
    EXPECT_TRUE(batch(office.app, {QStringLiteral("undo")}).out.startsWith(QStringLiteral("undo: 3 import-receivables ")));
    EXPECT_EQ(receivables(office.app), backedUp);
}
