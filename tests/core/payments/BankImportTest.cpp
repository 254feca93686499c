#include "payments/BankImport.h"
#include "store/StoreImport.h"
#include "platform/Codec950.h"
#include "db/BatchedChanges.h"
#include "db/Connection.h"
#include "db/Journal.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/TextFiles.h"

#include <QDir>
#include <QFile>

#include <chrono>
#include <future>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

using namespace talvesk;
using test::bankLine;

namespace {

QStringList paid(const test::TestApp &app, const QString &account)
{
    for (const auto &row : test::tableRows(app.folder(), QStringLiteral("F_AccountData"))) {
        if (row.at(3) == account)
            return row.mid(5, 3);
    }
    return {};
}

QByteArray big5(const QString &text)
{
    return platform::codec950::encode(text);
}

} // namespace

TEST(BankImport, AppliesRecordsAndReportsWhatItCouldNotUse)
{
    test::TestApp app;
    for (const char *account : {"95120001", "95120002", "95120003"})
        test::addReceivable(app.folder(), QString::fromLatin1(account), QStringLiteral("1500"));
    test::writeFile(app.folder().errorLogFile(), "left over");

    // A user-defined character (造字) stands in the free text of one record: one position.
    const QString userDefined = platform::codec950::decode(QByteArray("\xFA\x40", 2));
    QByteArray file;
    file += big5(QStringLiteral("HEADER 銀行入帳明細 2024/01/05")) + "\r\n";                                    // 1 unmatched
    file += big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000001500"), QStringLiteral("95120001"))) + "\r\n"; // 2
    file += big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000001000"), QStringLiteral("95120002"),
                          QStringLiteral("王") + userDefined + QStringLiteral("明"))) + "\r";                          // 3, bare CR
    file += "\r\n";                                                                                                   // 4 blank
    file += big5(bankLine(QStringLiteral("1130106"), QStringLiteral("00000002000"), QStringLiteral("95120002"))) + "\r\n"; // 5 again
    file += big5(bankLine(QStringLiteral("1130106"), QStringLiteral("0000001500A"), QStringLiteral("95120003"))) + "\r\n"; // 6 letters
    file += QByteArray("00012345678\x81\x20", 13) + "\r\n";                                                          // 7 not Big5
    file += big5(bankLine(QStringLiteral("1130107"), QStringLiteral("00000000100"), QStringLiteral("99999999"))) + "\r\n"; // 8 unknown
    file += big5(QStringLiteral("short line")) + "\r\n";                                                             // 9 unmatched
    file += big5(QStringLiteral("TRAILER 00003"));                                                                   // 10, no line end
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file);

    std::vector<textimport::TextImportCounts> seen;
    textimport::TextImportObserver observer;
    observer.lineDone = [&](const textimport::TextImportCounts &c) { seen.push_back(c); };
    const auto counts = payments::BankImport(app.folder()).run(path, observer);

    EXPECT_EQ(seen.size(), 10u) << "every line, blank ones too";
    EXPECT_EQ(counts.applied, 3);
    EXPECT_EQ(counts.abnormal, 6);
    EXPECT_TRUE(counts.logWritten);
    EXPECT_EQ(paid(app, QStringLiteral("95120001")), (QStringList{QStringLiteral("1130105"), QStringLiteral("1500"), QStringLiteral("0")}));
    EXPECT_EQ(paid(app, QStringLiteral("95120002")), (QStringList{QStringLiteral("1130106"), QStringLiteral("2000"), QStringLiteral("-500")}))
        << "the second record for an account is what remains";
    EXPECT_EQ(paid(app, QStringLiteral("95120003")), (QStringList{QString(), QString(), QString()})) << "an amount with letters is not applied";

    const QString log = platform::codec950::decode(test::readFile(app.folder().errorLogFile()));
    const QStringList lines = log.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 7) << log.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("第 1 行: 沒有此虛擬帳號的應收帳款: HEADER")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("第 6 行: 金額欄位不是數字")));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("第 7 行: 無法以 Big5 解碼"))) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("第 8 行")));
    EXPECT_TRUE(lines[4].startsWith(QStringLiteral("第 9 行")));
    EXPECT_TRUE(lines[5].startsWith(QStringLiteral("第 10 行")));
    EXPECT_TRUE(lines[6].isEmpty());

    // Read again: the first account is left as it is; the second is paid twice again, each time
    // changing what an earlier payment wrote.
    const auto again = payments::BankImport(app.folder()).run(path, {});
    EXPECT_EQ(again.applied, 3);
    EXPECT_EQ(again.unchanged, 1);
    EXPECT_EQ(again.paidChanged, 2);
    EXPECT_EQ(again.changes(), QStringLiteral("0 new, 2 updated, 1 unchanged"));
}

