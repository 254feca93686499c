#include "overview/Overview.h"
#include "payments/BankImport.h"
#include "results/Lookup.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Pdfs.h"
#include "support/TextFiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace talvesk;
using overview::State;

namespace {

QString today()
{
    return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

// A bank file read today: `good` payments to A2, `unknown` records for accounts nobody owes.
void importBankToday(const test::TestApp &app, int good, int unknown)
{
    QString text;
    for (int i = 0; i < good; ++i)
        text += test::bankLine(overview::storedPayDate(QDate::currentDate()), QStringLiteral("00000000700"), QStringLiteral("A2"))
                + QStringLiteral("\r\n");
    for (int i = 0; i < unknown; ++i)
        text += test::bankLine(overview::storedPayDate(QDate::currentDate()), QStringLiteral("00000000100"),
                               QStringLiteral("NOSUCH%1").arg(i))
                + QStringLiteral("\r\n");
    const QString bank = app.path(QStringLiteral("bank.txt"));
    test::writeFile(bank, text.toUtf8().prepend("\xEF\xBB\xBF"));
    payments::BankImport(app.folder()).run(bank, {});
}

} // namespace

// The figures follow the lookup's rule: each state's count and amounts are what 帳款查詢 finds
// and adds up for it, "1,500" is 1500, and the totals are the states' sums.
TEST(OverviewFigures, EveryStateCountedAndSummedAsTheLookupDoes)
{
    test::TestApp app;
    test::seedEveryState(app.folder());
    const overview::Figures f = overview::readFigures(app.folder());

    const struct {
        State state;
        results::Status status;
        qint64 count;
        double due, paid;
    } expected[] = {
        {State::Paid, results::Status::Paid, 1, 1500, 1500},
        {State::Partial, results::Status::Partial, 1, 2000, 500},
        {State::Unpaid, results::Status::Unpaid, 1, 3000, 0},
        {State::Overpaid, results::Status::Overpaid, 1, 1000, 1200},
    };
    for (const auto &e : expected) {
        const overview::StateFigures &s = f.of(e.state);
        EXPECT_EQ(s.count, e.count) << overview::stateCaption(e.state).toStdString();
        EXPECT_EQ(s.due, e.due) << overview::stateCaption(e.state).toStdString();
        EXPECT_EQ(s.paid, e.paid) << overview::stateCaption(e.state).toStdString();
        const results::LookupTotals lookup = results::Lookup(app.folder(), {QString(), e.status}).totals();
        EXPECT_EQ(lookup.count, s.count);
        EXPECT_EQ(lookup.due, s.due);
        EXPECT_EQ(lookup.paid, s.paid);
    }
    EXPECT_EQ(f.receivables(), 4);
    EXPECT_EQ(f.due(), 7500);
    EXPECT_EQ(f.credited(), 3200);
    EXPECT_EQ(f.outstanding(), 4300);
    EXPECT_EQ(f.of(State::Overpaid).outstanding(), -200);
    EXPECT_EQ(f.storeCount, 2);
    EXPECT_EQ(f.storeAmount, 1550);
    ASSERT_EQ(f.byDate.size(), 2u);
    EXPECT_EQ(f.byDate[0].payDate, QStringLiteral("1131201"));
    EXPECT_EQ(f.byDate[0].count, 2);
    EXPECT_EQ(f.byDate[0].paid, 2000);
    EXPECT_EQ(f.byDate[1].payDate, QStringLiteral("1131130"));
    EXPECT_TRUE(f.latest.empty());

    // The latest 30 payment dates, newest first; and the newest five journal entries.
    test::execute(app.folder(), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40) "
                                "INSERT INTO F_AccountData (Bankcode, Total, PayDate, PayTotal) "
                                "SELECT 'D' || i, '10', printf('1140%03d', 100 + i), '10' FROM n");
    for (int i = 0; i < 6; ++i)
        importBankToday(app, 1, 0);
    const overview::Figures more = overview::readFigures(app.folder());
    ASSERT_EQ(more.byDate.size(), std::size_t(overview::kCreditDates));
    EXPECT_EQ(more.byDate.front().payDate, overview::storedPayDate(QDate::currentDate()));
    EXPECT_EQ(more.byDate[1].payDate, QStringLiteral("1140140"));
    EXPECT_EQ(more.byDate.back().payDate, QStringLiteral("1140112"));
    ASSERT_EQ(more.latest.size(), std::size_t(overview::kLatestEntries));
    EXPECT_GT(more.latest.front().id, more.latest.back().id);
    EXPECT_EQ(more.latest.front().operation, QStringLiteral("import-bank"));

