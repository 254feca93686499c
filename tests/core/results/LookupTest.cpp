#include "db/Connection.h"
#include "platform/Error.h"
#include "workbook/Workbook.h"
#include "results/Lookup.h"
#include "results/LookupIndex.h"
#include "results/Results.h"
#include "shell/BatchTool.h"
#include "shell/DataSummary.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/TextFiles.h"
#include "support/Workbooks.h"

#include <QFile>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace talvesk;
using results::Status;

namespace {

class LookupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::Database db = db::openDatabase(app.folder());
        auto insert = db.prepare("INSERT INTO F_AccountData VALUES (?1, ?2, 'memo', ?3, ?4, ?5, ?6, ?7, '')");
        const QStringList rows[] = {
            // name, number, account, total, date, paid, stored outstanding
            {QStringLiteral("王小明"), QStringLiteral("C001"), QStringLiteral("95120001"), QStringLiteral("1,500"),
             QStringLiteral("1130105"), QStringLiteral("1500"), QStringLiteral("1")},
            {QStringLiteral("李大華"), QStringLiteral("C002"), QStringLiteral("95120002"), QStringLiteral(".5"), {}, {}, {}},
            // The amount due changed after the payment: the stored outstanding amount is stale.
            {QStringLiteral("王大同"), QStringLiteral("C003"), QStringLiteral("95120003"), QStringLiteral("2000"),
             QStringLiteral("1130106"), QStringLiteral("1000"), QStringLiteral("500")},
            {QStringLiteral("陳\t美"), QStringLiteral("X%_1"), QStringLiteral("95120004"), QStringLiteral("100"),
             QStringLiteral("1130107"), QStringLiteral("150.5"), QStringLiteral("-50.5")},
        };
        for (const QStringList &r : rows) {
            for (int i = 0; i < r.size(); ++i)
                insert.bind(i + 1, r.at(i));
            insert.run();
            insert.reset();
        }
    }

    struct Run {
        int code;
        QStringList lines;
        QString err;
    };
    Run find(const QStringList &args) { return run(QStringList{QStringLiteral("find")} + args); }
    Run run(const QStringList &args)
    {
        QString out, err;
        QTextStream o(&out), e(&err);
        const int code = shell::runBatch(QStringList{QStringLiteral("--app-dir"), app.folder().root()} + args, QString(), o, e);
        return {code, out.split(u'\n', Qt::SkipEmptyParts), err};
    }

    test::TestApp app;
};

const QString kLine1 = QStringLiteral("95120001\t王小明\tC001\t1,500\t1130105\t1500\t0\tpaid");
const QString kLine2 = QStringLiteral("95120002\t李大華\tC002\t.5\t\t\t.5\tunpaid");
const QString kLine3 = QStringLiteral("95120003\t王大同\tC003\t2000\t1130106\t1000\t1000\tpartial");
const QString kLine4 = QStringLiteral("95120004\t陳 美\tX%_1\t100\t1130107\t150.5\t-50.5\toverpaid");

} // namespace

TEST_F(LookupTest, FindPrintsEveryReceivableWithAmountsReadAsTheImportsReadThem)
{
    const Run all = find({});
    EXPECT_EQ(all.code, shell::kBatchOk) << all.err.toStdString();
    EXPECT_EQ(all.lines, (QStringList{kLine1, kLine2, kLine3, kLine4}));
    // Due 1500 + .5 + 2000 + 100, paid 1500 + 1000 + 150.5.
    EXPECT_EQ(all.err.trimmed(), QStringLiteral("共 4 筆　應收金額 3600.5　入帳金額 2650.5　未入帳金額 950"));
}