TEST(BankImport, ABlankLineAppliesOnlyToAReceivableWithoutAnAccountAndSaysNothing)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QString(), QStringLiteral("300"));
    const QString path = app.path(QStringLiteral("blank.txt"));
    test::writeFile(path, "   \r\n\r\n");
    const auto counts = payments::BankImport(app.folder()).run(path, {});
    EXPECT_EQ(counts.applied, 2);
    EXPECT_EQ(counts.abnormal, 0);
    EXPECT_FALSE(platform::fileExists(app.folder().errorLogFile()));
    EXPECT_EQ(paid(app, QString()), (QStringList{QString(), QString(), QStringLiteral("300")}));
}

TEST(BankImport, AMissingFileFailsWith53AfterTheOldLogIsGone)
{
    test::TestApp app;
    test::writeFile(app.folder().errorLogFile(), "left over");
    try {
        payments::BankImport(app.folder()).run(app.path(QStringLiteral("gone.txt")), {});
        FAIL();
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::FileNotFound);
    }
    EXPECT_FALSE(platform::fileExists(app.folder().errorLogFile()));
}

TEST(BankImport, AnEmptyFileAndAUtf8FileWithAByteOrderMark)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("10"));
    test::writeFile(app.path(QStringLiteral("empty.txt")), QByteArray());
    const auto none = payments::BankImport(app.folder()).run(app.path(QStringLiteral("empty.txt")), {});
    EXPECT_EQ(none.applied + none.abnormal, 0);

    test::writeFile(app.path(QStringLiteral("utf8.txt")),
                    "\xEF\xBB\xBF" + bankLine(QStringLiteral("1130105"), QStringLiteral("4"), QStringLiteral("A1"), QStringLiteral("王小明")).toUtf8());
    EXPECT_EQ(payments::BankImport(app.folder()).run(app.path(QStringLiteral("utf8.txt")), {}).applied, 1);
    EXPECT_EQ(paid(app, QStringLiteral("A1")), (QStringList{QStringLiteral("1130105"), QStringLiteral("4"), QStringLiteral("6")}));
}

TEST(FixedAmounts, DigitsLoseTheirLeadingZerosAndOtherTextStays)
{
    EXPECT_EQ(textimport::fixedAmountText(QStringLiteral("00000001500")), QStringLiteral("1500"));
    EXPECT_EQ(textimport::fixedAmountText(QStringLiteral("00000000000")), QStringLiteral("0"));
    EXPECT_EQ(textimport::fixedAmountText(QStringLiteral("   1500    ")), QStringLiteral("1500"));
    EXPECT_EQ(textimport::fixedAmountText(QStringLiteral("  ")), QString());
    EXPECT_EQ(textimport::fixedAmountText(QStringLiteral("1 500")), QStringLiteral("1 500"));
    EXPECT_TRUE(textimport::isDigitsAndBlanks(QStringLiteral(" 1 5 ")));
    EXPECT_TRUE(textimport::isDigitsAndBlanks(QString()));
    EXPECT_FALSE(textimport::isDigitsAndBlanks(QStringLiteral("15.0")));
    EXPECT_FALSE(textimport::isDigitsAndBlanks(QStringLiteral("-15")));
}

