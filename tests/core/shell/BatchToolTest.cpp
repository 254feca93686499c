#include "credentials/Credentials.h"
#include "db/Connection.h"
#include "db/TableExport.h"
#include "platform/Codec950.h"
#include "platform/Files.h"
#include "workbook/Workbook.h"
#include "core/shell/BatchRun.h"
#include "db/Journal.h"
#include "shell/BatchTool.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/TextFiles.h"
#include "support/Workbooks.h"

#include <QDir>
#include <QProcess>
#include <QFile>

#include <csignal>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <gtest/gtest.h>

using namespace talvesk;

namespace {

using test::BatchRun;
using test::batch;

} // namespace

TEST(BatchTool, SetCredentialsStoresTheUpperCasedPairEnciphered)
{
    test::TestApp app;
    // Kept private by the operator: it stays so.
    QFile::setPermissions(app.folder().credentialFile(), QFile::ReadOwner | QFile::WriteOwner);
    const BatchRun r = batch(app, {QStringLiteral("set-credentials"), QStringLiteral("clerk7"), QStringLiteral("pass1234")});
    EXPECT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    EXPECT_TRUE(test::hasMode(app.folder().credentialFile(), 0600u));
    EXPECT_TRUE(r.err.contains(credentials::kSavedMessage));
    const auto stored = credentials::LoadStoredCredentials(app.folder().credentialFile());
    EXPECT_EQ(credentials::DecryptCredential(stored.userName), QStringLiteral("CLERK7"));
    EXPECT_EQ(credentials::DecryptCredential(stored.password), QStringLiteral("PASS1234"));
}

TEST(BatchTool, SetCredentialsRefusesBadValuesAndLeavesTheFileUntouched)
{
    test::TestApp app;
    const QByteArray before = test::readFile(app.folder().credentialFile());
    const QStringList bad[] = {
        {QStringLiteral("ABCDEFGHI"), QStringLiteral("1")},
        {QStringLiteral("AB-C"), QStringLiteral("1")},
        {QStringLiteral("ABC"), QString()},
        {QStringLiteral("ABC"), QStringLiteral("王")},
    };
    for (const QStringList &pair : bad) {
        const BatchRun r = batch(app, QStringList{QStringLiteral("set-credentials"), pair.at(0), pair.at(1)});
        EXPECT_EQ(r.code, shell::kBatchFailed) << pair.join(u' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
    }
    EXPECT_TRUE(batch(app, {QStringLiteral("set-credentials"), QStringLiteral("ABCDEFGHI"), QStringLiteral("1")})
                    .err.contains(QStringLiteral("使用者名稱至多8位數!")));
    EXPECT_EQ(test::readFile(app.folder().credentialFile()), before);
}

TEST(BatchTool, SetCredentialsReportsAWriteFailure)
{
    test::TestApp app;
    QDir(app.folder().credentialFolder()).removeRecursively();
    const BatchRun r = batch(app, {QStringLiteral("set-credentials"), QStringLiteral("A"), QStringLiteral("B")});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_TRUE(r.err.contains(credentials::kSaveFailedMessage));
    EXPECT_FALSE(platform::fileExists(app.folder().credentialFile()));
}

TEST(BatchTool, CompactSucceedsOnADatabaseAndFailsOnJunk)
{
    test::TestApp app;
    BatchRun r = batch(app, {QStringLiteral("compact")});
    EXPECT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("compact: ")));

    QFile::setPermissions(app.folder().databaseFile(), QFile::ReadOwner | QFile::ReadGroup);
    r = batch(app, {QStringLiteral("compact")});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("錯誤代碼 70："))) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("compact: failed, database unchanged\n"));
    QFile::setPermissions(app.folder().databaseFile(), QFile::ReadOwner | QFile::WriteOwner);

    test::writeFile(app.folder().databaseFile(), "not a database at all");
    r = batch(app, {QStringLiteral("compact")});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), QByteArray("not a database at all"));
}