TEST_F(LookupTest, FindByAccountNamePartNumberAndStatus)
{
    EXPECT_EQ(find({QStringLiteral("95120003")}).lines, QStringList{kLine3});
    EXPECT_EQ(find({QStringLiteral("9512000")}).lines.size(), 4);
    EXPECT_EQ(find({QStringLiteral("王")}).lines, (QStringList{kLine1, kLine3}));
    EXPECT_EQ(find({QStringLiteral("c002")}).lines, QStringList{kLine2});
    // The clerk's % and _ are characters, not wildcards.
    EXPECT_EQ(find({QStringLiteral("%_")}).lines, QStringList{kLine4});
    EXPECT_TRUE(find({QStringLiteral("%")}).lines == QStringList{kLine4});
    EXPECT_TRUE(find({QStringLiteral("無此人")}).lines.isEmpty());

    EXPECT_EQ(find({QStringLiteral("--status"), QStringLiteral("paid")}).lines, QStringList{kLine1});
    EXPECT_EQ(find({QStringLiteral("--status"), QStringLiteral("unpaid")}).lines, QStringList{kLine2});
    EXPECT_EQ(find({QStringLiteral("--status"), QStringLiteral("partial")}).lines, QStringList{kLine3});
    EXPECT_EQ(find({QStringLiteral("--status"), QStringLiteral("overpaid")}).lines, QStringList{kLine4});
    EXPECT_EQ(find({QStringLiteral("王"), QStringLiteral("--status"), QStringLiteral("partial")}).lines, QStringList{kLine3});
    EXPECT_EQ(find({QStringLiteral("--status"), QStringLiteral("paid"), QStringLiteral("李")}).lines, QStringList{});

    EXPECT_EQ(find({QStringLiteral("--status"), QStringLiteral("late")}).code, shell::kBatchUsage);
    EXPECT_EQ(find({QStringLiteral("--status")}).code, shell::kBatchUsage);
    EXPECT_EQ(find({QStringLiteral("a"), QStringLiteral("b")}).code, shell::kBatchUsage);
}

TEST_F(LookupTest, FindFailsOnAMissingDatabaseWithoutMakingOne)
{
    QFile::remove(app.folder().databaseFile());
    const Run r = find({});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_FALSE(r.err.isEmpty());
    EXPECT_FALSE(QFile::exists(app.folder().databaseFile()));
}

TEST_F(LookupTest, SortsTheWholeResultByAmountDateOrTextPageByPage)
{
    // Two more rows: an equal amount (kept in table order) and a date of a two-digit year.
    platform::Database db = db::openDatabase(app.folder());
    db.execute("INSERT INTO F_AccountData VALUES ('趙一', 'C005', 'memo', '95120005', '100', '990101', '100', '0', '')");
    db.execute("INSERT INTO F_AccountData VALUES ('錢二', 'C006', 'memo', '95120006', '900', '', '', '', '')");
    const auto numbers = [&](results::SortBy by, bool descending, int pageRows) {
        results::Lookup lookup(app.folder(), {QString(), Status::Any, by, descending});
        QStringList shown;
        qint64 after = 0;
        for (;;) {
            const auto page = lookup.page(after, pageRows);
            for (const auto &r : page)
                shown << r.account.right(1);
            if (page.size() < static_cast<std::size_t>(pageRows))
                return shown.join(QString());
            after = page.back().rowid;
        }
    };
    using results::SortBy;
    // Amounts as numbers: .5 < 100 = 100 < 900 < 1,500 < 2000 (not "1,500" < "100" < "2000").
    EXPECT_EQ(numbers(SortBy::Total, false, 2), QStringLiteral("245613"));
    EXPECT_EQ(numbers(SortBy::Total, true, 2), QStringLiteral("316542"));
    EXPECT_EQ(numbers(SortBy::Total, false, 100), numbers(SortBy::Total, false, 1));
    // Dates as dates: none first, then 990101 before the 113 dates.
    EXPECT_EQ(numbers(SortBy::PayDate, false, 4), QStringLiteral("265134"));
    EXPECT_EQ(numbers(SortBy::Outstanding, false, 3), QStringLiteral("415263"));
    EXPECT_EQ(numbers(SortBy::Number, true, 5), QStringLiteral("465321"));
    EXPECT_EQ(numbers(SortBy::Table, true, 4), QStringLiteral("654321"));
}