TEST(BankImport, ARecordTheDatabaseRefusesStopsTheRunAndWhatCameBeforeStays)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("100"));
    test::addReceivable(app.folder(), QStringLiteral("A2"), QStringLiteral("100"));
    test::execute(app.folder(), "CREATE TRIGGER refuse BEFORE UPDATE ON F_AccountData WHEN NEW.PayTotal = '666' "
                                "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    const QString path = app.path(QStringLiteral("refused.txt"));
    test::writeFile(path, (QStringList{bankLine(QStringLiteral("1130105"), QStringLiteral("00000000010"), QStringLiteral("A1")),
                                       bankLine(QStringLiteral("1130105"), QStringLiteral("ABC"), QStringLiteral("A1")),
                                       bankLine(QStringLiteral("1130105"), QStringLiteral("00000000666"), QStringLiteral("A2")),
                                       bankLine(QStringLiteral("1130105"), QStringLiteral("00000000020"), QStringLiteral("A1"))})
                              .join(QStringLiteral("\r\n"))
                              .toLatin1());
    EXPECT_THROW(payments::BankImport(app.folder()).run(path, {}), platform::Error);
    EXPECT_EQ(paid(app, QStringLiteral("A1")), (QStringList{QStringLiteral("1130105"), QStringLiteral("10"), QStringLiteral("90")}));
    EXPECT_EQ(paid(app, QStringLiteral("A2")), (QStringList{QString(), QString(), QString()}));
    EXPECT_TRUE(platform::codec950::decode(test::readFile(app.folder().errorLogFile())).startsWith(QStringLiteral("第 2 行")))
        << "the lines found abnormal before the failure are still in the log";
}

TEST(BankImport, OneUndecodableLineSpoilsNoOtherLine)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("95120001"), QStringLiteral("1,500"));
    test::addReceivable(app.folder(), QStringLiteral("95120002"), QStringLiteral("1500"));
    QByteArray file;
    file += QByteArray("00012345678\x81\x20", 13) + "\r\n";
    file += big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000001500"), QStringLiteral("95120001"),
                          QStringLiteral("王小明 銀行入帳"))) + "\r\n";
    file += big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000001000"), QStringLiteral("95120002"),
                          QStringLiteral("陳大文 銀行入帳"))) + "\r\n";
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file);
    const auto counts = payments::BankImport(app.folder()).run(path, {});
    EXPECT_EQ(counts.applied, 2);
    EXPECT_EQ(counts.abnormal, 1);
    EXPECT_EQ(paid(app, QStringLiteral("95120001")).at(2), QStringLiteral("0")) << "a Total written 1,500 counts in full";
    EXPECT_EQ(paid(app, QStringLiteral("95120002")).at(2), QStringLiteral("500"));
}

TEST(BankImport, AReceivableWhoseAmountHoldsNoValueStopsTheRun)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("95120001"), QStringLiteral("100"));
    test::execute(app.folder(), "INSERT INTO F_AccountData (Bankcode, Total) VALUES ('95120002', NULL)");
    QByteArray file;
    file += big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000040"), QStringLiteral("95120001"))) + "\r\n";
    file += big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000040"), QStringLiteral("95120002"))) + "\r\n";
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file);
    textimport::TextImportCounts stopped{-1, -1};
    textimport::TextImportObserver observer;
    observer.stopped = [&](const textimport::TextImportCounts &c) { stopped = c; };
    try {
        payments::BankImport(app.folder()).run(path, observer);
        FAIL() << "the run computed with a Total that holds no value";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::InvalidUseOfNull);
    }
    EXPECT_EQ(stopped.applied, 1);
    EXPECT_EQ(paid(app, QStringLiteral("95120001")).at(2), QStringLiteral("60"));
}

