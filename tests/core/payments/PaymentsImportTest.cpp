#include "db/Connection.h"
#include "db/Mapping.h"
#include "payments/Amounts.h"
#include "payments/BankImport.h"
#include "payments/PaymentsImport.h"
#include "platform/Codec950.h"
#include "platform/Error.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/TextFiles.h"
#include "support/Workbooks.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include <cmath>

using namespace talvesk;
using workbook::CellValue;

namespace {

class PaymentsImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        map({QStringLiteral("A"), QString(), QStringLiteral("B"), QString(), QStringLiteral("C"), QString()});
    }
    void map(const QStringList &items)
    {
        platform::Database db = db::openDatabase(app.folder());
        db::saveMapping(db, db::kPaymentsMapping, items);
    }
    workbookimport::ImportCounts run(const test::Rows &data)
    {
        test::Rows rows{{QStringLiteral("日期"), QStringLiteral("金額"), QStringLiteral("帳號")}};
        rows.insert(rows.end(), data.begin(), data.end());
        const QString path = app.path(QStringLiteral("pay%1.xlsx").arg(++books));
        test::writeXlsx(path, QStringLiteral("入帳"), rows);
        return payments::PaymentsImport(app.folder()).run(path, QStringLiteral("入帳"), {});
    }
    // PayDate, PayTotal, N_PayTotal of an account.
    QStringList paid(const QString &account)
    {
        for (const auto &row : test::tableRows(app.folder(), QStringLiteral("F_AccountData"))) {
            if (row.at(3) == account)
                return row.mid(5, 3);
        }
        return {QStringLiteral("<no such account>")};
    }

    test::TestApp app;
    int books = 0;
};

} // namespace

TEST_F(PaymentsImportTest, WritesDateAmountAndOutstandingOfKnownAccounts)
{
    for (const char *account : {"X", "Y", "Z"})
        test::addReceivable(app.folder(), QString::fromLatin1(account), QStringLiteral("1500"));
    const auto counts = run({{990105.0, 1500.0, QStringLiteral("X")},
                             {test::Date{2024, 1, 5}, 1000.0, QStringLiteral("Y")},
                             {QStringLiteral("1000315"), 2000.0, QStringLiteral("Z")}});
    EXPECT_EQ(counts.written, 3);
    EXPECT_EQ(counts.notProcessed, 0);
    EXPECT_EQ(paid(QStringLiteral("X")), (QStringList{QStringLiteral("0990105"), QStringLiteral("1500"), QStringLiteral("0")}));
    EXPECT_EQ(paid(QStringLiteral("Y")), (QStringList{QStringLiteral("1130105"), QStringLiteral("1000"), QStringLiteral("500")}));
    EXPECT_EQ(paid(QStringLiteral("Z")), (QStringList{QStringLiteral("1000315"), QStringLiteral("2000"), QStringLiteral("-500")}));
}

TEST_F(PaymentsImportTest, GroupedAmountsAreStoredAsReadAndCountInFull)
{
    test::addReceivable(app.folder(), QStringLiteral("X"), QStringLiteral("1500"));
    test::addReceivable(app.folder(), QStringLiteral("Y"), QStringLiteral("1,234,567.5"));
    run({{990105.0, QStringLiteral("1,500"), QStringLiteral("X")}, {990105.0, QStringLiteral("1,234,000"), QStringLiteral("Y")}});
    EXPECT_EQ(paid(QStringLiteral("X")), (QStringList{QStringLiteral("0990105"), QStringLiteral("1,500"), QStringLiteral("0")}));
    EXPECT_EQ(paid(QStringLiteral("Y")), (QStringList{QStringLiteral("0990105"), QStringLiteral("1,234,000"), QStringLiteral("567.5")}));
}