TEST_F(LookupTest, PagesFollowOneAnotherTotalsAddUpAndTheExportHoldsTheSameRows)
{
    results::Lookup lookup(app.folder(), {QStringLiteral("9512"), Status::Any});
    const auto first = lookup.page(0, 3);
    ASSERT_EQ(first.size(), 3u);
    const auto rest = lookup.page(first.back().rowid, 3);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].account, QStringLiteral("95120004"));
    EXPECT_TRUE(lookup.page(rest[0].rowid, 3).empty());

    results::Lookup unpaidOrPaid(app.folder(), {QString(), Status::Partial});
    const auto totals = unpaidOrPaid.totals();
    EXPECT_EQ(totals.count, 1);
    EXPECT_EQ(totals.due, 2000);
    EXPECT_EQ(totals.outstanding(), 1000);
    // A text and a state together, and a page after a row: each value finds its own parameter.
    results::Lookup namedAndPaid(app.folder(), {QStringLiteral("王"), Status::Paid});
    const auto paid = namedAndPaid.page(0, 1);
    ASSERT_EQ(paid.size(), 1u);
    EXPECT_EQ(paid[0].account, QStringLiteral("95120001"));
    EXPECT_TRUE(namedAndPaid.page(paid[0].rowid, 1).empty());

    results::Lookup named(app.folder(), {QStringLiteral("王"), Status::Any});
    const QString out = app.path(QStringLiteral("found.xlsx"));
    const auto result = db::exportTable(app.folder(), results::resultsLayout(), out, {}, named.filter());
    EXPECT_EQ(result.rows, 2);
    const auto book = workbook::Workbook::open(out);
    const auto sheet = book->worksheet(book->worksheetNames().value(0));
    EXPECT_EQ(sheet->lastUsedRow(), 3);
    EXPECT_EQ(workbook::cellText(*sheet, 1, QStringLiteral("A")), QStringLiteral("客戶名稱"));
    EXPECT_EQ(workbook::cellText(*sheet, 2, QStringLiteral("D")), QStringLiteral("95120001"));
    EXPECT_EQ(workbook::cellText(*sheet, 3, QStringLiteral("A")), QStringLiteral("王大同"));
    // Written as the results export writes it: the stored outstanding amount, a number.
    EXPECT_EQ(sheet->cell(3, QStringLiteral("H")).kind, workbook::CellValue::Kind::Number);
}