    // Row ids reaching a million are read in parts side by side: each row counted once, wherever
    // two parts meet (the ids at the edges of two, three and four parts stand among them).
    {
        std::vector<qint64> ids{-7, 1, 250001, 250002, 333334, 333335, 500001, 500002, 500003, 666668, 666669, 750003, 750004, 1000000};
        for (qint64 id = 100000; ids.size() < std::size_t(more.receivables()); id += 1000)
            ids.push_back(id);
        QString moves = QStringLiteral("UPDATE F_AccountData SET rowid = -rowid - 100;");
        for (std::size_t i = 0; i < ids.size(); ++i)
            moves += QStringLiteral("UPDATE F_AccountData SET rowid = %1 WHERE rowid = (SELECT max(rowid) FROM F_AccountData "
                                    "WHERE rowid < -99);")
                         .arg(ids[i]);
        test::execute(app.folder(), moves.toUtf8().constData());
    }
    const overview::Figures spread = overview::readFigures(app.folder());
    for (int s = 0; s < overview::kStates; ++s) {
        EXPECT_EQ(spread.states[std::size_t(s)].count, more.states[std::size_t(s)].count) << s;
        EXPECT_EQ(spread.states[std::size_t(s)].due, more.states[std::size_t(s)].due) << s;
        EXPECT_EQ(spread.states[std::size_t(s)].paid, more.states[std::size_t(s)].paid) << s;
    }
    ASSERT_EQ(spread.byDate.size(), more.byDate.size());
    for (std::size_t i = 0; i < spread.byDate.size(); ++i)
        EXPECT_EQ(spread.byDate[i].payDate + QString::number(spread.byDate[i].count) + u' ' + QString::number(spread.byDate[i].paid),
                  more.byDate[i].payDate + QString::number(more.byDate[i].count) + u' ' + QString::number(more.byDate[i].paid));
}

// A writer committing over and over beside the overview: whenever its commit waits for the
// overview's first reader, the parts that join that reader later must not wait behind the
// writer in turn (each would hold the other until one of them fails as busy).
TEST(OverviewFigures, PartsReadSideBySideNeverHoldUpAWritersCommit)
{
    test::TestApp app;
    test::seedEveryState(app.folder());
    // Row ids up to a million: read in parts on every machine of more than one core.
    test::execute(app.folder(), "UPDATE F_AccountData SET rowid = 1000000 WHERE rowid = (SELECT max(rowid) FROM F_AccountData)");
    std::atomic<bool> done{false};
    std::atomic<bool> writerFailed{false};
    std::atomic<int> commits{0};
    QString writerFailure; // read once the writer is done
    std::thread writer([&] {
        try {
            platform::Database db = platform::Database::open(app.folder().databaseFile());
            db.execute("PRAGMA synchronous = OFF");
            for (int i = 0; !done; ++i) {
                db.execute("BEGIN IMMEDIATE");
                db.execute(QStringLiteral("UPDATE SMdata SET REC = '%1'").arg(i).toUtf8().constData());
                db.execute("COMMIT");
                ++commits;
            }
        } catch (const platform::Error &e) {
            writerFailure = e.description();
            writerFailed = true;
        }
    });
    QString readerFailure;
    QElapsedTimer clock;
    clock.start();
    while (!clock.hasExpired(1000) && readerFailure.isEmpty()) {
        try {
            overview::readFigures(app.folder());
        } catch (const platform::Error &e) {
            readerFailure = e.description();
        }
        if (writerFailed)
            break;
    }
    done = true;
    writer.join();
    EXPECT_TRUE(writerFailure.isEmpty()) << writerFailure.toStdString();
    EXPECT_TRUE(readerFailure.isEmpty()) << readerFailure.toStdString();
    EXPECT_GT(commits.load(), 0);
}

