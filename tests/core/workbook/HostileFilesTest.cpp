// Crafted workbooks and text files: each ends in a clear refusal or a bounded, correct reading.
#include "workbook/CsvWorkbook.h"
#include "platform/Error.h"
#include "workbook/SheetCells.h"
#include "platform/TextLines.h"
#include "workbook/Workbook.h"
#include "support/TestApp.h"
#include "support/Workbooks.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace talvesk;
using workbook::Workbook;

namespace {

// The error a reading ends in, or a failed test when it reads through.
platform::Error refusal(const std::function<void()> &read)
{
    try {
        read();
    } catch (const platform::Error &e) {
        return e;
    }
    ADD_FAILURE() << "the file was read without a refusal";
    return platform::Error(0, QString());
}

void readWhole(const QString &path, const workbook::WorkbookLimits &limits = {})
{
    auto book = Workbook::open(path, limits);
    auto sheet = book->worksheet(book->worksheetNames().value(0));
    sheet->lastUsedRow();
    for (qint64 row = sheet->nextUsedRow(1); row > 0; row = sheet->nextUsedRow(row + 1))
        sheet->cell(row, u"A");
}

} // namespace

TEST(HostileWorkbooks, ASharedStringTablePastItsBoundIsRefusedNamingTheFileAndTheLimit)
{
    test::TestApp app(test::TestApp::Empty);
    QByteArray strings;
    for (int i = 0; i < 200000; ++i)
        strings += "<si><t></t></si>";
    const QString path = app.path(QStringLiteral("strings.xlsx"));
    test::writeZip(path, test::minimalXlsxParts("<sheetData/>", strings));
    workbook::WorkbookLimits limits;
    limits.maxSharedStringBytes = 512 << 10; // 200,000 empty strings need 800 kB of offsets alone
    const auto e = refusal([&] { readWhole(path, limits); });
    EXPECT_TRUE(e.description().contains(QStringLiteral("strings.xlsx"))) << e.what();
    EXPECT_TRUE(e.description().contains(QStringLiteral("共用字串表"))) << e.what();
    EXPECT_NO_THROW(readWhole(path)) << "within the default bound the same table reads";
}

TEST(HostileWorkbooks, MoreCellsInARowThanAWorksheetHasColumnsIsRefused)
{
    test::TestApp app(test::TestApp::Empty);
    QByteArray row = "<sheetData><row r=\"2\">";
    for (int i = 0; i < 16385; ++i)
        row += "<c><v>1</v></c>";
    row += "</row></sheetData>";
    const QString path = app.path(QStringLiteral("wide.xlsx"));
    test::writeZip(path, test::minimalXlsxParts(row));
    const auto e = refusal([&] { readWhole(path); });
    EXPECT_TRUE(e.description().contains(QStringLiteral("16384"))) << e.what();
}

TEST(HostileWorkbooks, ReferencesPastTheLastColumnOrRowAreRefusedWithoutOverflow)
{
    test::TestApp app(test::TestApp::Empty);
    for (const char *sheet : {"<sheetData><row r=\"1\"><c r=\"AAAAAAA1\"><v>1</v></c></row></sheetData>",
                              "<sheetData><row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row></sheetData>",
                              "<sheetData><row r=\"1048577\"><c r=\"A1048577\"><v>1</v></c></row></sheetData>",
                              "<sheetData><row r=\"99999999999999999999\"><c><v>1</v></c></row></sheetData>"}) {
        SCOPED_TRACE(sheet);
        const QString path = app.path(QStringLiteral("ref.xlsx"));
        test::writeZip(path, test::minimalXlsxParts(sheet));
        const auto e = refusal([&] { readWhole(path); });
        EXPECT_TRUE(e.description().contains(QStringLiteral("ref.xlsx"))) << e.what();
    }
    // The last column and the last row themselves read.
    const QString edge = app.path(QStringLiteral("edge.xlsx"));
    test::writeZip(edge, test::minimalXlsxParts("<sheetData><row r=\"1048576\"><c r=\"XFD1048576\"><v>7</v></c></row></sheetData>"));
    auto book = Workbook::open(edge);
    auto sheet = book->worksheet(QStringLiteral("Sheet1"));
    EXPECT_EQ(sheet->nextUsedRow(2), 1048576);
    EXPECT_EQ(sheet->cell(1048576, u"XFD").number, 7);
}

