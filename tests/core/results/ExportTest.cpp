#include "db/Connection.h"
#include "db/TableExport.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "workbook/Workbook.h"
#include "workbook/XlsxWriter.h"
#include "results/Results.h"
#include "store/StoreExport.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Volumes.h"

#include <QDir>
#include <QTemporaryDir>

#include <cmath>
#include <csignal>
#include <optional>
#ifdef _WIN32
#include <io.h>
#else
#include <sys/mount.h>
#include <sys/resource.h>
#endif
#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace talvesk;
using workbook::CellValue;
using Kind = CellValue::Kind;

namespace {

// A small file system of its own, full after `bytes`; unmounted with the object.
class SmallDisk {
public:
    explicit SmallDisk(const QString &size)
    {
#ifdef _WIN32
        Q_UNUSED(size); // no tmpfs to mount: the tests that need one are skipped
#else
        const QByteArray options = "size=" + size.toLatin1();
        mounted_ = dir_.isValid()
            && ::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0, options.constData()) == 0;
#endif
    }
    ~SmallDisk()
    {
#ifndef _WIN32
        if (mounted_)
            ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
#endif
    }
    bool mounted() const { return mounted_; }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
};

void fillStore(const test::TestApp &app, int rows)
{
    platform::Database db = db::openDatabase(app.folder());
    platform::Transaction t(db);
    auto insert = db.prepare("INSERT INTO SMdata (REC, C_NUM, BARCODE1, BARCODE2, BARCODE3, P_TOTAL) "
                             "VALUES ('2', 'CO1', ?1, ?1, ?1, ?2)");
    for (int i = 0; i < rows; ++i) {
        insert.bind(1, QStringLiteral("%1").arg(i, 20, 10, QLatin1Char('0'))).bind(2, QString::number(i % 5000));
        insert.run();
        insert.reset();
    }
    t.commit();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

std::unique_ptr<workbook::Worksheet> readBack(const QString &path)
{
    static std::unique_ptr<workbook::Workbook> book; // the sheet refers to its workbook
    book = workbook::Workbook::open(path);
    return book->worksheet(book->worksheetNames().first());
}

} // namespace

TEST(ResultsExport, CaptionsRowsInTableOrderTextThatKeepsItsDigitsAndNumericAmounts)
{
    test::TestApp app;
    test::execute(app.folder(),
                  "INSERT INTO F_AccountData VALUES ('王小明','007','學費','9512000000000001','1500','1130105','1000','500','');"
                  "INSERT INTO F_AccountData VALUES ('O''Brien','C2','','1234567890123456','12.5','','','','');"
                  "INSERT INTO F_AccountData VALUES ('Neg','C3',NULL,'3','1,500','0990105','2000','-.5','')");
    const QString path = app.path(QStringLiteral("out.xlsx"));
    EXPECT_EQ(db::exportTable(app.folder(), results::resultsLayout(), path).rows, 3);

    auto sheet = readBack(path);
    EXPECT_EQ(sheet->lastUsedRow(), 4);
    const QStringList captions{QStringLiteral("客戶名稱"), QStringLiteral("客戶編號"), QStringLiteral("應收款項備註"), QStringLiteral("虛擬帳號"),
                               QStringLiteral("應收金額"), QStringLiteral("入帳日期"), QStringLiteral("入帳金額"), QStringLiteral("未入帳金額")};
    const char *columns[] = {"A", "B", "C", "D", "E", "F", "G", "H"};
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(sheet->cell(1, QString::fromLatin1(columns[c])).text, captions.at(c));

    EXPECT_EQ(sheet->cell(2, u"A").text, QStringLiteral("王小明"));
    EXPECT_EQ(sheet->cell(2, u"B").kind, Kind::Text);
    EXPECT_EQ(sheet->cell(2, u"B").text, QStringLiteral("007"));
    EXPECT_EQ(sheet->cell(2, u"D").kind, Kind::Text);
    EXPECT_EQ(sheet->cell(2, u"D").text, QStringLiteral("9512000000000001"));
    EXPECT_EQ(sheet->cell(2, u"E").kind, Kind::Number);
    EXPECT_EQ(sheet->cell(2, u"E").number, 1500);
    EXPECT_EQ(sheet->cell(2, u"F").kind, Kind::Text) << "dates keep their leading digits as text";
    EXPECT_EQ(sheet->cell(2, u"F").text, QStringLiteral("1130105"));
    EXPECT_EQ(sheet->cell(2, u"H").number, 500);
    EXPECT_EQ(sheet->cell(3, u"A").text, QStringLiteral("O'Brien"));
    EXPECT_EQ(sheet->cell(3, u"C").kind, Kind::Empty) << "an empty value is an empty cell";
    EXPECT_EQ(sheet->cell(3, u"D").text, QStringLiteral("1234567890123456"));
    EXPECT_EQ(sheet->cell(3, u"E").number, 12.5);
    EXPECT_EQ(sheet->cell(4, u"C").kind, Kind::Empty) << "a missing value is an empty cell";
    EXPECT_EQ(sheet->cell(4, u"E").kind, Kind::Number) << "typed with grouping, read as the lookup reads it";
    EXPECT_EQ(sheet->cell(4, u"E").number, 1500);
    EXPECT_EQ(sheet->cell(4, u"F").text, QStringLiteral("0990105"));
    EXPECT_EQ(sheet->cell(4, u"H").number, -0.5);
    EXPECT_EQ(sheet->cell(5, u"A").kind, Kind::Empty);
}