TEST_F(PaymentsImportTest, AReceivableWhoseAmountHoldsNoValueStopsTheImportAtItsRow)
{
    test::addReceivable(app.folder(), QStringLiteral("X"), QStringLiteral("100"));
    test::execute(app.folder(), "INSERT INTO F_AccountData (UserName, Bankcode, Total) VALUES ('n', 'NULLTOTAL', NULL)");
    test::addReceivable(app.folder(), QStringLiteral("Z"), QStringLiteral("100"));
    try {
        run({{990105.0, 40.0, QStringLiteral("X")}, {990105.0, 40.0, QStringLiteral("NULLTOTAL")}, {990105.0, 40.0, QStringLiteral("Z")}});
        FAIL() << "a receivable without an amount was paid against";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::InvalidUseOfNull);
        EXPECT_TRUE(e.description().contains(QStringLiteral("NULLTOTAL"))) << e.what();
        EXPECT_TRUE(e.description().contains(QStringLiteral("已存入 1 筆"))) << e.what();
    }
    EXPECT_EQ(paid(QStringLiteral("X")).at(2), QStringLiteral("60")) << "the row before it stays";
    EXPECT_EQ(paid(QStringLiteral("Z")).at(2), QString());
}

TEST_F(PaymentsImportTest, UnknownAccountsAreCountedAsNotProcessedAndNothingIsCreated)
{
    test::addReceivable(app.folder(), QStringLiteral("X"), QStringLiteral("100"), QStringLiteral("原名"));
    test::addReceivable(app.folder(), QString(), QStringLiteral("9"), QStringLiteral("old"));
    const auto counts = run({{990105.0, 5.0, QStringLiteral("NOPE")},
                             {990106.0, 40.0, QStringLiteral("X")},
                             {test::Cell{}, test::Cell{}, test::Cell{}},
                             {990107.0, 60.0, QStringLiteral("X")},
                             {QStringLiteral("合計"), 105.0, test::Cell{}}});
    EXPECT_EQ(counts.written, 2);
    EXPECT_EQ(counts.notProcessed, 2) << "the unknown account and the total line; the blank row is skipped";
    const auto all = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].at(5), QString()) << "a receivable kept under the empty account is not paid by a total line";
    EXPECT_EQ(all[0].at(0), QStringLiteral("原名"));
    EXPECT_EQ(all[0].at(4), QStringLiteral("100"));
    EXPECT_EQ(paid(QStringLiteral("X")), (QStringList{QStringLiteral("0990107"), QStringLiteral("60"), QStringLiteral("40")}))
        << "the later row replaces the earlier one";
}

TEST_F(PaymentsImportTest, WithoutAnAmountColumnTheAmountIsZero)
{
    map({QStringLiteral("A"), QString(), QString(), QString(), QStringLiteral("C"), QString()});
    test::addReceivable(app.folder(), QStringLiteral("X"), QStringLiteral("1500"));
    run({{990105.0, 700.0, QStringLiteral("X")}});
    EXPECT_EQ(paid(QStringLiteral("X")), (QStringList{QStringLiteral("0990105"), QStringLiteral("0"), QStringLiteral("1500")}));
}

TEST_F(PaymentsImportTest, FractionsHaveNoZeroBeforeThePoint)
{
    test::addReceivable(app.folder(), QStringLiteral("H"), QStringLiteral("1000.5"));
    test::addReceivable(app.folder(), QStringLiteral("M"), QStringLiteral("1000"));
    run({{QString(), 1000.0, QStringLiteral("H")}, {QStringLiteral("2024/01/05"), 1000.5, QStringLiteral("M")}});
    EXPECT_EQ(paid(QStringLiteral("H")), (QStringList{QString(), QStringLiteral("1000"), QStringLiteral(".5")}));
    EXPECT_EQ(paid(QStringLiteral("M")), (QStringList{QStringLiteral("2024/01/05"), QStringLiteral("1000.5"), QStringLiteral("-.5")}));
}