TEST(BatchTool, BadUsageExitsWithTwo)
{
    test::TestApp app;
    EXPECT_EQ(batch(app, {}).code, shell::kBatchUsage);
    EXPECT_EQ(batch(app, {QStringLiteral("no-such-command")}).code, shell::kBatchUsage);
    EXPECT_EQ(batch(app, {QStringLiteral("set-credentials"), QStringLiteral("ONE")}).code, shell::kBatchUsage);
    EXPECT_EQ(batch(app, {QStringLiteral("compact"), QStringLiteral("extra")}).code, shell::kBatchUsage);
}

// --help: the usage and the database in use on standard output, exit 0, while a usage error stays
// as it was. A database file on a network share is warned of on standard error, before a command
// that opens it, and its output lines stay the same; not for a command that never opens it, and
// not when a server is named.
TEST(BatchTool, HelpNamesTheDatabaseAndAShareWarningStaysOffStandardOutput)
{
    test::TestApp app;
    BatchRun r = batch(app, {QStringLiteral("--help")});
    EXPECT_EQ(r.code, shell::kBatchOk);
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines.front(), QStringLiteral("usage: talvesk-batch [--app-dir DIR] COMMAND ARGS..."));
    EXPECT_TRUE(lines.contains(QStringLiteral("  import-receivables FILE [--sheet NAME] [--dry-run]")));
    EXPECT_EQ(lines.back(), QStringLiteral("資料庫：本機檔案 ")
                                + QDir::toNativeSeparators(QDir(app.folder().root()).absoluteFilePath(QStringLiteral("ldb/Vellaroke.mdb"))));

    r = batch(app, {QStringLiteral("no-such-command")});
    EXPECT_EQ(r.code, shell::kBatchUsage);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("unknown command: no-such-command\nusage: talvesk-batch"))) << r.err.toStdString();

    const auto withShare = [&app](const QStringList &args) {
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        const int code = shell::runBatch(QStringList{QStringLiteral("--app-dir"), app.folder().root()} + args,
                                         QStringLiteral("/nonexistent"), outStream, errStream,
                                         [](const QString &) { return true; });
        return BatchRun{code, out, err};
    };
    const QStringList clearing{QStringLiteral("clear-store")};
    const BatchRun plain = batch(app, clearing);
    const BatchRun shared = withShare(clearing);
    EXPECT_EQ(shared.code, shell::kBatchOk) << shared.err.toStdString();
    EXPECT_EQ(shared.out, plain.out);
    EXPECT_EQ(shared.out, QStringLiteral("clear-store: SMdata emptied\n"));
    EXPECT_TRUE(shared.err.startsWith(QStringLiteral("資料庫檔案 "))) << shared.err.toStdString();
    EXPECT_TRUE(shared.err.contains(QStringLiteral("共用資料庫伺服器（Env/Database.ini）")));
    EXPECT_FALSE(plain.err.contains(QStringLiteral("網路共用")));
    EXPECT_FALSE(withShare({QStringLiteral("set-credentials"), QStringLiteral("A"), QStringLiteral("B")})
                     .err.contains(QStringLiteral("網路共用")));

    test::writeFile(app.folder().credentialFolder() + QStringLiteral("/Database.ini"),
                    "[DATABASE]\r\nserver=host=db.office.lan dbname=talvesk\r\n");
    r = batch(app, {QStringLiteral("--help")});
    EXPECT_TRUE(r.out.endsWith(QStringLiteral("\n資料庫：共用伺服器 db.office.lan/talvesk\n"))) << r.out.toStdString();
    EXPECT_FALSE(withShare(clearing).err.contains(QStringLiteral("網路共用")));
}