// A spreadsheet's SUM counts every amount the program counts: what reads as a number is written
// as exactly that number, cents and sign included; what does not stays as it was typed.
TEST(ResultsExport, AmountsThatReadAsNumbersAreThoseNumbersAndTheRestStayText)
{
    test::TestApp app;
    const struct {
        const char *stored;
        std::optional<double> number;
    } amounts[] = {{"45,000", 45000},       {" -1,234.56 ", -1234.56}, {"1,234,567.89", 1234567.89},
                   {"0.1", 0.1},           {"1E3", 1000},             {"-0", 0},
                   {"12元", std::nullopt}, {"1,x", std::nullopt},     {"1E999", std::nullopt}};
    {
        platform::Database db = db::openDatabase(app.folder());
        auto insert = db.prepare("INSERT INTO F_AccountData (Bankcode, Total, PayTotal, N_PayTotal) VALUES (?1, ?2, ?2, ?2)");
        int n = 0;
        for (const auto &a : amounts) {
            insert.bind(1, QStringLiteral("A%1").arg(++n)).bind(2, QString::fromUtf8(a.stored));
            insert.run();
            insert.reset();
        }
        test::execute(app.folder(), "INSERT INTO SMdata (BARCODE2, P_TOTAL) VALUES ('B1', '1,500')");
    }
    const QString path = app.path(QStringLiteral("amounts.xlsx"));
    db::exportTable(app.folder(), results::resultsLayout(), path);
    auto sheet = readBack(path);
    int row = 1;
    for (const auto &a : amounts) {
        ++row;
        for (const char16_t *column : {u"E", u"G", u"H"}) {
            const CellValue cell = sheet->cell(row, column);
            if (a.number) {
                EXPECT_EQ(cell.kind, Kind::Number) << a.stored;
                EXPECT_EQ(cell.number, *a.number) << a.stored;
                EXPECT_EQ(std::signbit(cell.number), *a.number < 0) << a.stored;
            } else {
                EXPECT_EQ(cell.kind, Kind::Text) << a.stored;
                EXPECT_EQ(cell.text, QString::fromUtf8(a.stored));
            }
        }
    }

    const QString store = app.path(QStringLiteral("store.xlsx"));
    db::exportTable(app.folder(), store::storeLayout(), store);
    sheet = readBack(store);
    EXPECT_EQ(sheet->cell(2, u"J").kind, Kind::Number);
    EXPECT_EQ(sheet->cell(2, u"J").number, 1500);
}