TEST(OverviewFigures, HowAmountsAndDatesRead)
{
    EXPECT_EQ(overview::groupedAmount(1234567), QStringLiteral("1,234,567"));
    EXPECT_EQ(overview::groupedAmount(-200), QStringLiteral("-200"));
    EXPECT_EQ(overview::groupedAmount(1500.5), QStringLiteral("1,500.5"));
    EXPECT_EQ(overview::payDateCaption(QStringLiteral("1131201")), QStringLiteral("113/12/01"));
    EXPECT_EQ(overview::payDateCaption(QStringLiteral("20241201")), QStringLiteral("20241201"));
    EXPECT_EQ(overview::storedPayDate(QDate(2024, 12, 1)), QStringLiteral("1131201"));
    EXPECT_EQ(overview::storedPayDate(QDate(2010, 1, 5)), QStringLiteral("0990105"));
}

// A day: its operations in the order they ran, what was credited on it, and the first 200 lines
// its operations could not use with how many more there are; another day has none of them.
TEST(OverviewDay, OperationsPaymentsAndProblemLinesOfOneDay)
{
    test::TestApp app;
    test::seedEveryState(app.folder());
    importBankToday(app, 2, 150);
    importBankToday(app, 0, 100);
    const overview::DayFigures day = overview::readDay(app.folder(), QDate::currentDate());
    ASSERT_EQ(day.operations.size(), 2u);
    EXPECT_LT(day.operations[0].id, day.operations[1].id);
    EXPECT_EQ(day.operations[0].counts, QStringLiteral("2 applied, 150 abnormal"));
    EXPECT_EQ(day.creditedCount, 1); // A2, paid twice: the later payment replaces the earlier
    EXPECT_EQ(day.creditedSum, 700);
    ASSERT_EQ(day.problems.size(), std::size_t(overview::kReportProblems));
    EXPECT_EQ(day.moreProblems, 50);
    EXPECT_EQ(day.problems.front().entry, day.operations[0].id);
    EXPECT_EQ(day.problems.back().entry, day.operations[1].id);
    EXPECT_EQ(day.problems[150].line.number, 1);

    const overview::DayFigures other = overview::readDay(app.folder(), QDate(2001, 1, 1));
    EXPECT_TRUE(other.operations.empty());
    EXPECT_TRUE(other.problems.empty());
    EXPECT_EQ(other.moreProblems, 0);
    EXPECT_EQ(other.creditedCount, 0);
}

namespace {

struct ProcessRun {
    int code = -1;
    QString out, err;
};

ProcessRun run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    ProcessRun result;
    if (!process.waitForFinished(60000))
        return result;
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

} // namespace