TEST(BatchTool, MapThenImportReceivablesAndPayments)
{
    test::TestApp app;
    const QString receivablesBook = app.path(QStringLiteral("r.xlsx"));
    test::writeXlsx(receivablesBook, QStringLiteral("R"),
                    {{QStringLiteral("h")}, {QStringLiteral("甲"), QStringLiteral("A1"), 1500.0}, {QStringLiteral("乙"), QStringLiteral("A2"), 900.0}});
    BatchRun r = batch(app, {QStringLiteral("map-receivables"), QStringLiteral("a"), QString(), QString(), QStringLiteral("b"), QStringLiteral("c")});
    ASSERT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    r = batch(app, {QStringLiteral("import-receivables"), receivablesBook});
    ASSERT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("import-receivables: 2 written, 0 not processed\n"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("Excel 轉入 Access 資料庫完畢！")));

    const QString paymentsBook = app.path(QStringLiteral("p.xlsx"));
    test::writeXlsx(paymentsBook, QStringLiteral("第二頁"), {{QStringLiteral("h")}, {QStringLiteral("A1"), 1000.0, 1130105.0}, {QStringLiteral("ZZ"), 1.0, 1.0}});
    ASSERT_EQ(batch(app, {QStringLiteral("map-payments"), QStringLiteral("C"), QString(), QStringLiteral("B"), QString(),
                          QStringLiteral("A"), QString()}).code,
              shell::kBatchOk);
    r = batch(app, {QStringLiteral("import-payments"), paymentsBook, QStringLiteral("--sheet"), QStringLiteral("第二頁")});
    ASSERT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("import-payments: 1 written, 1 not processed\n"));
    const auto rows = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].mid(3, 5), (QStringList{QStringLiteral("A1"), QStringLiteral("1500"), QStringLiteral("1130105"),
                                              QStringLiteral("1000"), QStringLiteral("500")}));
}

TEST(BatchTool, BadMappingsAndFailedImportsExitWithOne)
{
    test::TestApp app;
    EXPECT_EQ(batch(app, {QStringLiteral("map-receivables"), QStringLiteral("AB"), QString(), QString(), QString(), QString()}).code,
              shell::kBatchFailed);
    EXPECT_EQ(batch(app, {QStringLiteral("map-receivables"), QStringLiteral("1"), QString(), QString(), QString(), QString()}).code,
              shell::kBatchFailed);
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("ImportSetting")).empty());
    const BatchRun r = batch(app, {QStringLiteral("import-receivables"), app.path(QStringLiteral("missing.xlsx"))});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("import-receivables: failed")));
    EXPECT_EQ(batch(app, {QStringLiteral("import-receivables"), QStringLiteral("f"), QStringLiteral("--sheets"), QStringLiteral("x")}).code,
              shell::kBatchUsage);
}

TEST(BatchTool, TheSameContentsImportedAgainGoOnWithANoteAndAnOldJournalIsUpgradedOnlyByAWrite)
{
    test::TestApp app;
    const QString store = app.path(QStringLiteral("TFM.txt"));
    test::writeFile(store, "1HEAD\r\n212345678\r\n");
    const QString copy = app.path(QStringLiteral("TFM-copy.txt")); // the same bytes under another name
    test::writeFile(copy, "1HEAD\r\n212345678\r\n");
    const auto noted = [](const BatchRun &r) { return r.err.contains(QStringLiteral("note: the same contents were imported on ")); };

    BatchRun first = batch(app, {QStringLiteral("import-store"), store});
    ASSERT_EQ(first.code, shell::kBatchOk);
    EXPECT_FALSE(noted(first));
    BatchRun again = batch(app, {QStringLiteral("import-store"), copy});
    EXPECT_EQ(again.code, shell::kBatchOk);
    EXPECT_TRUE(noted(again)) << again.err.toStdString();
    EXPECT_EQ(again.out, first.out) << "the output lines stay as they are";
    EXPECT_FALSE(noted(batch(app, {QStringLiteral("--dry-run"), QStringLiteral("import-store"), store})));

    // A journal from before the hashes and the rows' changes: reading it finds nothing, lists its
    // entries and writes nothing.
    test::execute(app.folder(), "ALTER TABLE Journal DROP COLUMN file_hash; ALTER TABLE Journal DROP COLUMN changes");
    const QByteArray before = test::readFile(app.folder().databaseFile());
    EXPECT_FALSE(db::importedBefore(app.folder(), store));
    const BatchRun history = batch(app, {QStringLiteral("history")});
    EXPECT_EQ(history.code, shell::kBatchOk);
    EXPECT_EQ(history.out.count(u'\n'), 2) << history.err.toStdString();
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
    // The next import adds the column; the one after it is noticed again.
    EXPECT_FALSE(noted(batch(app, {QStringLiteral("import-store"), store})));
    EXPECT_TRUE(noted(batch(app, {QStringLiteral("import-store"), store})));
    // Contents whose import was undone are not "already imported".
    {
        platform::Database db = db::openDatabase(app.folder());
        db.execute("UPDATE Journal SET state = 'undone' WHERE file_hash IS NOT NULL");
    }
    EXPECT_FALSE(noted(batch(app, {QStringLiteral("import-store"), store})));
}