TEST(StoreExport, AnEmptyTableGivesTheCaptionRowOnlyAndBarcodesStayText)
{
    test::TestApp app;
    const QString empty = app.path(QStringLiteral("empty.xlsx"));
    EXPECT_EQ(db::exportTable(app.folder(), store::storeLayout(), empty).rows, 0);
    auto sheet = readBack(empty);
    EXPECT_EQ(sheet->lastUsedRow(), 1);
    EXPECT_EQ(sheet->cell(1, u"A").text, QStringLiteral("錄別"));
    EXPECT_EQ(sheet->cell(1, u"J").text, QStringLiteral("繳款金額"));
    // The sheets are named after what they hold.
    EXPECT_EQ(workbook::Workbook::open(empty)->worksheetNames(), QStringList{QStringLiteral("超商銷帳資料")});
    const QString results = app.path(QStringLiteral("results.xlsx"));
    db::exportTable(app.folder(), results::resultsLayout(), results);
    EXPECT_EQ(workbook::Workbook::open(results)->worksheetNames(), QStringList{QStringLiteral("銷帳結果")});

    test::execute(app.folder(), "INSERT INTO SMdata VALUES ('2','00012345','AG01','S001','20240105','20240104','131231A12',"
                                "'00000000000000000001','010105000001500','1500')");
    const QString one = app.path(QStringLiteral("one.xlsx"));
    db::exportTable(app.folder(), store::storeLayout(), one);
    sheet = readBack(one);
    EXPECT_EQ(sheet->cell(2, u"B").text, QStringLiteral("00012345"));
    EXPECT_EQ(sheet->cell(2, u"H").text, QStringLiteral("00000000000000000001"));
    EXPECT_EQ(sheet->cell(2, u"I").text, QStringLiteral("010105000001500"));
    EXPECT_EQ(sheet->cell(2, u"J").kind, Kind::Number);
}

TEST(TableExport, FortyThousandRowsExportWholeAndAFailureLeavesNoFile)
{
    test::TestApp app;
    {
        platform::Database db = db::openDatabase(app.folder());
        platform::Transaction t(db);
        auto insert = db.prepare("INSERT INTO SMdata (BARCODE2, P_TOTAL) VALUES (?1, ?2)");
        for (int i = 0; i < 40000; ++i) {
            insert.bind(1, QString::number(i)).bind(2, QString::number(i));
            insert.run();
            insert.reset();
        }
        t.commit();
    }
    const QString path = app.path(QStringLiteral("big.xlsx"));
    qint64 lastProgress = 0;
    EXPECT_EQ(db::exportTable(app.folder(), store::storeLayout(), path, [&](qint64 done, qint64 total) {
                  EXPECT_EQ(total, 40000);
                  lastProgress = done;
              }).rows,
              40000);
    EXPECT_EQ(lastProgress, 40000);
    auto sheet = readBack(path);
    EXPECT_EQ(sheet->lastUsedRow(), 40001);
    EXPECT_EQ(sheet->cell(40001, u"H").text, QStringLiteral("39999"));

    // Into a folder that is not there: an error, and nothing under that name or a scratch name.
    const QString nowhere = app.path(QStringLiteral("no/such/folder/x.xlsx"));
    EXPECT_THROW(db::exportTable(app.folder(), store::storeLayout(), nowhere), platform::Error);
    EXPECT_FALSE(platform::fileExists(nowhere));
    EXPECT_FALSE(platform::fileExists(nowhere + QStringLiteral(".partial")));
}

TEST(TableExport, ATableLongerThanAWorksheetIsRefusedBeforeAnythingIsWritten)
{
    test::TestApp app;
    test::execute(app.folder(), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1048576) "
                                "INSERT INTO SMdata (BARCODE2) SELECT i FROM n");
    const QString path = app.path(QStringLiteral("huge.xlsx"));
    try {
        db::exportTable(app.folder(), store::storeLayout(), path);
        FAIL() << "exported more rows than a worksheet holds";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::Overflow);
    }
    EXPECT_FALSE(platform::fileExists(path));
    EXPECT_FALSE(platform::fileExists(path + QStringLiteral(".partial")));
}

TEST(TableExport, FileNames)
{
    test::TestApp app(test::TestApp::Empty);
#ifdef _WIN32
    // The user's own documents folder (Windows asks the shell for it, not $HOME).
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
#else
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", app.folder().root().toUtf8());
    const QString documents = app.folder().root();
#endif
    const QDateTime when(QDate(2024, 1, 5), QTime(9, 8, 7));
    const QString first = db::exportPath(QStringLiteral("銷帳結果"), when);
    EXPECT_TRUE(first.endsWith(QStringLiteral("/銷帳結果_20240105_090807.xlsx"))) << first.toStdString();
    EXPECT_TRUE(first.startsWith(documents)) << first.toStdString();
    test::writeFile(first, "taken");
    EXPECT_TRUE(db::exportPath(QStringLiteral("銷帳結果"), when).endsWith(QStringLiteral("_090807 (2).xlsx")));
#ifdef _WIN32
    QFile::remove(first);
#else
    qputenv("HOME", home);
#endif
}