// (Windows has neither named pipes in a folder nor /dev/zero.)
#ifndef _WIN32
TEST(HostileFiles, OnlyRegularFilesAreRead)
{
    test::TestApp app(test::TestApp::Empty);
    const QString fifo = app.path(QStringLiteral("pipe.xlsx"));
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const QString fifoCsv = app.path(QStringLiteral("pipe.csv"));
    ASSERT_EQ(mkfifo(fifoCsv.toLocal8Bit().constData(), 0600), 0);
    // A pipe nobody writes to would block a reader forever; /dev/zero would never end.
    for (const QString &path : {fifo, fifoCsv, QStringLiteral("/dev/zero"), app.path(QString())}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(refusal([&] { Workbook::open(path); }).number(), platform::errnum::PathFileAccess);
        EXPECT_EQ(refusal([&] { platform::TextLineReader reader(path); }).number(), platform::errnum::PathFileAccess);
    }
}
#endif

TEST(HostileFiles, ACsvPastTheWorksheetsBoundsIsRefusedWhenOpenedNamingTheFileAndTheRow)
{
    test::TestApp app(test::TestApp::Empty);
    // The last row itself, then blank lines: no more rows than a worksheet has.
    const QString full = app.path(QStringLiteral("full.csv"));
    test::writeFile(full, QByteArray("x\n").repeated(workbook::kMaxRows) + "\r\n\n,\n");
    auto book = Workbook::open(full);
    auto sheet = book->worksheet(QStringLiteral("full"));
    EXPECT_EQ(sheet->lastUsedRow(), workbook::kMaxRows);
    EXPECT_EQ(sheet->nextUsedRow(workbook::kMaxRows), workbook::kMaxRows);
    EXPECT_EQ(sheet->cell(workbook::kMaxRows, u"A").text, QStringLiteral("x"));
    EXPECT_EQ(sheet->nextUsedRow(workbook::kMaxRows + 1), 0);

    const QString more = app.path(QStringLiteral("more.csv"));
    test::writeFile(more, QByteArray("x\n").repeated(workbook::kMaxRows) + "\ny\n");
    platform::Error e = refusal([&] { Workbook::open(more); });
    EXPECT_EQ(e.number(), platform::errnum::PathFileAccess);
    EXPECT_TRUE(e.description().contains(QStringLiteral("more.csv"))) << e.what();
    EXPECT_TRUE(e.description().contains(QStringLiteral("1 到 1048576"))) << e.what();

    // A quote never closed would take the rest of the file as one field.
    const QString open = app.path(QStringLiteral("open.csv"));
    test::writeFile(open, "a,b\nc,d\ne,\"" + QByteArray(workbook::CsvWorkbook::kMaxFieldBytes + 1, 'x'));
    e = refusal([&] { Workbook::open(open); });
    EXPECT_TRUE(e.description().contains(QStringLiteral("open.csv"))) << e.what();
    EXPECT_TRUE(e.description().contains(QStringLiteral("第 3 列 B 欄"))) << e.what();
    test::writeFile(open, "a,b\nc,d\ne,\"" + QByteArray(workbook::CsvWorkbook::kMaxFieldBytes, 'x'));
    EXPECT_EQ(Workbook::open(open)->worksheet(QStringLiteral("open"))->cell(3, u"B").text.size(),
              workbook::CsvWorkbook::kMaxFieldBytes);

    // As many fields as a row has cells, and one more.
    const QString wide = app.path(QStringLiteral("wide.csv"));
    test::writeFile(wide, "a\n" + QByteArray(workbook::kMaxColumns - 1, ',') + "last\n");
    EXPECT_EQ(Workbook::open(wide)->worksheet(QStringLiteral("wide"))->cell(2, u"XFD").text, QStringLiteral("last"));
    test::writeFile(wide, "a\n" + QByteArray(workbook::kMaxColumns, ',') + "last\n");
    e = refusal([&] { Workbook::open(wide); });
    EXPECT_TRUE(e.description().contains(QStringLiteral("第 2 列的儲存格超過工作表的上限 16384 欄"))) << e.what();
}

TEST(HostileFiles, NulCharactersAreKeptAsReadSoThatImportsCanRefuseThem)
{
    test::TestApp app(test::TestApp::Empty);
    const QString csv = app.path(QStringLiteral("nulls.csv"));
    test::writeFile(csv, QByteArray("a,b\r\nA\0B,1\r\n", 12));
    auto book = Workbook::open(csv);
    EXPECT_EQ(book->worksheet(QStringLiteral("nulls"))->cell(2, u"A").text, QString::fromUtf16(u"A\0B", 3));
}