// A new amount due imported after a payment: the stored outstanding amount follows it, so the
// lookup, `find`, the results workbook and the status line tell one balance.
TEST(OneBalance, ANewAmountDueAfterAPaymentIsTheSameEverywhere)
{
    test::TestApp app;
    auto run = [&](const QStringList &args) {
        QString out, err;
        QTextStream o(&out), e(&err);
        const int code = shell::runBatch(QStringList{QStringLiteral("--app-dir"), app.folder().root()} + args, QString(), o, e);
        EXPECT_EQ(code, shell::kBatchOk) << args.join(u' ').toStdString() << err.toStdString();
        return out;
    };
    run({QStringLiteral("map-receivables"), QStringLiteral("A"), QString(), QString(), QStringLiteral("B"), QStringLiteral("C")});
    const QString first = app.path(QStringLiteral("r1.xlsx")), second = app.path(QStringLiteral("r2.xlsx"));
    test::writeXlsx(first, QStringLiteral("R"),
                    {{QStringLiteral("h")},
                     {QStringLiteral("甲"), QStringLiteral("A1"), 1000.0},
                     {QStringLiteral("乙"), QStringLiteral("A2"), 500.0},
                     {QStringLiteral("丙"), QStringLiteral("A3"), 300.0}});
    run({QStringLiteral("import-receivables"), first});
    const QString bank = app.path(QStringLiteral("bank.txt"));
    test::writeFile(bank, (test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000001000"), QStringLiteral("A1"))
                           + QStringLiteral("\r\n")
                           + test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000000200"), QStringLiteral("A2")))
                              .toUtf8());
    run({QStringLiteral("import-bank"), bank});
    test::writeXlsx(second, QStringLiteral("R"),
                    {{QStringLiteral("h")},
                     {QStringLiteral("甲"), QStringLiteral("A1"), QStringLiteral("45,001")},
                     {QStringLiteral("乙"), QStringLiteral("A2"), 100.0},
                     {QStringLiteral("丙"), QStringLiteral("A3"), 400.0}});
    run({QStringLiteral("import-receivables"), second});

    const auto stored = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].at(7), QStringLiteral("44001"));
    EXPECT_EQ(stored[1].at(7), QStringLiteral("-100"));
    EXPECT_EQ(stored[2].at(7), QString()) << "a row never paid has no outstanding amount written";
    EXPECT_EQ(run({QStringLiteral("find")}).split(u'\n', Qt::SkipEmptyParts),
              (QStringList{QStringLiteral("A1\t甲\t\t45,001\t1130105\t1000\t44001\tpartial"),
                           QStringLiteral("A2\t乙\t\t100\t1130105\t200\t-100\toverpaid"),
                           QStringLiteral("A3\t丙\t\t400\t\t\t400\tunpaid")}));

    const QString book = app.path(QStringLiteral("out.xlsx"));
    run({QStringLiteral("export-results"), book});
    std::unique_ptr<workbook::Workbook> opened = workbook::Workbook::open(book);
    const std::unique_ptr<workbook::Worksheet> sheet = opened->worksheet(opened->worksheetNames().first());
    results::Lookup lookup(app.folder(), {});
    const std::vector<results::FoundReceivable> found = lookup.page(0, 10);
    ASSERT_EQ(found.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        const workbook::CellValue outstanding = sheet->cell(i + 2, u"H");
        EXPECT_EQ(outstanding.kind, workbook::CellValue::Kind::Number) << i;
        EXPECT_EQ(QString::number(outstanding.number), found[std::size_t(i)].outstanding) << i;
    }
    const shell::DataSummary summary = shell::summarize(app.folder());
    EXPECT_EQ(summary.paid, 2);
}

namespace {

// What a query finds, every way the lookup answers it: the first page, every match, the totals.
struct Answer {
    QStringList page, all;
    QString totals;
    bool usedIndex = false;
    bool operator==(const Answer &o) const { return page == o.page && all == o.all && totals == o.totals; }
};

Answer answer(const platform::AppFolder &app, const QString &text)
{
    Answer a;
    results::Lookup lookup(app, {text, Status::Any, results::SortBy::Name, true});
    for (const results::FoundReceivable &f : lookup.page(0, 3))
        a.page << results::lookupLine(f);
    a.usedIndex = lookup.usedIndex();
    lookup.forEach([&](const results::FoundReceivable &f) { a.all << results::lookupLine(f); });
    a.usedIndex = a.usedIndex && lookup.usedIndex();
    const results::LookupTotals t = lookup.totals();
    a.usedIndex = a.usedIndex && lookup.usedIndex();
    a.totals = results::totalsText(t);
    return a;
}

} // namespace