TEST(TextImports, ACommitAnotherProgramBlocksIsAFailureWithNothingClaimed)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("95120001"), QStringLiteral("100"));
    const QString bank = app.path(QStringLiteral("bank.txt"));
    test::writeFile(bank, big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000040"), QStringLiteral("95120001"))));
    const QString store = app.path(QStringLiteral("TFM1.txt"));
    test::writeFile(store, big5(test::storeLine(QStringLiteral("C"), QStringLiteral("R"), QStringLiteral("S"), QStringLiteral("20240105"),
                                                QStringLiteral("20240104"), QStringLiteral("B1"), QStringLiteral("B2"),
                                                QStringLiteral("000000000001500"))));
    payments::BankImport bankImport(app.folder());
    store::StoreImport storeImport(app.folder());
    for (textimport::TextImport *import : std::initializer_list<textimport::TextImport *>{&bankImport, &storeImport}) {
        textimport::TextImportCounts shown{-1, -1};
        textimport::TextImportObserver observer;
        observer.lineDone = [&](const textimport::TextImportCounts &c) { shown = c; };
        observer.stopped = [&](const textimport::TextImportCounts &c) { shown = c; };
        {
            test::ReaderHoldingTheDatabase reader(app.folder());
            EXPECT_THROW(import->run(import == &bankImport ? bank : store, observer), platform::Error);
        }
        EXPECT_EQ(shown.applied, 0);
    }
    EXPECT_EQ(paid(app, QStringLiteral("95120001")).at(2), QString());
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("SMdata")).empty());
}

TEST(BankImport, ALineHoldingANulCharacterIsAbnormalAndLoggedInHex)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("95120001"), QStringLiteral("100"));
    QByteArray line = big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000040"), QStringLiteral("95120001")));
    line[3] = '\0';
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, line + "\r\n");
    const auto counts = payments::BankImport(app.folder()).run(path, {});
    EXPECT_EQ(counts.applied, 0);
    EXPECT_EQ(counts.abnormal, 1);
    const QByteArray log = test::readFile(app.folder().errorLogFile());
    EXPECT_FALSE(log.contains('\0'));
    EXPECT_TRUE(platform::codec950::decode(log).contains(QStringLiteral("NUL"))) << log.constData();
}

TEST(BankPreview, ShowsEachRecordAsWrittenWithItsOutstandingAmountAndLeavesTheLogAlone)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("1,500"));
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, platform::codec950::encode(QString(bankLine(QStringLiteral("1130105"), QStringLiteral("00000001000"), QStringLiteral("A1"))
                                                             + QStringLiteral("\r\n\r\n")
                                                             + bankLine(QStringLiteral("1130105"), QStringLiteral("7"), QStringLiteral("NOPE")))));
    test::writeFile(app.folder().errorLogFile(), "old");
    const auto preview = textimport::previewLines(payments::BankImport(app.folder()), path);
    EXPECT_EQ(preview.fields, (QStringList{QStringLiteral("虛擬帳號"), QStringLiteral("入帳日期"), QStringLiteral("入帳金額"),
                                           QStringLiteral("未入帳金額")}));
    ASSERT_EQ(preview.lines.size(), 2u); // the blank line is silent
    EXPECT_EQ(preview.lines[0].values, (QStringList{QStringLiteral("A1"), QStringLiteral("1130105"), QStringLiteral("1000"),
                                                    QStringLiteral("500")}));
    EXPECT_EQ(preview.lines[0].outcome, db::kUpdatedRow);
    EXPECT_EQ(preview.lines[1].row, 3);
    EXPECT_EQ(preview.lines[1].outcome, QStringLiteral("沒有此虛擬帳號的應收帳款"));
    EXPECT_EQ(test::readFile(app.folder().errorLogFile()), "old");
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData"))[0].at(5), QString());
}