TEST(Amounts, PayDatesOfNumbersNoDateOrWholeNumberHolds)
{
    using Kind = workbook::CellValue::Kind;
    EXPECT_EQ(payments::payDateText({Kind::DateTime, {}, 1e300}), QStringLiteral("1E+300"));
    EXPECT_EQ(payments::payDateText({Kind::Number, {}, -1e19}), QStringLiteral("-1E+19"));
    EXPECT_EQ(payments::payDateText({Kind::Text, QStringLiteral("1e300"), 0}), QStringLiteral("1E+300"));
    EXPECT_EQ(payments::payDateText({Kind::Number, {}, 990105}), QStringLiteral("0990105"));
}

// Every text is read as UTF-16 (cells, fields) and as UTF-8 (Total as the database gives it), and
// both must read alike; whole numbers of up to 15 digits are read without strtod.
TEST(Amounts, LeadingNumbers)
{
    struct Case {
        const char16_t *text;
        bool exponent;
        double value;
    };
    const Case cases[] = {
        {u"1500", false, 1500},
        {u" 1 5\t0\n0 ", false, 1500},
        {u"1,500", false, 1500},
        {u"1,234,567.5", false, 1234567.5},
        {u"1, 500", false, 1500},
        {u"-1,500元", false, -1500},
        {u"1,,500", false, 1},
        {u"1,x", false, 1},
        {u"1,", false, 1},
        {u",500", false, 0},
        {u"00000001500", false, 1500},
        {u"-12.5元", false, -12.5},
        {u".5", false, 0.5},
        {u"+7", false, 7},
        {u"abc", false, 0},
        {u"", false, 0},
        {u"--5", false, 0},
        {u"1.2.3", false, 1.2},
        {u"1E3", false, 1},
        {u"1E3", true, 1000},
        {u"2.5e-1x", true, 0.25},
        {u"1E", true, 1},
        {u"1E+", true, 1},
        {u"999999999999999", false, 999999999999999.0},
        {u"-000000000000000000001500", false, -1500},
        {u"12345678901234567890", false, 12345678901234567890.0},
        {u"1.5E", true, 1.5},
    };
    for (const Case &c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(payments::leadingNumber(QStringView(text), c.exponent), c.value) << text.toStdString();
        EXPECT_EQ(payments::leadingNumber(QByteArrayView(text.toUtf8()), c.exponent), c.value) << text.toStdString();
    }
    EXPECT_TRUE(std::signbit(payments::leadingNumber(QStringView(u"-0"), false))) << "as strtod reads it";
}

// A stored amount is a number for the exports only when the whole text is one, and then exactly
// the number the lookup and the imports read from it.
TEST(Amounts, AWholeTextIsAnAmountOnlyWhenNothingIsLeftOver)
{
    const struct {
        const char16_t *text;
        double value;
    } numbers[] = {{u"45,000", 45000},  {u" -1,234.56 ", -1234.56}, {u"1, 500", 1500}, {u"+7", 7},
                   {u".5", 0.5},        {u"00001500", 1500},        {u"1E3", 1000},    {u"1.", 1},
                   {u"0.1", 0.1},       {u"123456789012.34", 123456789012.34}};
    for (const auto &n : numbers) {
        const QString text = QString::fromUtf16(n.text);
        const auto value = payments::amountValue(text);
        ASSERT_TRUE(value.has_value()) << text.toStdString();
        EXPECT_EQ(*value, n.value) << text.toStdString();
        EXPECT_EQ(*value, payments::leadingNumber(QStringView(text), true)) << "the lookup's reading";
    }
    EXPECT_FALSE(std::signbit(*payments::amountValue(u"-0"))) << "nothing owed is not a negative amount";
    for (const char16_t *text : {u"", u"  ", u"-", u".", u"1,x", u"1,", u"1,,500", u"12元", u"1.2.3", u"1E", u"1E+",
                                 u"--5", u"abc", u"1E999", u"\uFF14\uFF15", u"NaN"})
        EXPECT_FALSE(payments::amountValue(text).has_value()) << QString::fromUtf16(text).toStdString();
}