TEST(BatchTool, ImportBankAndStoreFilesPointAtTheLog)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("1500"));
    const QString bank = app.path(QStringLiteral("bank.txt"));
    test::writeFile(bank, (test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000001000"), QStringLiteral("A1")) + QStringLiteral("\r\n")
                           + test::bankLine(QStringLiteral("1130105"), QStringLiteral("1"), QStringLiteral("NOPE")))
                              .toUtf8()
                              .prepend("\xEF\xBB\xBF"));
    BatchRun r = batch(app, {QStringLiteral("import-bank"), bank});
    EXPECT_EQ(r.code, shell::kBatchOk);
    EXPECT_EQ(r.out, QStringLiteral("import-bank: 1 applied, 1 abnormal; see ") + app.folder().errorLogFile() + u'\n');
    EXPECT_TRUE(r.err.contains(QStringLiteral("ErrLog.Txt")));

    const QString store = app.path(QStringLiteral("TFM.txt"));
    test::writeFile(store, "1HEAD\r\n212345678\r\n");
    r = batch(app, {QStringLiteral("import-store"), store});
    EXPECT_EQ(r.code, shell::kBatchOk);
    EXPECT_EQ(r.out, QStringLiteral("import-store: 1 applied, 0 abnormal\n"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("讀入檔案完成!")));

    r = batch(app, {QStringLiteral("import-store"), app.path(QStringLiteral("gone.txt"))});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("找不到檔案!")));
}

TEST(BatchTool, ExportAndClear)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("0012345678901234"), QStringLiteral("1500"));
    const QString out = app.path(QStringLiteral("results.xlsx"));
    BatchRun r = batch(app, {QStringLiteral("export-results"), out});
    EXPECT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("export-results: 1 rows to ") + out + u'\n');
    EXPECT_EQ(workbook::Workbook::open(out)->worksheet(QStringLiteral("銷帳結果"))->cell(2, u"D").text, QStringLiteral("0012345678901234"));
    EXPECT_EQ(batch(app, {QStringLiteral("export-store"), app.path(QStringLiteral("store.txt"))}).code, shell::kBatchUsage);
    EXPECT_EQ(batch(app, {QStringLiteral("export-store"), app.path(QStringLiteral("none/s.xlsx"))}).code, shell::kBatchFailed);

    r = batch(app, {QStringLiteral("clear-receivables")});
    EXPECT_EQ(r.code, shell::kBatchOk);
    EXPECT_TRUE(r.err.contains(QStringLiteral("清除資料完成!")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("BeforeClearReceivables.mdb")));
    EXPECT_EQ(r.out, QStringLiteral("clear-receivables: F_AccountData emptied\n"));
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).empty());
    EXPECT_EQ(batch(app, {QStringLiteral("clear-store")}).code, shell::kBatchOk);
}