// The log is written as the lines are found, under a scratch name that gives way to ErrLog.txt
// at the end: every line is in it, in order, and nothing of the scratch file stays.
TEST(BankImport, ALongLogKeepsEveryLineAndLeavesNoScratchFile)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("95120001"), QStringLiteral("1500"));
    QByteArray file;
    for (int i = 1; i <= 3000; ++i)
        file += big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000100"), QStringLiteral("9%1").arg(i))) + "\r\n";
    file += big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000001500"), QStringLiteral("95120001"))) + "\r\n";
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file);

    const auto counts = payments::BankImport(app.folder()).run(path, {});
    EXPECT_EQ(counts.applied, 1);
    EXPECT_EQ(counts.abnormal, 3000);
    EXPECT_TRUE(counts.logWritten);
    const QStringList lines = platform::codec950::decode(test::readFile(app.folder().errorLogFile())).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 3001);
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("第 1 行: 沒有此虛擬帳號的應收帳款: "))) << lines.first().toStdString();
    EXPECT_TRUE(lines.at(2999).startsWith(QStringLiteral("第 3000 行: "))) << lines.at(2999).toStdString();
    EXPECT_TRUE(lines.at(2999).contains(QStringLiteral("93000"))) << "each line as it was read";
    EXPECT_FALSE(QFile::exists(app.folder().errorLogFile() + QStringLiteral(".partial")));
}

// A log that cannot be written fails the run, as it always did, after every record is applied:
// it is reported, not taken for a reason to leave payments out.
TEST(BankImport, ALogThatCannotBeWrittenFailsTheRunAfterEveryRecordIsApplied)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("95120001"), QStringLiteral("1500"));
    // A folder (with a file in it) where the scratch file would go.
    const QString blocked = app.folder().errorLogFile() + QStringLiteral(".partial");
    ASSERT_TRUE(QDir().mkpath(blocked));
    test::writeFile(blocked + QStringLiteral("/keep"), "x");
    QByteArray file;
    file += big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000100"), QStringLiteral("99999999"))) + "\r\n";
    file += big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000001000"), QStringLiteral("95120001"))) + "\r\n";
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file);

    EXPECT_THROW(payments::BankImport(app.folder()).run(path, {}), platform::Error);
    EXPECT_EQ(paid(app, QStringLiteral("95120001")), (QStringList{QStringLiteral("1130105"), QStringLiteral("1000"), QStringLiteral("500")}));
    EXPECT_FALSE(platform::fileExists(app.folder().errorLogFile()));
}

