#include "db/Connection.h"
#include "db/Mapping.h"
#include "platform/Error.h"
#include "receivables/ReceivablesImport.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Workbooks.h"

#include <QFileInfo>
#include <QThread>

#include <map>

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
    workbookimport::ImportCounts run(const QString &path, workbookimport::ImportObserver observer = {})
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
                                  QStringLiteral("1130105"), QStringLiteral("1500"), QStringLiteral("300")),
                          account(QStringLiteral("O'Brien"), QStringLiteral("C002"), QString(), QStringLiteral("95120002"), QStringLiteral("2000")),
                          account(QStringLiteral("新二"), QStringLiteral("C004"), QString(), QStringLiteral("95120003"), QStringLiteral("20"))}))
        << "the same account twice in one sheet: inserted, then updated; the paid row's outstanding amount follows "
           "its new amount due";
}

// Into an empty table, an account is looked up only when this import may have inserted it: an
// account named again far down the sheet, across commits, is still one row, updated.
TEST_F(ReceivablesImportTest, IntoAnEmptyTableAnAccountNamedAgainIsUpdatedNotInsertedTwice)
{
    map({QString(), QString(), QString(), QStringLiteral("A"), QStringLiteral("B")});
    test::Rows data = header;
    for (int i = 0; i < 1200; ++i)
        data.push_back({QStringLiteral("R%1").arg(i), double(i)});
    data[1100] = {QStringLiteral("R5"), 55.0};
    workbookimport::ImportObserver observer;
    observer.rowDone = [&](qint64 row, const workbookimport::ImportCounts &) {
        if (row == 2)
            QThread::msleep(2100); // old enough: the batch commits at its 256th row
    };
    const auto counts = run(book(QStringLiteral("fresh.xlsx"), data), observer);
    EXPECT_EQ(counts.written, 1200);
    EXPECT_EQ(counts.updated, 1);
    std::map<QString, QStringList> byAccount;
    for (const QStringList &row : rows())
        EXPECT_TRUE(byAccount.emplace(row.at(3), row).second) << "two rows of " << row.at(3).toStdString();
    EXPECT_EQ(byAccount.size(), 1199u);
    EXPECT_EQ(byAccount[QStringLiteral("R5")].at(4), QStringLiteral("55"));
}