TEST(BatchTool, BackupAndRestoreBySlot)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("SAVED"), QStringLiteral("1"));
    const QString drive = app.path(QStringLiteral("drive"));
    QDir().mkpath(drive);
    BatchRun r = batch(app, {QStringLiteral("backup"), drive, QStringLiteral("--slot"), QStringLiteral("4")});
    EXPECT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    EXPECT_TRUE(platform::fileExists(drive + QStringLiteral("/Vellaroke.m04")));
    EXPECT_EQ(batch(app, {QStringLiteral("backup"), drive}).code, shell::kBatchOk);
    EXPECT_TRUE(platform::fileExists(drive + QStringLiteral("/Vellaroke.bak")));

    db::clearTable(app.folder(), QStringLiteral("F_AccountData"));
    r = batch(app, {QStringLiteral("restore"), drive, QStringLiteral("--slot"), QStringLiteral("4")});
    EXPECT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("restore: from ") + drive + QStringLiteral("/Vellaroke.m04\n"));
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("回復作業完成!\n")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("BeforeRestore.mdb"))) << r.err.toStdString();
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 1u);

    EXPECT_EQ(batch(app, {QStringLiteral("restore"), drive}).code, shell::kBatchUsage);
    EXPECT_EQ(batch(app, {QStringLiteral("restore"), drive, QStringLiteral("--slot"), QStringLiteral("7")}).code, shell::kBatchUsage);
    r = batch(app, {QStringLiteral("restore"), drive, QStringLiteral("--slot"), QStringLiteral("5")});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("錯誤代碼 53：")));
}

// (Windows has no file-size limit of a process, nor /dev/full.)
#ifndef _WIN32
// A scheduled job under a file-size limit: the program's own message and exit 1, not a death by
// signal. The program is run for real, with the signal at its default as a job would inherit it.
TEST(BatchTool, AFileSizeLimitIsAnOrdinaryWriteErrorWithAMessage)
{
    test::TestApp app;
    {
        platform::Database db = db::openDatabase(app.folder());
        platform::Transaction t(db);
        auto insert = db.prepare("INSERT INTO F_AccountData (UserName, Bankcode, Total) VALUES (?1, ?2, '100')");
        for (int i = 0; i < 2000; ++i) {
            insert.bind(1, QString(100, u'名')).bind(2, QString::number(i)).run();
            insert.reset();
        }
        t.commit();
    }
    const QString drive = app.path(QStringLiteral("drive"));
    QDir().mkpath(drive);
    const QList<QStringList> commands{{QStringLiteral("export-results"), app.path(QStringLiteral("out.xlsx"))},
                                      {QStringLiteral("backup"), drive, QStringLiteral("--slot"), QStringLiteral("1")}};
    for (const QStringList &command : commands) {
        QProcess job;
        job.setChildProcessModifier([] {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit limit{64 * 1024, 64 * 1024};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        job.start(QStringLiteral(TALVESK_BATCH_PROGRAM), QStringList{QStringLiteral("--app-dir"), app.folder().root()} + command);
        ASSERT_TRUE(job.waitForFinished(60000)) << command.join(u' ').toStdString();
        const QString err = QString::fromUtf8(job.readAllStandardError());
        EXPECT_EQ(job.exitStatus(), QProcess::NormalExit) << command.join(u' ').toStdString();
        EXPECT_EQ(job.exitCode(), shell::kBatchFailed) << err.toStdString();
        EXPECT_TRUE(err.startsWith(QStringLiteral("錯誤代碼 57："))) << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("檔案超過允許的大小"))) << err.toStdString();
    }
    EXPECT_FALSE(platform::fileExists(app.path(QStringLiteral("out.xlsx"))));
    EXPECT_TRUE(QDir(drive).isEmpty());

    // Lines for standard output that cannot all be written (a full disk, a file-size limit) fail
    // the command with the cause, instead of a job reading a part of them as the whole.
    ASSERT_EQ(batch(app, {QStringLiteral("clear-store")}).code, shell::kBatchOk);
    const QString listed = app.path(QStringLiteral("listed.txt"));
    for (const QStringList &command : QList<QStringList>{{QStringLiteral("find")}, {QStringLiteral("history")}}) {
        for (const bool limited : {false, true}) {
            QProcess job;
            if (limited)
                job.setChildProcessModifier([] {
                    rlimit limit{16 * 1024, 16 * 1024};
                    setrlimit(RLIMIT_FSIZE, &limit);
                });
            job.setStandardOutputFile(limited ? listed : QStringLiteral("/dev/full"));
            job.start(QStringLiteral(TALVESK_BATCH_PROGRAM), QStringList{QStringLiteral("--app-dir"), app.folder().root()} + command);
            ASSERT_TRUE(job.waitForFinished(60000));
            const QString err = QString::fromUtf8(job.readAllStandardError());
            if (limited && command.front() == QStringLiteral("history")) {
                EXPECT_EQ(job.exitCode(), shell::kBatchOk) << "one short line fits: " << err.toStdString();
                continue;
            }
            EXPECT_EQ(job.exitCode(), shell::kBatchFailed) << command.front().toStdString() << limited;
            EXPECT_TRUE(err.contains(QStringLiteral("無法寫出結果到標準輸出"))) << err.toStdString();
        }
    }
}
#endif