TEST(Clearing, EmptiesOneTableLeavesTheOtherAndAFailureLeavesItWhole)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("1"));
    test::addReceivable(app.folder(), QStringLiteral("A2"), QStringLiteral("2"));
    test::execute(app.folder(), "INSERT INTO SMdata (BARCODE2) VALUES ('B1')");

    db::clearTable(app.folder(), QStringLiteral("F_AccountData"));
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).empty());
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("SMdata")).size(), 1u);
    db::clearTable(app.folder(), QStringLiteral("F_AccountData")); // already empty: fine

    test::execute(app.folder(), "INSERT INTO SMdata (BARCODE2) VALUES ('B2');"
                                "CREATE TRIGGER keep BEFORE DELETE ON SMdata WHEN OLD.BARCODE2 = 'B2' "
                                "BEGIN SELECT RAISE(ABORT, 'kept'); END");
    EXPECT_THROW(db::clearTable(app.folder(), QStringLiteral("SMdata")), platform::Error);
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("SMdata")).size(), 2u) << "all or nothing";
}

TEST(Clearing, KeepsTheDatabaseAsItWasBeforeAndHoldsItMeanwhile)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("1"));
    test::execute(app.folder(), "INSERT INTO SMdata (BARCODE2) VALUES ('B1')");
    ::chmod(QFile::encodeName(app.folder().databaseFile()).constData(), 0600);

    const QString kept = db::clearTable(app.folder(), QStringLiteral("SMdata"));
    EXPECT_EQ(kept, app.folder().databaseFolder() + QStringLiteral("/BeforeClearStore.mdb"));
    {
        platform::Database copy = platform::Database::open(kept, platform::Database::ReadOnly);
        auto q = copy.prepare("SELECT BARCODE2 FROM SMdata");
        ASSERT_TRUE(q.next());
        EXPECT_EQ(q.text(0), QStringLiteral("B1"));
    }
    EXPECT_TRUE(test::hasMode(kept, 0600u)) << "the copy is as private as the database";
    EXPECT_EQ(db::clearTable(app.folder(), QStringLiteral("F_AccountData")),
              app.folder().databaseFolder() + QStringLiteral("/BeforeClearReceivables.mdb"));

    // Another program in the middle of a write: the clearing waits, then gives up with 70.
    test::addReceivable(app.folder(), QStringLiteral("A2"), QStringLiteral("2"));
    platform::Database writer = db::openDatabase(app.folder());
    {
        platform::Transaction open(writer);
        writer.execute("INSERT INTO F_AccountData (Bankcode) VALUES ('A3')");
        try {
            db::clearTable(app.folder(), QStringLiteral("F_AccountData"));
            FAIL() << "cleared under a writer";
        } catch (const platform::Error &e) {
            EXPECT_EQ(e.number(), platform::errnum::PermissionDenied);
        }
        open.commit();
    }
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 2u);

    // A safety copy that cannot be written whole fails the clearing and leaves none of its
    // scratch files behind.
    fillStore(app, 3000);
    {
        test::FileSizeLimit limit(64 * 1024);
        EXPECT_THROW(db::clearTable(app.folder(), QStringLiteral("SMdata")), platform::Error);
    }
    for (const QString &name : entries(app.folder().databaseFolder()))
        EXPECT_FALSE(name.contains(QStringLiteral(".partial"))) << name.toStdString();
}

TEST(Clearing, AReadOnlyDatabaseIsRefused)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("1"));
    ::chmod(QFile::encodeName(app.folder().databaseFile()).constData(), 0444);
    try {
        db::clearTable(app.folder(), QStringLiteral("F_AccountData"));
        FAIL() << "cleared a read-only database";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::PermissionDenied);
    }
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 1u);
}