// The index only narrows where the lookup looks: through it or reading the whole table, every
// fragment finds the same receivables, after imports, a clearing and an undo, and after another
// program's write (which makes the index stale until it is made again).
TEST_F(LookupTest, TheIndexFindsWhatReadingTheTableFinds)
{
    const platform::AppFolder &folder = app.folder();
    const QString indexFile = folder.lookupIndexFile();
    QStringList fragments{QStringLiteral("9512000"), QStringLiteral("王小明"), QStringLiteral("c00"), QStringLiteral("X%_"),
                                QStringLiteral("%_1"), QStringLiteral("ｂｃｄ"), QStringLiteral("BCD"), QStringLiteral("王大"),
                                QStringLiteral("zzzz"), QStringLiteral("\"x\"y")};
    // Each fragment's answer read through the index (used, for three characters or more) and
    // without it (the file moved away): the same.
    auto agree = [&](const char *when, bool current) {
        ASSERT_EQ(results::lookupindex::current(folder), current) << when;
        for (const QString &text : fragments) {
            const Answer indexed = answer(folder, text);
            EXPECT_EQ(indexed.usedIndex, current && text.size() >= 3 && !text.contains(QChar(0))) << when << ' ' << text.toStdString();
            ASSERT_TRUE(QFile::rename(indexFile, indexFile + QStringLiteral(".away")));
            const Answer read = answer(folder, text);
            ASSERT_TRUE(QFile::rename(indexFile + QStringLiteral(".away"), indexFile));
            EXPECT_FALSE(read.usedIndex);
            EXPECT_TRUE(indexed == read) << when << ' ' << text.toStdString() << '\n'
                                         << indexed.all.join(u'\n').toStdString() << "\n--\n" << read.all.join(u'\n').toStdString();
        }
    };
    EXPECT_FALSE(results::lookupindex::current(folder));
    const Run made = run({QStringLiteral("refresh-index")});
    EXPECT_EQ(made.lines, QStringList{QStringLiteral("refresh-index: made")}) << made.err.toStdString();
    EXPECT_EQ(run({QStringLiteral("refresh-index")}).lines, QStringList{QStringLiteral("refresh-index: current")});
    agree("made", true);

    const QString book = app.path(QStringLiteral("more.xlsx"));
    test::writeXlsx(book, QStringLiteral("S"),
                    {{QStringLiteral("h")},
                     {QStringLiteral("abcde"), QStringLiteral("95120002"), QStringLiteral("9")},
                     {QStringLiteral("ＡＢＣＤ王小明"), QStringLiteral("95129999"), QStringLiteral("7")}});
    ASSERT_EQ(run({QStringLiteral("map-receivables"), QStringLiteral("A"), QString(), QString(), QStringLiteral("B"),
                   QStringLiteral("C")}).code, shell::kBatchOk);
    ASSERT_EQ(run({QStringLiteral("import-receivables"), book}).code, shell::kBatchOk);
    agree("after an import, before the index is made again", false);
    ASSERT_TRUE(results::lookupindex::refresh(folder));
    agree("after an import", true);

    test::execute(folder, "UPDATE F_AccountData SET UserName = 'bcd' WHERE Bankcode = '95120001'");
    agree("after another program's write", false);
    ASSERT_TRUE(results::lookupindex::refresh(folder));
    agree("after another program's write, made again", true);

    ASSERT_EQ(run({QStringLiteral("clear-receivables")}).code, shell::kBatchOk);
    ASSERT_TRUE(results::lookupindex::refresh(folder));
    agree("after a clearing", true);
    ASSERT_EQ(run({QStringLiteral("undo")}).code, shell::kBatchOk);
    ASSERT_TRUE(results::lookupindex::refresh(folder));
    agree("after the clearing was undone", true);
    EXPECT_EQ(answer(folder, QStringLiteral("ＢＣＤ")).all.size(), 1);

    // A file that is not an index is passed over, and made anew.
    test::writeFile(indexFile, "not an index");
    EXPECT_FALSE(results::lookupindex::current(folder));
    EXPECT_FALSE(answer(folder, QStringLiteral("王小明")).usedIndex);
    ASSERT_TRUE(results::lookupindex::refresh(folder));
    agree("made over a broken file", true);

    // A text another program stored with a NUL in it: what follows the NUL is found as reading
    // the table finds it, and a fragment holding a NUL is looked for in the table.
    test::execute(folder, "UPDATE F_AccountData SET UserName = 'X' || char(0) || '張三豐' WHERE Bankcode = '95120002'");
    ASSERT_TRUE(results::lookupindex::refresh(folder));
    fragments << QStringLiteral("張三豐") << QChar(0) + QStringLiteral("張三");
    agree("after a NUL was stored", true);
    EXPECT_EQ(answer(folder, QStringLiteral("張三豐")).all.size(), 1);
}