TEST_F(ReceivablesImportTest, WithoutAnAccountColumnMappedNothingIsRead)
{
    test::Rows data = header;
    for (int i = 0; i < 2000; ++i)
        data.push_back({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d%1").arg(i), 1.0});
    const QString path = book(QStringLiteral("e.xlsx"), data);
    qint64 rowsSeen = 0;
    workbookimport::ImportObserver observer;
    observer.rowDone = [&](qint64, const workbookimport::ImportCounts &) { ++rowsSeen; };
    for (const QStringList &mapping : {QStringList{}, QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                                                                  QString(), QStringLiteral("E")}}) {
        if (!mapping.isEmpty())
            map(mapping);
        try {
            run(path, observer);
            FAIL() << "an import without an account column went through";
        } catch (const platform::Error &e) {
            EXPECT_TRUE(e.description().contains(QStringLiteral("欄位對應"))) << e.what();
        }
    }
    EXPECT_EQ(rowsSeen, 0);
    EXPECT_TRUE(rows().empty());
}

TEST_F(ReceivablesImportTest, RowsWithoutAnAccountAreNotStoredAndBlankRowsAreSkipped)
{
    map({QStringLiteral("A"), QString(), QString(), QStringLiteral("B"), QStringLiteral("C")});
    test::execute(app.folder(), "INSERT INTO F_AccountData VALUES ('old', '', '', '', '9', '', '', '', '')");
    test::Rows data = header;
    data.push_back({QStringLiteral("甲"), QStringLiteral("A1"), 10.0});
    data.push_back({Cell{}, Cell{}, Cell{}, QStringLiteral("not mapped")});
    data.push_back({QStringLiteral("乙"), QStringLiteral("  "), 20.0});
    data.push_back({QStringLiteral("合計"), Cell{}, 30.0});
    const auto counts = run(book(QStringLiteral("blank.xlsx"), data));
    EXPECT_EQ(counts.written, 1);
    EXPECT_EQ(counts.notProcessed, 2) << "the row without its account and the total line";
    EXPECT_EQ(rows(), (std::vector<QStringList>{account(QStringLiteral("old"), {}, {}, {}, QStringLiteral("9")),
                                                account(QStringLiteral("甲"), {}, {}, QStringLiteral("A1"), QStringLiteral("10"))}))
        << "a row stored earlier under the empty account is left alone";
}

TEST_F(ReceivablesImportTest, EveryRowIsReadWhereverTheDataStarts)
{
    map({QString(), QString(), QString(), QStringLiteral("A"), QStringLiteral("B")});
    test::Rows data;
    for (int i = 3; i <= 10; ++i)
        data.push_back({QStringLiteral("ACC%1").arg(i), double(i)});
    std::vector<qint64> seen;
    qint64 last = 0;
    workbookimport::ImportObserver observer;
    observer.started = [&](qint64 n) { last = n; };
    observer.rowDone = [&](qint64 row, const workbookimport::ImportCounts &) { seen.push_back(row); };
    const auto counts = run(book(QStringLiteral("low.xlsx"), data, 3), observer);
    EXPECT_EQ(last, 10);
    EXPECT_EQ(seen, (std::vector<qint64>{3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(counts.written, 8);
    QStringList codes;
    for (const auto &r : rows())
        codes << r.at(3);
    EXPECT_EQ(codes.size(), 8);
    EXPECT_EQ(codes.last(), QStringLiteral("ACC10"));

    // The same in CSV: two blank lines on top.
    test::writeFile(app.path(QStringLiteral("low.csv")), "\r\n,\r\nC1,1\r\nC2,2\r\nC3,3\r\n");
    const auto csv = receivables::ReceivablesImport(app.folder()).run(app.path(QStringLiteral("low.csv")), QStringLiteral("low"), {});
    EXPECT_EQ(csv.written, 3);
    EXPECT_EQ(rows().back().at(3), QStringLiteral("C3"));
}

TEST_F(ReceivablesImportTest, ADimensionClaimingBillionsOfRowsIsOnlyTheRowsThatAreThere)
{
    map({QString(), QString(), QString(), QStringLiteral("A"), QStringLiteral("B")});
    const QString path = app.path(QStringLiteral("claims.xlsx"));
    auto parts = test::minimalXlsxParts(
        "<sheetData><row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>X1</t></is></c><c r=\"B2\"><v>5</v></c></row>"
        "<row r=\"3\"><c r=\"A3\" t=\"inlineStr\"><is><t>X2</t></is></c></row></sheetData>");
    auto &sheet = parts[QStringLiteral("xl/worksheets/sheet1.xml")];
    sheet.replace("<sheetData>", "<dimension ref=\"A1:B2000000000\"/><sheetData>");
    test::writeZip(path, parts);
    const auto counts = receivables::ReceivablesImport(app.folder()).run(path, QStringLiteral("Sheet1"), {});
    EXPECT_EQ(counts.written, 2);
    EXPECT_EQ(rows().size(), 2u);
}

TEST_F(ReceivablesImportTest, NumbersBecomeTheirShortTextAndAHeaderOnlySheetWritesNothing)
{
    map({QString(), QString(), QString(), QStringLiteral("A"), QStringLiteral("B")});
    EXPECT_EQ(run(book(QStringLiteral("h.xlsx"), header)).written, 0);
    EXPECT_TRUE(rows().empty());

    test::Rows data = header;
    data.push_back({1234567890123456.0, test::Formula{QStringLiteral("=1000+500"), 1500}});
    data.push_back({QStringLiteral("0012"), 1500.25});
    data.push_back({9515088000000010.0, 1e16});
    data.push_back({-42.0, 123456789012345.5});
    run(book(QStringLiteral("n.xlsx"), data));
    ASSERT_EQ(rows().size(), 4u);
    EXPECT_EQ(rows()[2].at(3), QStringLiteral("9515088000000010"));
    EXPECT_EQ(rows()[2].at(4), QStringLiteral("1E+16")) << "from 10^16 on, the short form as before";
    EXPECT_EQ(rows()[3].at(3), QStringLiteral("-42"));
    EXPECT_EQ(rows()[3].at(4), QStringLiteral("123456789012346")) << "fractions keep 15 significant digits";
    EXPECT_EQ(rows()[0].at(3), QStringLiteral("1234567890123456")) << "an account typed as a number keeps its digits";
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
    workbookimport::ImportCounts last;
    workbookimport::ImportObserver observer;
    observer.rowDone = [&](qint64, const workbookimport::ImportCounts &c) { last = c; };
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

// Rows are read ahead of the writing, on a thread of their own; far into a sheet longer than
// what may be read ahead, a failure on either side still ends the import exactly where the
// failing row stands.
TEST_F(ReceivablesImportTest, AFailureFarIntoALongSheetStopsAtItsRowWhicheverSideFails)
{
    map({QString(), QString(), QString(), QStringLiteral("A"), QStringLiteral("B")});
    constexpr int kRows = 5000, kBadRow = 4000;
    QByteArray xml = "<sheetData>";
    for (int r = 2; r <= kRows; ++r) {
        const QByteArray n = QByteArray::number(r);
        xml += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"inlineStr\"><is><t>K" + n + "</t></is></c>"
               + (r == kBadRow ? QByteArray("<c r=\"B" + n + "\" t=\"e\"><v>#N/A</v></c>")
                               : QByteArray("<c r=\"B" + n + "\"><v>" + n + "</v></c>"))
               + "</row>";
    }
    const QString path = app.path(QStringLiteral("long.xlsx"));
    test::writeZip(path, test::minimalXlsxParts(xml + "</sheetData>"));
    workbookimport::ImportCounts stopped;
    workbookimport::ImportObserver observer;
    observer.stopped = [&](const workbookimport::ImportCounts &c) { stopped = c; };
    try {
        receivables::ReceivablesImport(app.folder()).run(path, QStringLiteral("Sheet1"), observer);
        FAIL() << "an error value was imported";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::TypeMismatch);
        EXPECT_TRUE(e.description().contains(QStringLiteral("B4000"))) << e.what();
    }
    EXPECT_EQ(stopped.written, kBadRow - 2);
    auto all = rows();
    ASSERT_EQ(all.size(), std::size_t(kBadRow - 2));
    EXPECT_EQ(all.back().at(3), QStringLiteral("K3999"));

    // The writing side fails instead: the reading stops, the rows before the refused one stay.
    test::execute(app.folder(), "DELETE FROM F_AccountData; CREATE TRIGGER refuse BEFORE INSERT ON F_AccountData "
                                "WHEN NEW.Bankcode = 'K3000' BEGIN SELECT RAISE(ABORT, 'refused'); END");
    test::Rows data = header;
    for (int r = 2; r <= kRows; ++r)
        data.push_back({QStringLiteral("K%1").arg(r), double(r)});
    EXPECT_THROW(run(book(QStringLiteral("refused.xlsx"), data)), platform::Error);
    all = rows();
    ASSERT_EQ(all.size(), 2998u);
    EXPECT_EQ(all.back().at(3), QStringLiteral("K2999"));
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

TEST_F(ReceivablesImportTest, ACommitAnotherProgramBlocksFailsTheImportAndNothingIsClaimed)
{
    map({QString(), QString(), QString(), QStringLiteral("A"), QStringLiteral("B")});
    test::Rows data = header;
    data.push_back({QStringLiteral("A1"), 1.0});
    data.push_back({QStringLiteral("A2"), 2.0});
    const QString path = book(QStringLiteral("blocked.xlsx"), data);
    workbookimport::ImportCounts shown;
    shown.written = 99;
    workbookimport::ImportObserver observer;
    observer.rowDone = [&](qint64, const workbookimport::ImportCounts &c) { shown = c; };
    observer.stopped = [&](const workbookimport::ImportCounts &stored) { shown = stored; };
    {
        test::ReaderHoldingTheDatabase reader(app.folder());
        try {
            run(path, observer);
            FAIL() << "an import whose commit failed reported success";
        } catch (const platform::Error &e) {
            EXPECT_EQ(e.number(), platform::errnum::PermissionDenied);
            EXPECT_TRUE(e.description().contains(QStringLiteral("其他程式"))) << e.what();
            EXPECT_TRUE(e.description().contains(QStringLiteral("已存入 0 筆"))) << e.what();
        }
    }
    EXPECT_EQ(shown.written, 0) << "the counters say what is stored";
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(run(path).written, 2) << "once the other program is done, the same import goes through";
}

TEST_F(ReceivablesImportTest, AFullDiskFailsTheImport)
{
    map({QString(), QString(), QString(), QStringLiteral("A"), QStringLiteral("B")});
    test::Rows data = header;
    for (int i = 0; i < 3000; ++i)
        data.push_back({QStringLiteral("ACCOUNT-%1-%2").arg(i).arg(QString(40, u'x')), double(i)});
    const QString path = book(QStringLiteral("full.xlsx"), data);
    {
        test::FileSizeLimit full(QFileInfo(app.folder().databaseFile()).size() + 4096);
        EXPECT_THROW(run(path), platform::Error);
    }
    EXPECT_TRUE(rows().empty());
    platform::Database db = db::openDatabase(app.folder());
    auto check = db.prepare("PRAGMA integrity_check");
    ASSERT_TRUE(check.next());
    EXPECT_EQ(check.text(0), QStringLiteral("ok"));
}

TEST_F(ReceivablesImportTest, ARowHoldingANulCharacterIsRefusedAndNamed)
{
    map({QStringLiteral("A"), QString(), QString(), QStringLiteral("B"), QStringLiteral("C")});
    const QString path = app.path(QStringLiteral("nulls.csv"));
    test::writeFile(path, QByteArray("name,account,total\r\nok,A1,5\r\nbad\0name,A2,6\r\nok2,A3\0,7\r\n", 55));
    const auto counts = receivables::ReceivablesImport(app.folder()).run(path, QStringLiteral("nulls"), {});
    EXPECT_EQ(counts.written, 1);
    EXPECT_EQ(counts.notProcessed, 2);
    EXPECT_EQ(counts.problems, (QStringList{QStringLiteral("第 3 列：儲存格含有 NUL 字元，未處理"),
                                            QStringLiteral("第 4 列：儲存格含有 NUL 字元，未處理")}));
    ASSERT_EQ(rows().size(), 1u);
    EXPECT_EQ(rows()[0].at(3), QStringLiteral("A1"));
}