namespace {

// A dry run of `args`, then the real run: the dry run leaves the database file and ErrLog.txt as
// they were, prints the real run's summary line under "dry run: ", exits as it does, and its new
// and updated counts are what the real run then does to `table`.
void expectDryRunForetellsTheRealRun(const test::TestApp &app, const QStringList &args, const QString &table)
{
    const QString database = app.folder().databaseFile();
    const QByteArray before = test::readFile(database);
    const QByteArray log = "an earlier run's log\r\n";
    test::writeFile(app.folder().errorLogFile(), log);
    const auto rowsBefore = test::tableRows(app.folder(), table);

    const BatchRun dry = batch(app, QStringList(args) << QStringLiteral("--dry-run"));
    EXPECT_EQ(test::readFile(database), before) << args.join(u' ').toStdString();
    EXPECT_EQ(test::readFile(app.folder().errorLogFile()), log);
    // One summary line on standard output, as the real run; what would be new or updated is told
    // on standard error.
    const QStringList dryLines = dry.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(dryLines.size(), 1) << dry.out.toStdString();
    const QStringList told = dry.err.split(u'\n', Qt::SkipEmptyParts).filter(QStringLiteral(" new, "));
    ASSERT_EQ(told.size(), 1) << dry.err.toStdString();
    const QString changes = told.front();

    const BatchRun real = batch(app, args);
    EXPECT_EQ(dry.code, real.code);
    QString realLine = real.out.trimmed();
    realLine = realLine.left(realLine.indexOf(QStringLiteral("; see "))); // the log is the real run's alone
    EXPECT_EQ(dryLines.at(0), QStringLiteral("dry run: ") + realLine);

    // What changed: rows added, and rows already there that now hold other values.
    const auto rowsAfter = test::tableRows(app.folder(), table);
    const qint64 added = static_cast<qint64>(rowsAfter.size() - rowsBefore.size());
    qint64 changed = 0;
    for (std::size_t i = 0; i < rowsBefore.size(); ++i)
        changed += rowsBefore[i] != rowsAfter[i];
    const auto parts = changes.split(u' ');
    ASSERT_EQ(parts.size(), 6) << changes.toStdString();
    EXPECT_EQ(parts.at(2).toLongLong(), added) << changes.toStdString();
    // A row updated twice, or updated to the values it had, is counted by each update.
    EXPECT_GE(parts.at(4).toLongLong(), changed) << changes.toStdString();
}

} // namespace