TEST(HostileWorkbooks, ANumberInADateFormatThatNoDateHasIsTakenAsTheNumber)
{
    // Found by fuzz_xlsx: a huge serial in a date format overflowed the conversion to a date.
    test::TestApp app(test::TestApp::Empty);
    const QByteArray styles = "<cellXfs count=\"2\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/></cellXfs>";
    const QString path = app.path(QStringLiteral("dates.xlsx"));
    test::writeZip(path, test::minimalXlsxParts("<sheetData><row r=\"1\"><c r=\"A1\" s=\"1\"><v>1e300</v></c>"
                                                "<c r=\"B1\" s=\"1\"><v>-9.3e18</v></c><c r=\"C1\" s=\"1\"><v>45296</v></c>"
                                                "<c r=\"D1\" s=\"1\"><v>2958466</v></c></row></sheetData>",
                                                {}, styles));
    auto book = Workbook::open(path);
    auto sheet = book->worksheet(QStringLiteral("Sheet1"));
    EXPECT_EQ(workbook::cellText(*sheet, 1, u"A"), QStringLiteral("1E+300"));
    EXPECT_EQ(workbook::cellText(*sheet, 1, u"B"), QStringLiteral("-9.3E+18"));
    EXPECT_EQ(workbook::cellText(*sheet, 1, u"C"), QStringLiteral("2024/1/5"));
    EXPECT_EQ(workbook::cellText(*sheet, 1, u"D"), QStringLiteral("2958466")) << "the day after 9999-12-31";
}

namespace {

// A one-sheet .ods ("S") whose table holds `rows`.
void writeOds(const QString &path, const QByteArray &rows)
{
    test::writeZip(path, {{QStringLiteral("mimetype"), "application/vnd.oasis.opendocument.spreadsheet"},
                          {QStringLiteral("content.xml"),
                           "<office:document-content xmlns:office=\"o\" xmlns:table=\"t\" xmlns:text=\"x\"><office:body>"
                           "<office:spreadsheet><table:table table:name=\"S\">"
                               + rows + "</table:table></office:spreadsheet></office:body></office:document-content>"}});
}

QByteArray xlsxRows(const QByteArray &secondRow)
{
    return "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"3\">" + secondRow + "</row></sheetData>";
}

} // namespace