// talvesk-batch report writes the report as a PDF file whose text reads back: the caption, the
// day, every state's figures on its line, the day's operations and problem lines, page numbers;
// its fonts are embedded.
TEST(DailyReport, TheBatchToolsPdfReadsBackWithItsFiguresAndChineseText)
{
    test::TestApp app;
    test::seedEveryState(app.folder());
    importBankToday(app, 1, 230);
    const QString pdf = app.path(QStringLiteral("日報.pdf"));
    const ProcessRun made = run(QStringLiteral(TALVESK_BATCH_PROGRAM),
                         {QStringLiteral("--app-dir"), app.folder().root(), QStringLiteral("report"), pdf,
                          QStringLiteral("--date"), today()});
    ASSERT_EQ(made.code, 0) << made.err.toStdString();
    static const QRegularExpression line(QStringLiteral("^report: (\\S+), (\\d+) pages to (.*)\\n$"));
    const QRegularExpressionMatch m = line.match(made.out);
    ASSERT_TRUE(m.hasMatch()) << made.out.toStdString();
    EXPECT_EQ(m.captured(1), today());
    EXPECT_EQ(m.captured(3), pdf);
    const int pages = m.captured(2).toInt();
    EXPECT_GE(pages, 2); // 200 problem lines do not fit one page
    EXPECT_LE(pages, 8);

    const QString text = test::pdfText(pdf);
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("Talvesk虛擬帳號資料處理(Version 1.0)"))) << text.toStdString();
    // Copied out as it stands, 日, 入, 金 and 頁 are themselves, not the radicals the face also
    // draws with their glyphs.
    const QString copied = test::pdfText(pdf, false);
    for (const QString &word : {QStringLiteral("日報表"), QStringLiteral("入帳日期"), QStringLiteral("金額"), QStringLiteral("頁")})
        EXPECT_TRUE(copied.contains(word)) << word.toStdString();
    for (const QChar c : copied)
        EXPECT_FALSE(c.unicode() >= 0x2E80 && c.unicode() <= 0x2FDF) << "a radical: U+" << std::hex << int(c.unicode());
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("日報表　") + overview::dayCaption(QDate::currentDate())));
    // A2 was paid 700 of 2,000 by today's file, so it stays in part; A1's "1,500" reads 1500.
    for (const QString &row : {QStringLiteral("已入帳 1 1,500 1,500 0"), QStringLiteral("部分入帳 1 2,000 700 1,300"),
                               QStringLiteral("未入帳 1 3,000 0 3,000"), QStringLiteral("溢繳 1 1,000 1,200 -200"),
                               QStringLiteral("合計 4 7,500 3,400 4,100")}) {
        const QString pattern = QRegularExpression::escape(row.normalized(QString::NormalizationForm_KC))
                                    .replace(QStringLiteral("\\ "), QStringLiteral("\\s+"));
        EXPECT_TRUE(text.contains(QRegularExpression(pattern))) << row.toStdString() << '\n' << text.toStdString();
    }
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("超商代收：2 筆，金額 1,550 元")));
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("入帳日期 ") + overview::dayCaption(QDate::currentDate()) + QStringLiteral("：1 筆，合計 700 元")));
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("讀入入帳明細(TXT)")));
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("bank.txt")));
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("新增 0、更新 1、不變 0、異常 230"))) << text.toStdString();
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("未復原")));
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("另有 30 行未列出")));
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("NOSUCH199")));
    EXPECT_FALSE(test::pdfHas(text, QStringLiteral("NOSUCH200 ")));
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("第 1 頁，共 %1 頁").arg(pages)));
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("第 %1 頁，共 %1 頁").arg(pages)));

    const ProcessRun fonts = run(QStringLiteral("pdffonts"), {pdf});
    ASSERT_EQ(fonts.code, 0);
    const QStringList rows = fonts.out.split(u'\n', Qt::SkipEmptyParts).mid(2);
    ASSERT_FALSE(rows.isEmpty());
    for (const QString &font : rows)
        EXPECT_TRUE(font.contains(QStringLiteral(" yes "))) << "not embedded: " << font.toStdString();
}

// A day with no operations says so; a bad date or file name is a usage error, and a file that
// cannot be written fails with nothing left behind.
TEST(DailyReport, ADayWithoutOperationsSaysSoAndBadRequestsAreRefused)
{
    test::TestApp app;
    test::seedEveryState(app.folder());
    const QString pdf = app.path(QStringLiteral("quiet.pdf"));
    const QString program = QStringLiteral(TALVESK_BATCH_PROGRAM);
    const QStringList lead{QStringLiteral("--app-dir"), app.folder().root(), QStringLiteral("report")};
    const ProcessRun made = run(program, lead + QStringList{pdf, QStringLiteral("--date"), QStringLiteral("2001-01-01")});
    ASSERT_EQ(made.code, 0) << made.err.toStdString();
    EXPECT_EQ(made.out, QStringLiteral("report: 2001-01-01, 1 pages to %1\n").arg(pdf));
    const QString text = test::pdfText(pdf);
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("日報表　090/01/01")));
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("當日沒有作業")));
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("當日沒有問題行")));
    EXPECT_TRUE(test::pdfHas(text, QStringLiteral("入帳日期 090/01/01：0 筆，合計 0 元")));

    EXPECT_EQ(run(program, lead + QStringList{app.path(QStringLiteral("r.txt"))}).code, 2);
    EXPECT_EQ(run(program, lead + QStringList{pdf, QStringLiteral("--date"), QStringLiteral("2024-02-30")}).code, 2);
    EXPECT_EQ(run(program, lead + QStringList{pdf, QStringLiteral("--day"), QStringLiteral("2024-02-01")}).code, 2);
    const ProcessRun failed = run(program, lead + QStringList{app.path(QStringLiteral("no/such/folder/r.pdf"))});
    EXPECT_EQ(failed.code, 1);
    EXPECT_EQ(failed.out, QStringLiteral("report: failed, nothing written\n"));
    EXPECT_FALSE(failed.err.isEmpty());
}
