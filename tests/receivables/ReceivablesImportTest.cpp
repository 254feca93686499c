#include "db/Connection.h"
#include "db/Mapping.h"
#include "platform/Error.h"
#include "receivables/ReceivablesImport.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Workbooks.h"

#include <gtest/gtest.h>

using namespace talvesk;
using test::Cell;

namespace {

class ReceivablesImportTest : public ::testing::Test {
protected:
    void map(const QStringList &items)
    {
        platform::Database db = db::openDatabase(app.folder());
        db::saveMapping(db, db::kReceivablesMapping, items);
    }
    QString book(const QString &name, const test::Rows &rows, int firstRow = 1)
    {
        const QString path = app.path(name);
        test::writeXlsx(path, QStringLiteral("應收"), rows, firstRow);
        return path;
    }
    receivables::ImportCounts run(const QString &path, receivables::ImportObserver observer = {})
    {
        return receivables::ReceivablesImport(app.folder()).run(path, QStringLiteral("應收"), observer);
    }
    std::vector<QStringList> rows() { return test::tableRows(app.folder(), QStringLiteral("F_AccountData")); }

    test::TestApp app;
    const test::Rows header{{QStringLiteral("名稱"), QStringLiteral("編號"), QStringLiteral("備註"), QStringLiteral("帳號"), QStringLiteral("金額")}};
};

QStringList account(const QString &name, const QString &number, const QString &memo, const QString &code,
                    const QString &total, const QString &date = {}, const QString &paid = {}, const QString &left = {})
{
    return {name, number, memo, code, total, date, paid, left, QString()};
}

} // namespace