// A small zip inflates to any size: past a cell's bound the text, a tag, a run of blanks and the
// nesting are each refused where they are met, before memory follows them.
TEST(HostileWorkbooks, WhatNoCellCouldHoldIsRefusedNamingWhereItIs)
{
    test::TestApp app(test::TestApp::Empty);
    const QByteArray big(workbook::kMaxCellBytes + 1, 'x');
    QByteArray runs;
    for (int i = 0; i < 17; ++i)
        runs += "<r><t>" + QByteArray(64 << 10, 'y') + "</t></r>";
    QByteArray deep;
    for (int i = 0; i < 300; ++i)
        deep += "<x>";
    const QString xlsx = app.path(QStringLiteral("big.xlsx"));
    const QString ods = app.path(QStringLiteral("big.ods"));
    const struct {
        const char *what;
        QString path;
        std::map<QString, QByteArray> parts;
        QString where;
    } cases[] = {
        {"inline text", xlsx, test::minimalXlsxParts(xlsxRows("<c r=\"B3\" t=\"inlineStr\"><is><t>" + big + "</t></is></c>")),
         QStringLiteral("工作表 Sheet1 第 3 列 B 欄的內容超過 1 MB 的上限")},
        {"text in many runs", xlsx, test::minimalXlsxParts(xlsxRows("<c r=\"C3\" t=\"inlineStr\"><is>" + runs + "</is></c>")),
         QStringLiteral("工作表 Sheet1 第 3 列 C 欄的內容超過")},
        {"a cached value", xlsx, test::minimalXlsxParts(xlsxRows("<c r=\"D3\" t=\"str\"><v>" + big + "</v></c>")),
         QStringLiteral("工作表 Sheet1 第 3 列 D 欄的內容超過")},
        {"a shared string", xlsx, test::minimalXlsxParts(xlsxRows({}), "<si><t>a</t></si><si><t>" + big + "</t></si>"),
         QStringLiteral("共用字串表第 2 個字串的內容超過")},
        {"a shared string a cell names", xlsx,
         test::minimalXlsxParts(xlsxRows("<c r=\"A3\" t=\"s\"><v>2</v></c>"), "<si><t>a</t></si><si><t>" + big + "</t></si><si><t>c</t></si>"),
         QStringLiteral("共用字串表第 2 個字串的內容超過")},
        {"an attribute", xlsx, test::minimalXlsxParts(xlsxRows("<c r=\"A3\" x=\"" + big + "\"><v>1</v></c>")),
         QStringLiteral("工作表 Sheet1 第 3 列的內容超過")},
        {"a run of blanks", xlsx, test::minimalXlsxParts(xlsxRows(QByteArray(workbook::kMaxCellBytes + 1, ' ') + "<c r=\"A3\"><v>1</v></c>")),
         QStringLiteral("工作表 Sheet1 第 3 列的內容超過")},
        {"blanks between rows", xlsx,
         test::minimalXlsxParts("<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>" + QByteArray(workbook::kMaxCellBytes + 1, '\n')
                                + "</sheetData>"),
         QStringLiteral("工作表 Sheet1 第 1 列之後的內容超過")},
        {"nesting", xlsx, test::minimalXlsxParts(xlsxRows("<c r=\"A3\"><v>1</v>" + deep)), QStringLiteral("元素的層次超過 256 層")},
        {"ods text", ods, {}, QStringLiteral("工作表 S 第 2 列 B 欄的內容超過 1 MB 的上限")},
        {"ods spaces", ods, {}, QStringLiteral("工作表 S 第 2 列 B 欄的內容超過")},
        {"ods paragraphs", ods, {}, QStringLiteral("工作表 S 第 2 列 B 欄的內容超過")},
    };
    const QByteArray odsRow = "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>a</text:p></table:table-cell></table:table-row>"
                              "<table:table-row><table:table-cell/><table:table-cell office:value-type=\"string\">";
    const std::map<std::string, QByteArray> odsCells = {
        {"ods text", "<text:p>" + big + "</text:p>"},
        {"ods spaces", "<text:p>a<text:s text:c=\"9223372036854775807\"/></text:p>"},
        {"ods paragraphs", QByteArray("<text:p/>").repeated(workbook::kMaxCellBytes + 2)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.path == ods)
            writeOds(ods, odsRow + odsCells.at(c.what) + "</table:table-cell></table:table-row>");
        else
            test::writeZip(c.path, c.parts);
        const auto e = refusal([&] { readWhole(c.path); });
        EXPECT_EQ(e.number(), platform::errnum::PathFileAccess);
        EXPECT_TRUE(e.description().contains(QFileInfo(c.path).fileName())) << e.what();
        EXPECT_TRUE(e.description().contains(c.where)) << e.what();
    }

    // The longest text a cell holds reads whole, in every reader.
    const QString longest = QString(32767, QChar(0x5B57));
    test::writeZip(xlsx, test::minimalXlsxParts(xlsxRows("<c r=\"B3\" t=\"inlineStr\"><is><t>" + longest.toUtf8() + "</t></is></c>")));
    EXPECT_EQ(Workbook::open(xlsx)->worksheet(QStringLiteral("Sheet1"))->cell(3, u"B").text, longest);
    writeOds(ods, odsRow + "<text:p>" + longest.toUtf8() + "</text:p></table:table-cell></table:table-row>");
    EXPECT_EQ(Workbook::open(ods)->worksheet(QStringLiteral("S"))->cell(2, u"B").text, longest);
}

// A row is bounded as a whole too: sixteen cells just within the bound are more than a row holds.
TEST(HostileWorkbooks, ARowPastItsBoundIsRefusedNamingTheRow)
{
    test::TestApp app(test::TestApp::Empty);
    const QByteArray text(workbook::kMaxCellBytes - 16, 'x');
    QByteArray xlsxCells, odsCells;
    for (int i = 0; i < 17; ++i) {
        xlsxCells += "<c t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
        odsCells += "<table:table-cell office:value-type=\"string\"><text:p>" + text + "</text:p></table:table-cell>";
    }
    const QString xlsx = app.path(QStringLiteral("row.xlsx"));
    test::writeZip(xlsx, test::minimalXlsxParts(xlsxRows(xlsxCells)));
    auto e = refusal([&] { readWhole(xlsx); });
    EXPECT_TRUE(e.description().contains(QStringLiteral("工作表 Sheet1 第 3 列超過 16 MB 的上限"))) << e.what();
    const QString ods = app.path(QStringLiteral("row.ods"));
    writeOds(ods, "<table:table-row>" + odsCells + "</table:table-row>");
    e = refusal([&] { readWhole(ods); });
    EXPECT_TRUE(e.description().contains(QStringLiteral("工作表 S 第 1 列超過 16 MB 的上限"))) << e.what();
}