// The rows wait in a scratch file that the library fills without looking at the result: a limit
// that stops it part-way once gave a shortened workbook reported as complete.
TEST(TableExport, ARowsFileThatCannotGrowFailsTheExportAndLeavesTheOldWorkbook)
{
    test::TestApp app;
    fillStore(app, 30000);
    const QString path = app.path(QStringLiteral("out/store.xlsx"));
    QDir().mkpath(app.path(QStringLiteral("out")));
    test::writeFile(path, "the workbook of last month");
    {
        test::FileSizeLimit limit(1024 * 1024);
        try {
            db::exportTable(app.folder(), store::storeLayout(), path);
            FAIL() << "a shortened workbook was reported as exported";
        } catch (const platform::Error &e) {
            EXPECT_EQ(e.number(), platform::errnum::DeviceIo) << e.what();
            EXPECT_TRUE(e.description().contains(QStringLiteral("暫存檔寫入失敗"))) << e.what();
        }
    }
    EXPECT_EQ(test::readFile(path), QByteArray("the workbook of last month"));
    EXPECT_EQ(entries(app.path(QStringLiteral("out"))), QStringList{QStringLiteral("store.xlsx")});

    // Without the limit the same export completes, replacing the old file but not its mode.
    ::chmod(QFile::encodeName(path).constData(), 0640);
    EXPECT_EQ(db::exportTable(app.folder(), store::storeLayout(), path).rows, 30000);
    EXPECT_EQ(readBack(path)->lastUsedRow(), 30001);
    EXPECT_TRUE(test::hasMode(path, 0640u));
    EXPECT_EQ(entries(app.path(QStringLiteral("out"))), QStringList{QStringLiteral("store.xlsx")});
}

TEST(TableExport, AFullScratchFolderOrTargetFolderFailsTheExport)
{
    SmallDisk full(QStringLiteral("256k"));
    if (!full.mounted())
        GTEST_SKIP() << "no permission to mount a small file system here";
    test::TestApp app;
    fillStore(app, 30000);

    // The scratch folder full, the target's folder not: the case of a full /tmp.
    {
        const QString path = app.path(QStringLiteral("store.xlsx"));
        workbook::XlsxWriter out(path, full.path());
        try {
            for (int row = 0; row < 30000; ++row) {
                for (int c = 0; c < 10; ++c)
                    out.text(row, c, QStringLiteral("%1").arg(row, 20, 10, QLatin1Char('0')));
            }
            out.finish();
            FAIL() << "finished with the scratch folder full";
        } catch (const platform::Error &e) {
            EXPECT_EQ(e.number(), platform::errnum::DeviceIo) << e.what();
        }
        EXPECT_FALSE(platform::fileExists(path));
    }

    // The target's folder full: an old file there stays as it was.
    const QString path = full.path() + QStringLiteral("/store.xlsx");
    test::writeFile(path, "old");
    EXPECT_THROW(db::exportTable(app.folder(), store::storeLayout(), path), platform::Error);
    EXPECT_EQ(test::readFile(path), QByteArray("old"));
    EXPECT_EQ(entries(full.path()), QStringList{QStringLiteral("store.xlsx")});
}

TEST(Export, ACellLongerThanACellHoldsIsCutAndTheExportSaysWhere)
{
    test::TestApp app;
    // 40,000 characters, one of them outside the basic plane at the cut: it is not split.
    const QString longText = QString(32766, u'字') + QString::fromUcs4(U"\U00020000") + QString(1233, u'x');
    {
        platform::Database db = db::openDatabase(app.folder());
        auto insert = db.prepare("INSERT INTO F_AccountData VALUES ('n', '1', ?1, 'A1', '5', '', '', '', '')");
        insert.bind(1, QStringLiteral("short")).run();
        insert.reset();
        insert.bind(1, longText).run();
        insert.reset();
        insert.bind(1, longText).run();
    }
    const QString path = app.path(QStringLiteral("long.xlsx"));
    const auto result = db::exportTable(app.folder(), results::resultsLayout(), path);
    EXPECT_EQ(result.rows, 3);
    EXPECT_EQ(result.cutCells, 2);
    EXPECT_EQ(result.firstCutRow, 3);
    EXPECT_EQ(result.firstCutColumn, QStringLiteral("C"));
    EXPECT_EQ(db::cutCellsNote(result), QStringLiteral("有 2 個儲存格超過 32767 個字元，已截斷（第一個在第 3 列 C 欄）"));
    auto sheet = readBack(path);
    const QString cut = sheet->cell(3, u"C").text;
    EXPECT_EQ(cut.toUcs4().size(), 32767);
    EXPECT_TRUE(cut.endsWith(QString::fromUcs4(U"\U00020000")));
    EXPECT_EQ(sheet->cell(2, u"C").text, QStringLiteral("short"));
    EXPECT_TRUE(db::cutCellsNote(db::ExportResult{}).isEmpty());
}