TEST(Amounts, OutstandingAndDateForms)
{
    using payments::outstandingText;
    EXPECT_EQ(outstandingText(0), QStringLiteral("0"));
    EXPECT_EQ(outstandingText(500), QStringLiteral("500"));
    EXPECT_EQ(outstandingText(-200), QStringLiteral("-200"));
    EXPECT_EQ(outstandingText(0.5), QStringLiteral(".5"));
    EXPECT_EQ(outstandingText(-0.5), QStringLiteral("-.5"));
    EXPECT_EQ(outstandingText(1500 - 1000.1), QStringLiteral("499.9"));
    EXPECT_EQ(outstandingText(1e15), QStringLiteral("1E+15"));
    // The bank file's UTF-8 form is the same text, on both sides of every boundary of its own
    // path for whole amounts, into a buffer that held a longer one.
    QByteArray utf8 = "a longer text than any amount";
    for (const double v : {0.0, -0.0, 1.0, -1.0, 7.0, 500.0, -200.0, 0.5, -0.5, 499.9, 123456789012345.0, -123456789012345.0,
                           999999999999999.0, 1e15, -1e15, 1e16, 1e300, 2.5e-7, 4503599627370496.5,
                           std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()}) {
        payments::outstandingUtf8(v, utf8);
        EXPECT_EQ(QString::fromUtf8(utf8), outstandingText(v)) << v;
    }

    auto cell = [](CellValue::Kind kind, double number, const QString &text = {}) {
        CellValue v;
        v.kind = kind;
        v.number = number;
        v.text = text;
        return v;
    };
    using payments::payDateText;
    using K = CellValue::Kind;
    EXPECT_EQ(payDateText(cell(K::Number, 990105)), QStringLiteral("0990105"));
    EXPECT_EQ(payDateText(cell(K::Number, 1000315)), QStringLiteral("1000315"));
    EXPECT_EQ(payDateText(cell(K::Number, 990105.5)), QStringLiteral("0990106")) << "halves round away from zero";
    EXPECT_EQ(payDateText(cell(K::DateTime, 45296)), QStringLiteral("1130105"));
    EXPECT_EQ(payDateText(cell(K::DateTime, 36530.75)), QStringLiteral("0890105")) << "2000-01-05 18:00";
    EXPECT_EQ(payDateText(cell(K::Text, 0, QStringLiteral(" 990105 "))), QStringLiteral("0990105"));
    EXPECT_EQ(payDateText(cell(K::Text, 0, QStringLiteral("113/01/05"))), QStringLiteral("113/01/05"));
    EXPECT_EQ(payDateText(cell(K::Empty, 0)), QString());
}

TEST_F(PaymentsImportTest, AnAccountHeldByTwoRowsIsPaidOnBothFromTheFirstRowsAmount)
{
    test::addReceivable(app.folder(), QStringLiteral("D"), QStringLiteral("1000"), QStringLiteral("first"));
    test::addReceivable(app.folder(), QStringLiteral("E"), QStringLiteral("50"));
    test::addReceivable(app.folder(), QStringLiteral("D"), QStringLiteral("300"), QStringLiteral("second"));
    const auto counts = run({{990105.0, 400.0, QStringLiteral("D")}, {990105.0, 20.0, QStringLiteral("E")}});
    EXPECT_EQ(counts.written, 2);
    platform::Database db = platform::Database::open(app.folder().databaseFile());
    platform::Statement rows = db.prepare("SELECT PayDate, PayTotal, N_PayTotal FROM F_AccountData ORDER BY rowid");
    QStringList all;
    while (rows.next())
        all << rows.text(0) + u'|' + rows.text(1) + u'|' + rows.text(2);
    EXPECT_EQ(all, (QStringList{QStringLiteral("0990105|400|600"), QStringLiteral("0990105|20|30"),
                                QStringLiteral("0990105|400|600")}));

    // The same payments again change nothing; a new amount for the account of two rows changes
    // both, which had a payment.
    const auto same = run({{990105.0, 400.0, QStringLiteral("D")}, {990105.0, 20.0, QStringLiteral("E")}});
    EXPECT_EQ(same.unchanged, 2);
    EXPECT_EQ(same.paidChanged, 0);
    test::execute(app.folder(), "UPDATE F_AccountData SET N_PayTotal = '601' WHERE UserName = 'second'");
    const auto other = run({{990105.0, 400.0, QStringLiteral("D")}, {990105.0, 25.0, QStringLiteral("E")}});
    EXPECT_EQ(other.written, 2);
    EXPECT_EQ(other.unchanged, 0) << "the second row of the account no longer holds what the payment writes";
    EXPECT_EQ(other.paidChanged, 2);
}

