// .xls and .ods workbooks: files LibreOffice saved from one hand-written workbook
// (tests/data/make_workbooks.sh), read through Workbook::open like any import does.
#include "platform/Error.h"
#include "platform/Workbook.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
// Failures show the text, not its bytes.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

using namespace talvesk;
using platform::CellValue;
using platform::Workbook;

namespace {

QString dataFile(const QString &name)
{
    return QStringLiteral(TALVESK_TEST_DATA "/") + name;
}

// Every used row of a sheet as row number and the text of columns A to J, as an import reads it.
std::vector<QStringList> table(platform::Worksheet &sheet)
{
    std::vector<QStringList> rows;
    for (qint64 row = sheet.nextUsedRow(1); row > 0; row = sheet.nextUsedRow(row + 1)) {
        QStringList cells{QString::number(row)};
        for (char16_t c = u'A'; c <= u'J'; ++c)
            cells << platform::cellText(sheet, row, QStringView(&c, 1));
        rows.push_back(cells);
    }
    return rows;
}

std::vector<QStringList> rows(std::initializer_list<std::initializer_list<const char16_t *>> texts)
{
    std::vector<QStringList> out;
    for (const auto &row : texts) {
        QStringList cells;
        for (const char16_t *text : row)
            cells << QString::fromUtf16(text);
        out.push_back(cells);
    }
    return out;
}

const std::vector<QStringList> kReceivables = rows({
    {u"3", u"帳號", u"姓名", u"金額", u"到期日", u"繳費日", u"合計", u"稱呼", u"已繳", u"備註", u""},
    {u"4", u"9515088000000010", u"王小明", u"1500", u"2024/1/15", u"2024/2/29", u"3000", u"王小明先生", u"True", u"二樓  A室", u""},
    {u"5", u"9515088000000020", u"陳美玲", u"2750.5", u"2023/12/31", u"2024/3/1 09:30:00", u"5501", u"陳美玲小姐", u"False",
     u"1899/12/30 13:45:00", u""},
    {u"7", u"0012345678901234", u"林 志 強", u"-320", u"1999/12/31", u"", u"", u"", u"0.125", u"第一行\n第二行", u""},
});

// LibreOffice saves .xls without the cached result of a formula that gives text (it stores 0 and no
// STRING record), so there those two cells read as what is stored; formulas with text results
// written the way Excel does are read in XlsRecordsTest.
std::vector<QStringList> expected(const char *format)
{
    std::vector<QStringList> rows = kReceivables;
    if (QByteArrayView(format) == "xls") {
        rows[1][7] = QStringLiteral("0");
        rows[2][7] = QStringLiteral("0");
    }
    return rows;
}

class SavedWorkbook : public ::testing::TestWithParam<const char *> {};

} // namespace

TEST_P(SavedWorkbook, ReadsTheSameCellsInEveryFormat)
{
    auto book = Workbook::open(dataFile(QStringLiteral("receivables.") + QString::fromLatin1(GetParam())));
    EXPECT_EQ(book->worksheetNames(), (QStringList{QStringLiteral("說明"), QStringLiteral("應收帳款"), QStringLiteral("錯誤")})) << "workbook order";
    auto sheet = book->worksheet(QStringLiteral("應收帳款"));
    EXPECT_EQ(table(*sheet), expected(GetParam()));
    EXPECT_EQ(sheet->lastUsedRow(), 7);

    // Typed values, not only their text: the account typed as a number stays a number.
    EXPECT_EQ(sheet->cell(5, u"A").kind, CellValue::Kind::Number);
    EXPECT_EQ(sheet->cell(5, u"A").number, 9515088000000020.0);
    EXPECT_EQ(sheet->cell(4, u"A").kind, CellValue::Kind::Text);
    EXPECT_EQ(sheet->cell(4, u"D").kind, CellValue::Kind::DateTime);
    EXPECT_EQ(sheet->cell(4, u"H").kind, CellValue::Kind::Boolean);
    EXPECT_EQ(sheet->cell(6, u"A").kind, CellValue::Kind::Empty);
    // Going back starts the sheet again.
    EXPECT_EQ(platform::cellText(*sheet, 4, u"B"), QStringLiteral("王小明"));
    EXPECT_EQ(sheet->nextUsedRow(1), 3);

    auto notes = book->worksheet(QStringLiteral("說明"));
    EXPECT_EQ(platform::cellText(*notes, 1, u"A"), QStringLiteral("本活頁簿為匯入測試用"));
}

TEST_P(SavedWorkbook, AnErrorCellFailsNamingTheSheetTheCellAndTheError)
{
    auto book = Workbook::open(dataFile(QStringLiteral("receivables.") + QString::fromLatin1(GetParam())));
    auto sheet = book->worksheet(QStringLiteral("錯誤"));
    EXPECT_EQ(platform::cellText(*sheet, 1, u"A"), QStringLiteral("除以零"));
    EXPECT_EQ(sheet->cell(1, u"B").kind, CellValue::Kind::Error);
    try {
        platform::cellText(*sheet, 1, u"B");
        FAIL() << "an error cell was read as a value";
    } catch (const platform::Error &e) {
        EXPECT_TRUE(e.description().contains(QStringLiteral("錯誤"))) << e.what();
        EXPECT_TRUE(e.description().contains(QStringLiteral("B1"))) << e.what();
        EXPECT_TRUE(e.description().contains(QStringLiteral("#DIV/0!"))) << e.what();
    }
}

TEST_P(SavedWorkbook, OpensByContentWhateverTheSuffix)
{
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("bank-export.dat"));
    ASSERT_TRUE(QFile::copy(dataFile(QStringLiteral("receivables.") + QString::fromLatin1(GetParam())), copy));
    auto book = Workbook::open(copy);
    EXPECT_EQ(table(*book->worksheet(QStringLiteral("應收帳款"))), expected(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Formats, SavedWorkbook, ::testing::Values("xlsx", "xls", "ods"));