// What the readers pass over (comments, processing instructions, elements they do not read) is
// read through once and not kept, however long: the cells around it read as written, whichever
// read of the part its end falls in.
TEST(HostileWorkbooks, WhatTheReadersPassOverMayBeAnyLength)
{
    test::TestApp app(test::TestApp::Empty);
    const QString path = app.path(QStringLiteral("skipped.xlsx"));
    const QByteArray before = "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>first</t></is></c></row>";
    // The part is read 16 KB, then 64 KB, then 256 KB at a time: each end lands on the 80 KB mark.
    const QByteArray head = test::minimalXlsxParts(before).at(QStringLiteral("xl/worksheets/sheet1.xml"));
    const qsizetype at = head.indexOf("<sheetData>") + before.size();
    for (const char *end : {"-->", "?>"}) {
        for (int shift = -3; shift <= 1; ++shift) {
            SCOPED_TRACE(std::string(end) + " " + std::to_string(shift));
            const bool comment = std::string_view(end) == "-->";
            const QByteArray open = comment ? "<!--" : "<?pi ";
            const qsizetype fill = (80 << 10) + shift - at - open.size();
            QByteArray body = QByteArray(fill, comment ? '-' : '?');
            if (comment)
                body.replace(0, 3, "a -"); // "--" runs and "- -" inside, never "-->"
            test::writeZip(path, test::minimalXlsxParts(before + open + body + end + "<row r=\"2\"><c r=\"B2\"><f>"
                                                        + QByteArray(3 << 20, 'f') + "</f><v>7</v></c></row>"
                                                        "<extLst><![CDATA[" + QByteArray(2 << 20, ']') + "]]></extLst></sheetData>"
                                                        "<!--" + QByteArray(2 << 20, '-') + "-->"));
            auto book = Workbook::open(path);
            auto sheet = book->worksheet(QStringLiteral("Sheet1"));
            EXPECT_EQ(sheet->cell(1, u"A").text, QStringLiteral("first"));
            EXPECT_EQ(sheet->nextUsedRow(2), 2);
            EXPECT_EQ(sheet->cell(2, u"B").number, 7) << "the formula of 3 MB is passed over, its cached value read";
            EXPECT_EQ(sheet->nextUsedRow(3), 0);
        }
    }
}

// A line past any record is read past keeping its first bytes and its length, wherever its end
// falls among the reads (a CR as the last byte of one, its LF the first of the next); the lines
// around it read as written.
TEST(HostileFiles, ALineBeyondAnyRecordKeepsOnlyItsFirstBytesAndItsLength)
{
    test::TestApp app(test::TestApp::Empty);
    const QString path = app.path(QStringLiteral("long.txt"));
    const qint64 crAt = 4 * (qint64(64) << 10) - 1;
    const QByteArray first = "short\r\n";
    const QByteArray longest = QByteArray(platform::kMaxLineBytes, 'k');
    test::writeFile(path, first + QByteArray(crAt - first.size(), 'x') + "\r\nnext\n" + longest + "\n" + QByteArray(100000, '\0'));
    platform::TextLineReader reader(path);
    platform::TextLine line;
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(line.text, QStringLiteral("short"));
    EXPECT_FALSE(line.tooLong());
    ASSERT_TRUE(reader.next(line));
    EXPECT_TRUE(line.tooLong());
    EXPECT_EQ(line.length, crAt - first.size());
    EXPECT_EQ(line.bytes, QByteArray(platform::kKeptLineBytes, 'x'));
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(line.number, 3);
    EXPECT_EQ(line.text, QStringLiteral("next")) << "the CR LF split between two reads ends one line";
    ASSERT_TRUE(reader.next(line));
    EXPECT_FALSE(line.tooLong()) << "a line of exactly the bound is kept whole";
    EXPECT_EQ(line.bytes, longest);
    ASSERT_TRUE(reader.next(line));
    EXPECT_TRUE(line.tooLong());
    EXPECT_EQ(line.length, 100000);
    EXPECT_EQ(line.bytes, QByteArray(platform::kKeptLineBytes, '\0'));
    EXPECT_FALSE(reader.next(line));
}