TEST_F(PaymentsImportTest, AStopAskedForIsAnsweredBetweenRowsAndLines)
{
    for (const char *account : {"X", "Y", "Z"})
        test::addReceivable(app.folder(), QString::fromLatin1(account), QStringLiteral("1500"));
    // The question is asked after each row (and while a dry run copies the database); the run ends
    // on the first "stop".
    auto expectCancelled = [](const auto &run) {
        try {
            run();
            ADD_FAILURE() << "a run asked to stop went on to its end";
        } catch (const platform::Error &error) {
            EXPECT_EQ(error.number(), platform::errnum::Cancelled) << error.description().toStdString();
        }
    };

    test::writeXlsx(app.path(QStringLiteral("pay.xlsx")), QStringLiteral("入帳"),
                    {{QStringLiteral("日期"), QStringLiteral("金額"), QStringLiteral("帳號")},
                     {990105.0, 100.0, QStringLiteral("X")},
                     {990105.0, 200.0, QStringLiteral("Y")},
                     {990105.0, 300.0, QStringLiteral("Z")},
                     {990105.0, 400.0, QStringLiteral("X")}});
    for (const db::Changes changes : {db::Changes::DryRun, db::Changes::Keep}) {
        workbookimport::ImportObserver observer;
        int rows = 0;
        std::optional<qint64> stored;
        observer.rowDone = [&rows](qint64, const workbookimport::ImportCounts &) { ++rows; };
        observer.stopped = [&stored](const workbookimport::ImportCounts &c) { stored = c.written; };
        observer.stopRequested = [&rows] { return rows >= 2; };
        expectCancelled([&] {
            payments::PaymentsImport(app.folder()).withChanges(changes)->run(app.path(QStringLiteral("pay.xlsx")),
                                                                             QStringLiteral("入帳"), observer);
        });
        EXPECT_EQ(rows, 2) << "rows after the stop were read";
        if (changes == db::Changes::Keep) {
            // As after any failure, the rows before it stay applied and are the ones claimed.
            EXPECT_EQ(stored, 2);
            EXPECT_EQ(paid(QStringLiteral("Y")).value(1), QStringLiteral("200"));
            EXPECT_EQ(paid(QStringLiteral("Z")).value(1), QString()) << "a row after the stop was stored";
        } else {
            EXPECT_EQ(paid(QStringLiteral("X")).value(1), QString()) << "a dry run stored a row";
        }
    }

    QByteArray lines;
    for (const char *account : {"X", "Y", "Z", "X"})
        lines += platform::codec950::encode(test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000000100"),
                                                           QString::fromLatin1(account)))
                 + "\r\n";
    test::writeFile(app.path(QStringLiteral("bank.txt")), lines);
    textimport::TextImportObserver observer;
    int reported = 0;
    observer.lineDone = [&reported](const textimport::TextImportCounts &) { ++reported; };
    observer.stopRequested = [&reported] { return reported >= 3; };
    expectCancelled([&] { payments::BankImport(app.folder()).run(app.path(QStringLiteral("bank.txt")), observer); });
    EXPECT_EQ(reported, 3);
}