TEST(BankImport, ADryRunLetsAnotherProgramWriteWhileItCountsAndForetellsTheRealRun)
{
    test::TestApp app;
    constexpr int kAccounts = 3000;
    {
        platform::Database db = db::openDatabase(app.folder());
        platform::Transaction transaction(db);
        auto insert = db.prepare("INSERT INTO F_AccountData (Bankcode, Total) VALUES (?1, '1500')");
        for (int i = 0; i < kAccounts; ++i) {
            insert.bind(1, QStringLiteral("B%1").arg(i));
            insert.run();
            insert.reset();
        }
        transaction.commit();
    }
    // Every account paid, one of them a second time (its outstanding amount from its Total
    // again), and one account that no receivable has.
    QString lines;
    for (int i = 0; i < kAccounts; ++i)
        lines += bankLine(QStringLiteral("1130105"), QStringLiteral("00000000%1").arg(100 + i % 900), QStringLiteral("B%1").arg(i))
            + QStringLiteral("\r\n");
    lines += bankLine(QStringLiteral("1130106"), QStringLiteral("00000000700"), QStringLiteral("B7")) + QStringLiteral("\r\n");
    lines += bankLine(QStringLiteral("1130106"), QStringLiteral("00000000001"), QStringLiteral("NOPE")) + QStringLiteral("\r\n");
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, big5(lines));
    test::writeFile(app.folder().errorLogFile(), "an earlier run's log");

    // The dry run stops halfway through the file while another program writes, and waits for it.
    std::promise<void> halfway, written;
    std::future<void> resume = written.get_future();
    std::vector<db::ShownRow> dryShown;
    textimport::TextImportObserver dryObserver;
    dryObserver.lineShown = [&](const db::ShownRow &line) { dryShown.push_back(line); };
    int linesDone = 0;
    dryObserver.lineDone = [&](const textimport::TextImportCounts &) {
        if (++linesDone == kAccounts / 2) {
            halfway.set_value();
            resume.wait();
        }
    };
    std::optional<textimport::TextImportCounts> dryCounts;
    std::thread dryRun([&] { dryCounts = payments::BankImport(app.folder(), db::Changes::DryRun).run(path, dryObserver); });
    const bool reached = halfway.get_future().wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    QByteArray afterWrite;
    if (reached) {
        try {
            platform::Database other = platform::Database::open(app.folder().databaseFile());
            platform::Transaction transaction(other);
            other.execute("INSERT INTO F_AccountData (Bankcode, Total) VALUES ('OTHER', '1')");
            transaction.commit();
        } catch (const platform::Error &e) {
            ADD_FAILURE() << "the other program's write failed: " << e.description().toStdString();
        }
        afterWrite = test::readFile(app.folder().databaseFile());
    }
    written.set_value();
    dryRun.join();
    ASSERT_TRUE(reached);
    ASSERT_TRUE(dryCounts);
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), afterWrite);
    EXPECT_EQ(test::readFile(app.folder().errorLogFile()), "an earlier run's log");
    EXPECT_EQ(paid(app, QStringLiteral("B7")), QStringList({QString(), QString(), QString()}));

    std::vector<db::ShownRow> realShown;
    textimport::TextImportObserver realObserver;
    realObserver.lineShown = [&](const db::ShownRow &line) { realShown.push_back(line); };
    const auto real = payments::BankImport(app.folder()).run(path, realObserver);
    EXPECT_EQ(dryCounts->applied, kAccounts + 1);
    EXPECT_EQ(dryCounts->summary(), real.summary());
    EXPECT_EQ(dryCounts->updated, real.updated);
    EXPECT_EQ(dryCounts->inserted, real.inserted);
    ASSERT_EQ(dryShown.size(), realShown.size());
    for (std::size_t i = 0; i < realShown.size(); ++i) {
        EXPECT_EQ(dryShown[i].values, realShown[i].values) << i;
        EXPECT_EQ(dryShown[i].outcome, realShown[i].outcome) << i;
    }
    EXPECT_EQ(paid(app, QStringLiteral("B7")), QStringList({QStringLiteral("1130106"), QStringLiteral("700"), QStringLiteral("800")}));
}