TEST_F(ReceivablesImportTest, InsertsNewAccountsThenUpdatesThemAndKeepsThePaymentColumns)
{
    map({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E")});
    test::Rows first = header;
    first.push_back({QStringLiteral(" 王小明 "), QStringLiteral("C001"), QStringLiteral("學費"), QStringLiteral("95120001"), 1500.0});
    first.push_back({QStringLiteral("O'Brien"), QStringLiteral("C002"), Cell{}, QStringLiteral("95120002"), 2000.0});
    const auto counts = run(book(QStringLiteral("r1.xlsx"), first));
    EXPECT_EQ(counts.written, 2);
    EXPECT_EQ(counts.notProcessed, 0);
    EXPECT_EQ(rows(), (std::vector<QStringList>{
                          account(QStringLiteral("王小明"), QStringLiteral("C001"), QStringLiteral("學費"), QStringLiteral("95120001"), QStringLiteral("1500")),
                          account(QStringLiteral("O'Brien"), QStringLiteral("C002"), QString(), QStringLiteral("95120002"), QStringLiteral("2000"))}));

    test::execute(app.folder(), "UPDATE F_AccountData SET PayDate='1130105', PayTotal='1500', N_PayTotal='0' WHERE Bankcode='95120001'");
    test::Rows second = header;
    second.push_back({QStringLiteral("王大明"), QStringLiteral("C009"), QStringLiteral("改"), QStringLiteral("95120001"), 1800.0});
    second.push_back({QStringLiteral("新"), QStringLiteral("C003"), QStringLiteral(""), QStringLiteral("95120003"), 10.0});
    second.push_back({QStringLiteral("新二"), QStringLiteral("C004"), QStringLiteral(""), QStringLiteral("95120003"), 20.0});
    EXPECT_EQ(run(book(QStringLiteral("r2.xlsx"), second)).written, 3);
    EXPECT_EQ(rows(), (std::vector<QStringList>{
                          account(QStringLiteral("王大明"), QStringLiteral("C009"), QStringLiteral("改"), QStringLiteral("95120001"), QStringLiteral("1800"),
                                  QStringLiteral("1130105"), QStringLiteral("1500"), QStringLiteral("0")),
                          account(QStringLiteral("O'Brien"), QStringLiteral("C002"), QString(), QStringLiteral("95120002"), QStringLiteral("2000")),
                          account(QStringLiteral("新二"), QStringLiteral("C004"), QString(), QStringLiteral("95120003"), QStringLiteral("20"))}))
        << "the same account twice in one sheet: inserted, then updated";
}

TEST_F(ReceivablesImportTest, AnEmptyMappingWritesEmptyValuesUnderTheEmptyAccount)
{
    test::Rows data = header;
    data.push_back({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"), 1.0});
    data.push_back({QStringLiteral("e"), QStringLiteral("f"), QStringLiteral("g"), QStringLiteral("h"), 2.0});
    EXPECT_EQ(run(book(QStringLiteral("e.xlsx"), data)).written, 2);
    EXPECT_EQ(rows(), (std::vector<QStringList>{account({}, {}, {}, {}, {})}));
}

TEST_F(ReceivablesImportTest, TheLastRowReadIsTheUsedRangesRowCount)
{
    map({QString(), QString(), QString(), QStringLiteral("A"), QStringLiteral("B")});
    test::Rows data;
    for (int i = 3; i <= 10; ++i)
        data.push_back({QStringLiteral("ACC%1").arg(i), double(i)});
    std::vector<qint64> seen;
    qint64 used = 0;
    receivables::ImportObserver observer;
    observer.started = [&](qint64 n) { used = n; };
    observer.rowDone = [&](qint64 row, const receivables::ImportCounts &) { seen.push_back(row); };
    const auto counts = run(book(QStringLiteral("low.xlsx"), data, 3), observer);
    EXPECT_EQ(used, 8) << "rows 3 to 10";
    EXPECT_EQ(seen, (std::vector<qint64>{2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(counts.written, 7);
    QStringList codes;
    for (const auto &r : rows())
        codes << r.at(3);
    EXPECT_EQ(codes, (QStringList{QString(), QStringLiteral("ACC3"), QStringLiteral("ACC4"), QStringLiteral("ACC5"),
                                  QStringLiteral("ACC6"), QStringLiteral("ACC7"), QStringLiteral("ACC8")}));
}

TEST_F(ReceivablesImportTest, NumbersBecomeTheirShortTextAndAHeaderOnlySheetWritesNothing)
{
    map({QString(), QString(), QString(), QStringLiteral("A"), QStringLiteral("B")});
    EXPECT_EQ(run(book(QStringLiteral("h.xlsx"), header)).written, 0);
    EXPECT_TRUE(rows().empty());

    test::Rows data = header;
    data.push_back({1234567890123456.0, test::Formula{QStringLiteral("=1000+500"), 1500}});
    data.push_back({QStringLiteral("0012"), 1500.25});
    run(book(QStringLiteral("n.xlsx"), data));
    ASSERT_EQ(rows().size(), 2u);
    EXPECT_EQ(rows()[0].at(3), QStringLiteral("1.23456789012346E+15"));
    EXPECT_EQ(rows()[0].at(4), QStringLiteral("1500"));
    EXPECT_EQ(rows()[1].at(3), QStringLiteral("0012"));
    EXPECT_EQ(rows()[1].at(4), QStringLiteral("1500.25"));
}

TEST_F(ReceivablesImportTest, AnErrorCellStopsTheImportNamingItAndTheRowsBeforeItStay)
{
    map({QString(), QString(), QString(), QStringLiteral("A"), QStringLiteral("B")});
    const QString path = app.path(QStringLiteral("err.xlsx"));
    test::writeZip(path, test::minimalXlsxParts(
                             "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>h</t></is></c></row>"
                             "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>OK1</t></is></c><c r=\"B2\"><v>5</v></c></row>"
                             "<row r=\"3\"><c r=\"A3\" t=\"inlineStr\"><is><t>BAD</t></is></c><c r=\"B3\" t=\"e\"><v>#DIV/0!</v></c></row>"
                             "<row r=\"4\"><c r=\"A4\" t=\"inlineStr\"><is><t>OK2</t></is></c></row></sheetData>"));
    receivables::ImportCounts last;
    receivables::ImportObserver observer;
    observer.rowDone = [&](qint64, const receivables::ImportCounts &c) { last = c; };
    try {
        receivables::ReceivablesImport(app.folder()).run(path, QStringLiteral("Sheet1"), observer);
        FAIL() << "an error value was imported";
    } catch (const platform::Error &e) {
        EXPECT_TRUE(e.description().contains(QStringLiteral("Sheet1"))) << e.what();
        EXPECT_TRUE(e.description().contains(QStringLiteral("B3"))) << e.what();
        EXPECT_TRUE(e.description().contains(QStringLiteral("#DIV/0!"))) << e.what();
    }
    EXPECT_EQ(last.written, 1);
    ASSERT_EQ(rows().size(), 1u);
    EXPECT_EQ(rows()[0].at(3), QStringLiteral("OK1"));

    platform::Database db = db::openDatabase(app.folder());
    EXPECT_FALSE(db.inTransaction());
}

TEST_F(ReceivablesImportTest, AColumnTheSheetCannotAddressOrAMissingSheetFails)
{
    map({QStringLiteral("1"), QString(), QString(), QStringLiteral("A"), QString()});
    test::Rows data = header;
    data.push_back({QStringLiteral("x")});
    const QString path = book(QStringLiteral("bad.xlsx"), data);
    EXPECT_THROW(run(path), platform::Error);
    EXPECT_THROW(receivables::ReceivablesImport(app.folder()).run(path, QStringLiteral("Nope"), {}), platform::Error);
    EXPECT_THROW(receivables::ReceivablesImport(app.folder()).run(QString(), QStringLiteral("應收"), {}), platform::Error);
    EXPECT_TRUE(rows().empty());
}

TEST_F(ReceivablesImportTest, ASheetOf40000RowsImportsWhole)
{
    map({QStringLiteral("A"), QString(), QString(), QStringLiteral("B"), QStringLiteral("C")});
    test::Rows data = header;
    for (int i = 0; i < 40000; ++i)
        data.push_back({QStringLiteral("客戶%1").arg(i), QStringLiteral("9512%1").arg(i, 8, 10, QLatin1Char('0')), double(i)});
    const auto counts = run(book(QStringLiteral("big.xlsx"), data));
    EXPECT_EQ(counts.written, 40000);
    const auto all = rows();
    ASSERT_EQ(all.size(), 40000u);
    EXPECT_EQ(all.back().at(3), QStringLiteral("951200039999"));
    EXPECT_EQ(all.back().at(4), QStringLiteral("39999"));
}

TEST_F(ReceivablesImportTest, ARowTheDatabaseRefusesIsUndoneAloneAndTheRowsBeforeItStay)
{
    map({QString(), QString(), QString(), QStringLiteral("A"), QStringLiteral("B")});
    test::execute(app.folder(), "CREATE TRIGGER refuse BEFORE INSERT ON F_AccountData WHEN NEW.Bankcode = 'BAD' "
                                "BEGIN SELECT RAISE(ABORT, 'refused by the database'); END");
    test::Rows data = header;
    data.push_back({QStringLiteral("OK1"), 1.0});
    data.push_back({QStringLiteral("BAD"), 2.0});
    data.push_back({QStringLiteral("OK2"), 3.0});
    try {
        run(book(QStringLiteral("refused.xlsx"), data));
        FAIL() << "the refused row went through";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::Database);
        EXPECT_TRUE(e.description().contains(QStringLiteral("refused by the database")));
    }
    const auto all = rows();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].at(3), QStringLiteral("OK1"));
    platform::Database db = db::openDatabase(app.folder());
    EXPECT_FALSE(db.inTransaction());
    db.execute("INSERT INTO SMdata (REC) VALUES ('x')"); // nothing was left locked
}