TEST(BatchToolDryRun, EachImportForetellsItsRealRunAndChangesNothing)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("1500"), QStringLiteral("舊名"));
    ASSERT_EQ(batch(app, {QStringLiteral("map-receivables"), QStringLiteral("A"), QString(), QString(), QStringLiteral("B"),
                          QStringLiteral("C")}).code,
              shell::kBatchOk);
    const QString receivables = app.path(QStringLiteral("r.xlsx"));
    // A1 is known; A2 is new and comes twice, so its second row updates the first.
    test::writeXlsx(receivables, QStringLiteral("R"),
                    {{QStringLiteral("h")}, {QStringLiteral("甲"), QStringLiteral("A1"), 1500.0},
                     {QStringLiteral("乙"), QStringLiteral("A2"), 900.0}, {QStringLiteral("丙"), QStringLiteral("A2"), 800.0},
                     {QStringLiteral("總計")}});
    expectDryRunForetellsTheRealRun(app, {QStringLiteral("import-receivables"), receivables}, QStringLiteral("F_AccountData"));
    EXPECT_EQ(batch(app, {QStringLiteral("import-receivables"), QStringLiteral("--dry-run"), receivables}).out,
              QStringLiteral("dry run: import-receivables: 3 written, 1 not processed\n"));

    ASSERT_EQ(batch(app, {QStringLiteral("map-payments"), QStringLiteral("C"), QString(), QStringLiteral("B"), QString(),
                          QStringLiteral("A"), QString()}).code,
              shell::kBatchOk);
    const QString payments = app.path(QStringLiteral("p.xlsx"));
    test::writeXlsx(payments, QStringLiteral("P"),
                    {{QStringLiteral("h")}, {QStringLiteral("A1"), 1000.0, 1130105.0}, {QStringLiteral("ZZ"), 1.0, 1.0}});
    expectDryRunForetellsTheRealRun(app, {QStringLiteral("import-payments"), payments}, QStringLiteral("F_AccountData"));

    const QString bank = app.path(QStringLiteral("bank.txt"));
    test::writeFile(bank, platform::codec950::encode(QString(
                              test::bankLine(QStringLiteral("1130106"), QStringLiteral("00000000900"), QStringLiteral("A2"))
                              + QStringLiteral("\r\n") + test::bankLine(QStringLiteral("1130106"), QStringLiteral("1"), QStringLiteral("NOPE")))));
    expectDryRunForetellsTheRealRun(app, {QStringLiteral("import-bank"), bank}, QStringLiteral("F_AccountData"));

    const QString store = app.path(QStringLiteral("TFM.txt"));
    auto line = [](const QString &barcode2, const QString &amount) {
        return test::storeLine(QStringLiteral("C1"), QStringLiteral("R1"), QStringLiteral("S1"), QStringLiteral("20240105"),
                               QStringLiteral("20240104"), QStringLiteral("B1"), barcode2, QStringLiteral("000000") + amount);
    };
    test::writeFile(store, platform::codec950::encode(QString(line(QStringLiteral("K1"), QStringLiteral("000001500")) + QStringLiteral("\r\n")
                                                      + line(QStringLiteral("K2"), QStringLiteral("000000200")) + QStringLiteral("\r\n")
                                                      + line(QStringLiteral("K1"), QStringLiteral("000001600")) + QStringLiteral("\r\n"))));
    expectDryRunForetellsTheRealRun(app, {QStringLiteral("import-store"), store}, QStringLiteral("SMdata"));
    // The second reading changes nothing new: every record updates.
    EXPECT_EQ(batch(app, {QStringLiteral("import-store"), store, QStringLiteral("--dry-run")}).out,
              QStringLiteral("dry run: import-store: 3 applied, 0 abnormal\n"));
}

TEST(BatchToolDryRun, ARefusedImportExitsWithOneAndOtherCommandsTakeNoDryRun)
{
    test::TestApp app;
    const QByteArray before = test::readFile(app.folder().databaseFile());
    const QString book = app.path(QStringLiteral("r.xlsx"));
    test::writeXlsx(book, QStringLiteral("R"), {{QStringLiteral("h")}, {QStringLiteral("甲")}});
    const BatchRun r = batch(app, {QStringLiteral("import-receivables"), book, QStringLiteral("--dry-run")});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_EQ(r.out, QStringLiteral("dry run: import-receivables: failed after 0 written, 0 not processed\n"));
    EXPECT_EQ(batch(app, {QStringLiteral("import-receivables"), book}).code, shell::kBatchFailed);
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
    EXPECT_EQ(batch(app, {QStringLiteral("compact"), QStringLiteral("--dry-run")}).code, shell::kBatchUsage);
    EXPECT_EQ(batch(app, {QStringLiteral("clear-store"), QStringLiteral("--dry-run")}).code, shell::kBatchUsage);
}