// A line past any record is abnormal in both text imports and read past; what ErrLog.txt and the
// journal keep of any unusable line is bounded: its first bytes and its length.
TEST(TextImports, ALineBeyondAnyRecordIsAbnormalAndEveryLoggedLineIsBounded)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("95120001"), QStringLiteral("100"));
    const QByteArray bank = big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000040"), QStringLiteral("95120001")));
    const QByteArray store = big5(test::storeLine(QStringLiteral("C"), QStringLiteral("R"), QStringLiteral("S"), QStringLiteral("20240105"),
                                                  QStringLiteral("20240104"), QStringLiteral("B1"), QStringLiteral("B2"),
                                                  QStringLiteral("000000000001500")));
    // Past the bound, any first byte; within it, NUL bytes that hex would show three times as long,
    // and text longer than a problem line keeps.
    const QByteArray lines = QByteArray(300000, '\0') + "\r\n" + "2" + QByteArray(60000, '\0') + "\r\n" + "2" + QByteArray(3000, 'w') + "\r\n";
    payments::BankImport bankImport(app.folder());
    store::StoreImport storeImport(app.folder());
    for (textimport::TextImport *import : std::initializer_list<textimport::TextImport *>{&bankImport, &storeImport}) {
        SCOPED_TRACE(import == &bankImport ? "bank" : "store");
        const QString path = app.path(QStringLiteral("long.txt"));
        test::writeFile(path, lines + (import == &bankImport ? bank : store) + "\r\n");
        const auto counts = import->run(path, {});
        EXPECT_EQ(counts.applied, 1);
        EXPECT_EQ(counts.abnormal, 3);
        const QStringList log = platform::codec950::decode(test::readFile(app.folder().errorLogFile())).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        ASSERT_EQ(log.size(), 3);
        EXPECT_TRUE(log.at(0).startsWith(QStringLiteral("第 1 行: 一行超過 65536 位元組的上限: (00 00 "))) << log.at(0).toStdString();
        EXPECT_TRUE(log.at(0).endsWith(QStringLiteral(" 00)…（共 300000 位元組）"))) << log.at(0).toStdString();
        EXPECT_TRUE(log.at(1).startsWith(QStringLiteral("第 2 行: 含有 NUL 字元: (32 00 "))) << log.at(1).toStdString();
        EXPECT_TRUE(log.at(1).endsWith(QStringLiteral("…（共 60001 位元組）"))) << log.at(1).toStdString();
        EXPECT_TRUE(log.at(2).endsWith(QStringLiteral("www…（共 3001 字）"))) << log.at(2).toStdString();
        for (const QString &line : log)
            EXPECT_LE(line.size(), 600);
    }
    const auto problems = test::tableRows(app.folder(), QStringLiteral("JournalProblems"));
    ASSERT_EQ(problems.size(), 6u);
    for (const QStringList &problem : problems)
        EXPECT_LE(problem.at(4).size(), db::kProblemTextChars) << problem.at(4).toStdString();
    EXPECT_TRUE(problems.front().at(4).endsWith(QStringLiteral("…（共 300000 位元組）"))) << "the row id, then entry, number, reason, text";
}

// A run that stops after lines it had logged were rolled back logs only the lines of what is
// stored: ErrLog.txt, the journal and the counts tell the same.
TEST(BankImport, AStoppedRunLogsTheLinesOfWhatIsStoredAndNoMore)
{
    test::TestApp app;
    QByteArray file;
    const int committed = 50000; // one batch of the import
    for (int i = 1; i <= committed + 200; ++i)
        file += big5(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000100"), QStringLiteral("9%1").arg(i))) + "\r\n";
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file);
    // Once the first batch is stored, another program keeps the next commit from being made.
    std::optional<test::ReaderHoldingTheDatabase> reader;
    textimport::TextImportCounts stopped{-1, -1};
    textimport::TextImportObserver observer;
    int done = 0;
    observer.lineDone = [&](const textimport::TextImportCounts &) {
        if (++done > committed && !reader)
            reader.emplace(app.folder());
    };
    observer.stopped = [&](const textimport::TextImportCounts &c) { stopped = c; };
    EXPECT_THROW(payments::BankImport(app.folder()).run(path, observer), platform::Error);
    reader.reset();
    // The lines are reported (and counted) 64 at a time, so the first commit stores a little more
    // than its rows: 50,048 lines.
    ASSERT_GT(stopped.abnormal, 0);
    ASSERT_LT(stopped.abnormal, committed + 200);
    const QStringList log = platform::codec950::decode(test::readFile(app.folder().errorLogFile())).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(log.size(), stopped.abnormal) << "the log holds the lines the counts report";
    EXPECT_TRUE(log.back().startsWith(QStringLiteral("第 %1 行: ").arg(stopped.abnormal))) << log.back().toStdString();
    EXPECT_EQ(qint64(test::tableRows(app.folder(), QStringLiteral("JournalProblems")).size()), stopped.abnormal);

    // Nothing stored at all: no log, as for a run that found nothing to log.
    test::writeFile(path, file.left(file.indexOf('\n') + 1).repeated(3));
    {
        test::ReaderHoldingTheDatabase holding(app.folder());
        textimport::TextImportObserver second;
        second.stopped = observer.stopped;
        EXPECT_THROW(payments::BankImport(app.folder()).run(path, second), platform::Error);
    }
    EXPECT_EQ(stopped.abnormal, 0);
    EXPECT_FALSE(QFile::exists(app.folder().errorLogFile()));
}
