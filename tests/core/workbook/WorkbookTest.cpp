#include "platform/Codec950.h"
#include "workbook/CsvWorkbook.h"
#include "platform/Error.h"
#include "workbook/Workbook.h"
#include "support/TestApp.h"
#include "support/Workbooks.h"

#include <xlsxwriter.h>

#include <gtest/gtest.h>

#include <atomic>

using namespace talvesk;
using workbook::CellValue;
using workbook::Workbook;
using Kind = CellValue::Kind;

namespace {

// A workbook with two sheets, as libxlsxwriter writes it; `constantMemory` makes it write
// inline strings instead of the shared-string table.
QString writeSample(const test::TestApp &app, bool constantMemory)
{
    const QString path = app.path(constantMemory ? QStringLiteral("inline.xlsx") : QStringLiteral("shared.xlsx"));
    lxw_workbook_options options{};
    options.constant_memory = constantMemory ? LXW_TRUE : LXW_FALSE;
    lxw_workbook *wb = workbook_new_opt(path.toUtf8().constData(), &options);
    lxw_worksheet *first = workbook_add_worksheet(wb, "收款");
    lxw_worksheet *second = workbook_add_worksheet(wb, "Other");
    lxw_format *date = workbook_add_format(wb);
    format_set_num_format(date, "yyyy/mm/dd");
    lxw_format *dateTime = workbook_add_format(wb);
    format_set_num_format_index(dateTime, 22);

    worksheet_write_string(first, 0, 0, "客戶名稱", nullptr);
    worksheet_write_string(first, 1, 0, "  王小明 ", nullptr);
    worksheet_write_number(first, 1, 1, 1500, nullptr);
    worksheet_write_number(first, 1, 2, 1234567890123456.0, nullptr);
    worksheet_write_string(first, 1, 3, "0012345678901234", nullptr);
    worksheet_write_boolean(first, 1, 4, 1, nullptr);
    lxw_datetime d{2024, 1, 5, 0, 0, 0};
    worksheet_write_datetime(first, 1, 5, &d, date);
    lxw_datetime dt{2024, 1, 5, 13, 5, 9};
    worksheet_write_datetime(first, 1, 6, &dt, dateTime);
    worksheet_write_formula_num(first, 1, 7, "=B2*2", nullptr, 3000);
    worksheet_write_number(first, 1, 26, 0.5, nullptr); // column AA
    worksheet_write_string(first, 3, 0, "O'Brien", nullptr);
    worksheet_write_string(second, 0, 0, "x", nullptr);
    EXPECT_EQ(workbook_close(wb), LXW_NO_ERROR);
    return path;
}

void expectText(const CellValue &v, const QString &text)
{
    EXPECT_EQ(v.kind, Kind::Text);
    EXPECT_EQ(v.text, text);
}

QString writeHandMade(const test::TestApp &app, const QString &name, const QByteArray &sheet,
                      const QByteArray &strings = {}, const QByteArray &styles = {}, const QByteArray &workbookPr = {})
{
    const QString path = app.path(name);
    test::writeZip(path, test::minimalXlsxParts(sheet, strings, styles, workbookPr));
    return path;
}

int errorNumberOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const platform::Error &e) {
        EXPECT_FALSE(e.description().isEmpty());
        return e.number();
    }
    return 0;
}

} // namespace

TEST(Workbook, ReadsWhatTheWriterWritesInBothModes)
{
    test::TestApp app(test::TestApp::Empty);
    for (bool constantMemory : {false, true}) {
        SCOPED_TRACE(constantMemory ? "inline strings" : "shared strings");
        auto book = Workbook::open(writeSample(app, constantMemory));
        EXPECT_EQ(book->worksheetNames(), (QStringList{QStringLiteral("收款"), QStringLiteral("Other")}));
        auto sheet = book->worksheet(QStringLiteral("收款"));
        EXPECT_EQ(sheet->lastUsedRow(), 4);
        expectText(sheet->cell(1, u"A"), QStringLiteral("客戶名稱"));
        expectText(sheet->cell(2, u"A"), QStringLiteral("  王小明 "));
        EXPECT_EQ(sheet->cell(2, u"B").kind, Kind::Number);
        EXPECT_EQ(sheet->cell(2, u"b").number, 1500);
        EXPECT_EQ(workbook::numberText(sheet->cell(2, u"C").number), QStringLiteral("1.23456789012346E+15"));
        expectText(sheet->cell(2, u"D"), QStringLiteral("0012345678901234"));
        EXPECT_EQ(sheet->cell(2, u"E").kind, Kind::Boolean);
        EXPECT_EQ(sheet->cell(2, u"E").number, 1);
        EXPECT_EQ(sheet->cell(2, u"F").kind, Kind::DateTime);
        EXPECT_EQ(workbook::dateTimeText(sheet->cell(2, u"F").number), QStringLiteral("2024/1/5"));
        EXPECT_EQ(workbook::dateTimeText(sheet->cell(2, u"G").number), QStringLiteral("2024/1/5 13:05:09"));
        EXPECT_EQ(sheet->cell(2, u"H").number, 3000) << "a formula gives its cached result";
        EXPECT_EQ(sheet->cell(2, u"AA").number, 0.5);
        EXPECT_EQ(sheet->cell(2, u"Z").kind, Kind::Empty);
        EXPECT_EQ(sheet->cell(3, u"A").kind, Kind::Empty) << "a row that is not there";
        expectText(sheet->cell(4, u"A"), QStringLiteral("O'Brien"));
        // Going back starts the sheet again.
        expectText(sheet->cell(1, u"A"), QStringLiteral("客戶名稱"));
        EXPECT_EQ(book->worksheet(QStringLiteral("other"))->lastUsedRow(), 1);
        EXPECT_EQ(errorNumberOf([&] { book->worksheet(QStringLiteral("Missing")); }), platform::errnum::ObjectInvalid);
    }
}

TEST(Workbook, HandMadePartsTheWriterCannotMake)
{
    test::TestApp app(test::TestApp::Empty);
    // No dimension; the rows begin at 3; cells without references; an error cell; rich text and a
    // phonetic run in the shared strings; an escaped carriage return; a custom date format.
    const QByteArray strings =
        "<si><r><rPr><b/></rPr><t>Rich</t></r><r><t xml:space=\"preserve\"> text</t></r><rPh sb=\"0\" eb=\"1\"><t>ふ</t></rPh></si>"
        "<si><t>a_x000D_b &amp; &lt;c&gt; &#x4E2D;</t></si>";
    const QByteArray styles = "<numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"[Red]&quot;on &quot;yyyy/mm/dd\"/>"
                              "<numFmt numFmtId=\"165\" formatCode=\"0.00&quot;d&quot;\"/></numFmts>"
                              "<cellStyleXfs count=\"1\"><xf numFmtId=\"14\"/></cellStyleXfs>"
                              "<cellXfs count=\"4\"><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/><xf numFmtId=\"31\"/></cellXfs>";
    const QByteArray sheet =
        "<sheetData>"
        "<row r=\"3\"><c t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c><c r=\"D3\" t=\"e\"><v>#N/A</v></c></row>"
        "<row r=\"4\"><c r=\"A4\" s=\"1\"><v>45296</v></c><c r=\"B4\" s=\"2\"><v>7</v></c><c r=\"C4\" s=\"3\"><v>45296.25</v></c>"
        "<c r=\"D4\" t=\"str\"><f>A1&amp;\"x\"</f><v>fx</v></c><c r=\"E4\" t=\"inlineStr\"><is><r><t>in</t></r><r><t>line</t></r></is></c></row>"
        "<row r=\"10\"><c r=\"B10\"><v>-12.5</v></c></row>"
        "</sheetData>";
    auto book = Workbook::open(writeHandMade(app, QStringLiteral("hand.xlsx"), sheet, strings, styles));
    auto s = book->worksheet(QStringLiteral("Sheet1"));
    EXPECT_EQ(s->lastUsedRow(), 10);
    EXPECT_EQ(s->nextUsedRow(1), 3);
    EXPECT_EQ(s->nextUsedRow(5), 10) << "rows that are not there are passed over";
    EXPECT_EQ(s->nextUsedRow(11), 0);
    EXPECT_EQ(s->nextUsedRow(4), 4) << "going back starts the sheet again";
    expectText(s->cell(3, u"A"), QStringLiteral("Rich text"));
    expectText(s->cell(3, u"B"), QStringLiteral("a\rb & <c> 中"));
    EXPECT_EQ(s->cell(3, u"D").kind, Kind::Error);
    EXPECT_EQ(s->cell(3, u"D").text, QStringLiteral("#N/A"));
    EXPECT_EQ(s->cell(4, u"A").kind, Kind::DateTime);
    EXPECT_EQ(s->cell(4, u"B").kind, Kind::Number) << "a quoted d is not a date letter";
    EXPECT_EQ(workbook::dateTimeText(s->cell(4, u"C").number), QStringLiteral("2024/1/5 06:00:00"));
    expectText(s->cell(4, u"D"), QStringLiteral("fx"));
    expectText(s->cell(4, u"E"), QStringLiteral("inline"));
    EXPECT_EQ(s->cell(10, u"B").number, -12.5);

    // Dates of a workbook counted from 1904.
    auto b1904 = Workbook::open(writeHandMade(app, QStringLiteral("1904.xlsx"),
                                              "<dimension ref=\"A1\"/><sheetData><row r=\"1\"><c r=\"A1\" s=\"1\"><v>0</v></c></row></sheetData>",
                                              {}, "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/></cellXfs>",
                                              "<workbookPr date1904=\"1\"/>"));
    EXPECT_EQ(workbook::dateTimeText(b1904->worksheet(QStringLiteral("Sheet1"))->cell(1, u"A").number),
              QStringLiteral("1904/1/1"));
}

TEST(Workbook, WhatIsNotAReadableWorkbookIsAClearErrorNotACrash)
{
    test::TestApp app(test::TestApp::Empty);
    EXPECT_EQ(errorNumberOf([&] { Workbook::open(app.path(QStringLiteral("none.xlsx"))); }), platform::errnum::FileNotFound);

    test::writeFile(app.path(QStringLiteral("text.xlsx")), "just some text, not a zip");
    EXPECT_NE(errorNumberOf([&] { Workbook::open(app.path(QStringLiteral("text.xlsx"))); }), 0);

    const QString good = writeSample(app, false);
    const QByteArray bytes = test::readFile(good);
    test::writeFile(app.path(QStringLiteral("truncated.xlsx")), bytes.left(bytes.size() / 2));
    EXPECT_NE(errorNumberOf([&] {
                  auto b = Workbook::open(app.path(QStringLiteral("truncated.xlsx")));
                  b->worksheet(b->worksheetNames().first())->cell(2, u"A");
              }),
              0);

    auto parts = test::minimalXlsxParts("<sheetData/>");
    parts.erase(QStringLiteral("xl/workbook.xml"));
    test::writeZip(app.path(QStringLiteral("nowb.xlsx")), parts);
    EXPECT_NE(errorNumberOf([&] { Workbook::open(app.path(QStringLiteral("nowb.xlsx"))); }), 0);

    const QByteArray broken[] = {
        "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></row></sheetData>",       // mismatched end tag
        "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>",                // ends inside an element
        "<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>7</v></c></row></sheetData>", // no such shared string
        "<sheetData><row r=\"1\"><c r=\"A1\"><v>12abc</v></c></row></sheetData>", // not a number
        "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>&bogus;</t></is></c></row></sheetData>",
    };
    int i = 0;
    for (const QByteArray &sheet : broken) {
        const QString path = writeHandMade(app, QStringLiteral("broken%1.xlsx").arg(i++), sheet);
        EXPECT_NE(errorNumberOf([&] {
                      auto b = Workbook::open(path);
                      auto s = b->worksheet(QStringLiteral("Sheet1"));
                      s->lastUsedRow();
                      s->cell(1, u"A");
                      s->cell(5, u"A");
                  }),
                  0)
            << sheet.constData();
    }

    // An entity-expansion attempt is refused outright.
    auto doctype = test::minimalXlsxParts("<sheetData/>");
    doctype[QStringLiteral("xl/workbook.xml")] = "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaa\">]><workbook/>";
    test::writeZip(app.path(QStringLiteral("doctype.xlsx")), doctype);
    EXPECT_NE(errorNumberOf([&] { Workbook::open(app.path(QStringLiteral("doctype.xlsx"))); }), 0);

    // A part that inflates past the bound is refused before it is read whole.
    QByteArray huge = "<sheetData>";
    for (int row = 1; row <= 4; ++row)
        huge += "<row r=\"" + QByteArray::number(row) + "\"><c t=\"inlineStr\"><is><t>" + QByteArray(800 << 10, 'x') + "</t></is></c></row>";
    huge += "</sheetData>";
    const QString bomb = writeHandMade(app, QStringLiteral("bomb.xlsx"), huge);
    workbook::WorkbookLimits limits;
    limits.maxPartBytes = 1 << 20;
    EXPECT_NE(errorNumberOf([&] {
                  auto b = Workbook::open(bomb, limits);
                  b->worksheet(QStringLiteral("Sheet1"))->cell(1, u"A");
              }),
              0);
    EXPECT_EQ(Workbook::open(bomb)->worksheet(QStringLiteral("Sheet1"))->cell(4, u"A").text.size(), 800 << 10);

    auto ok = Workbook::open(writeSample(app, false));
    EXPECT_EQ(errorNumberOf([&] { ok->worksheet(QStringLiteral("收款"))->cell(1, u"A1"); }), platform::errnum::ObjectInvalid);
}

TEST(Workbook, CsvIsOneSheetOfTextInUtf8OrCodePage950)
{
    test::TestApp app(test::TestApp::Empty);
    // Quotes open a field only at its start, and what follows a closing quote is text as well;
    // a line end inside quotes is the field's, CR alone ends a row, and so does the file's end.
    const QString text = QStringLiteral("名稱,金額\r\n\"王, 小明\",\"1,500\"\r\n\"say \"\"hi\"\"\",007\n\"two\nlines\",\r\n"
                                        "\"a\r\nb\"c,d\"e\"\r\r\n,,\n\"last\"");
    test::writeFile(app.path(QStringLiteral("bom.csv")), "\xEF\xBB\xBF" + text.toUtf8());
    test::writeFile(app.path(QStringLiteral("plain.csv")), text.toUtf8());
    test::writeFile(app.path(QStringLiteral("big5.csv")), platform::codec950::encode(text));
    for (const char *name : {"bom", "plain", "big5"}) {
        SCOPED_TRACE(name);
        auto book = Workbook::open(app.path(QString::fromLatin1(name) + QStringLiteral(".csv")));
        EXPECT_EQ(book->worksheetNames(), QStringList{QString::fromLatin1(name)});
        auto s = book->worksheet(QString::fromLatin1(name));
        EXPECT_EQ(s->lastUsedRow(), 8);
        expectText(s->cell(1, u"A"), QStringLiteral("名稱"));
        expectText(s->cell(2, u"A"), QStringLiteral("王, 小明"));
        expectText(s->cell(2, u"B"), QStringLiteral("1,500"));
        expectText(s->cell(3, u"A"), QStringLiteral("say \"hi\""));
        expectText(s->cell(3, u"B"), QStringLiteral("007"));
        expectText(s->cell(4, u"A"), QStringLiteral("two\nlines"));
        EXPECT_EQ(s->cell(4, u"B").kind, Kind::Empty);
        expectText(s->cell(5, u"A"), QStringLiteral("a\r\nbc"));
        expectText(s->cell(5, u"B"), QStringLiteral("d\"e\""));
        EXPECT_EQ(s->nextUsedRow(6), 8) << "a blank line and a row of empty fields hold nothing";
        expectText(s->cell(8, u"A"), QStringLiteral("last"));
        expectText(s->cell(2, u"B"), QStringLiteral("1,500")); // going back reads from the start again
        EXPECT_EQ(s->cell(9, u"A").kind, Kind::Empty);
    }
}

TEST(Workbook, CsvEncodingIsTheWholeFilesAndRowsSpanReadsWhole)
{
    test::TestApp app(test::TestApp::Empty);
    // UTF-8 up to the last row, which is code page 950: the whole file is code page 950, read
    // through many reads of the file.
    const QByteArray utf8Name = QStringLiteral("王小明").toUtf8();
    QByteArray late = "a,b\n" + utf8Name + ",1\n" + QByteArray("x,2\n").repeated(200'000);
    late += platform::codec950::encode(QStringLiteral("王小明")) + ",3\n";
    test::writeFile(app.path(QStringLiteral("late.csv")), late);
    auto book = Workbook::open(app.path(QStringLiteral("late.csv")));
    auto sheet = book->worksheet(QStringLiteral("late"));
    EXPECT_EQ(sheet->lastUsedRow(), 200'003);
    expectText(sheet->cell(2, u"A"), platform::codec950::decode(utf8Name));
    expectText(sheet->cell(200'003, u"A"), QStringLiteral("王小明"));
    // The same rows in UTF-8 throughout, and a byte-order mark in the middle of a field kept.
    test::writeFile(app.path(QStringLiteral("utf8.csv")),
                    "\xEF\xBB\xBF\"a\",b\n" + utf8Name + ",1\n" + QByteArray("x,2\n").repeated(200'000) + "\xEF\xBB\xBFz,3\n");
    book = Workbook::open(app.path(QStringLiteral("utf8.csv")));
    sheet = book->worksheet(QStringLiteral("utf8"));
    expectText(sheet->cell(1, u"A"), QStringLiteral("a"));
    expectText(sheet->cell(2, u"A"), QStringLiteral("王小明"));
    expectText(sheet->cell(200'003, u"A"), QStringLiteral("\uFEFFz"));

    // A doubled quote and a CR LF cut apart by the end of one read of the file.
    const qsizetype read = workbook::CsvWorkbook::kReadBytes;
    for (qsizetype at = read - 8; at <= read + 1; ++at) {
        SCOPED_TRACE(at);
        const QByteArray x(at - 1, 'x');
        test::writeFile(app.path(QStringLiteral("cut.csv")), '"' + x + "\"\"y\",z\r\nnext");
        auto cut = Workbook::open(app.path(QStringLiteral("cut.csv")));
        auto s = cut->worksheet(QStringLiteral("cut"));
        EXPECT_EQ(s->lastUsedRow(), 2);
        expectText(s->cell(1, u"A"), QString::fromLatin1(x + "\"y"));
        expectText(s->cell(1, u"B"), QStringLiteral("z"));
        expectText(s->cell(2, u"A"), QStringLiteral("next"));
    }
}

TEST(CellForms, NumbersDatesAndColumns)
{
    using workbook::numberText;
    EXPECT_EQ(numberText(1500), QStringLiteral("1500"));
    EXPECT_EQ(numberText(-1500), QStringLiteral("-1500"));
    EXPECT_EQ(numberText(0.5), QStringLiteral("0.5"));
    EXPECT_EQ(numberText(0.1 + 0.2), QStringLiteral("0.3"));
    EXPECT_EQ(numberText(123456789012345.0), QStringLiteral("123456789012345"));
    EXPECT_EQ(numberText(999999999999999.0), QStringLiteral("999999999999999"));
    EXPECT_EQ(numberText(1e15), QStringLiteral("1E+15"));
    EXPECT_EQ(numberText(1234567890123456.0), QStringLiteral("1.23456789012346E+15"));
    EXPECT_EQ(numberText(0.00001), QStringLiteral("1E-05"));
    EXPECT_EQ(numberText(0), QStringLiteral("0"));

    EXPECT_EQ(workbook::dateTimeText(45296), QStringLiteral("2024/1/5"));
    EXPECT_EQ(workbook::dateTimeText(45296.5), QStringLiteral("2024/1/5 12:00:00"));
    EXPECT_EQ(workbook::dateTimeText(45296.99999999), QStringLiteral("2024/1/6")) << "rounds to the second";

    EXPECT_EQ(workbook::columnIndex(u"A"), 0);
    EXPECT_EQ(workbook::columnIndex(u"z"), 25);
    EXPECT_EQ(workbook::columnIndex(u"AA"), 26);
    EXPECT_EQ(workbook::columnIndex(u"XFD"), 16383);
    EXPECT_EQ(workbook::columnIndex(u"XFE"), -1);
    EXPECT_EQ(workbook::columnIndex(u""), -1);
    EXPECT_EQ(workbook::columnIndex(u"A1"), -1);
    EXPECT_EQ(workbook::columnIndex(u"ABCD"), -1);
}

// Reading a large workbook's strings is where a count spends its first second: asked to stop, it
// ends there, in both readers that read much before the rows (a .csv while opening, an .xlsx's
// shared strings beside the rows), and the last row is never reached.
TEST(Workbook, AReadingAskedToStopEndsWithoutReadingOn)
{
    test::TestApp app(test::TestApp::Empty);
    const QString xlsx = app.path(QStringLiteral("many.xlsx")), csv = app.path(QStringLiteral("many.csv"));
    test::Rows rows;
    QByteArray lines;
    for (int i = 0; i < 20000; ++i) {
        rows.push_back({QStringLiteral("客戶%1").arg(i)});
        lines += "c" + QByteArray::number(i) + "\r\n";
    }
    test::writeXlsx(xlsx, QStringLiteral("S"), rows);
    test::writeFile(csv, lines);
    for (const QString &path : {xlsx, csv}) {
        std::atomic<int> asked = 0;
        workbook::WorkbookLimits limits;
        limits.stopRequested = [&asked] { return ++asked >= 2; };
        const auto lastRow = [&] {
            const auto book = workbook::Workbook::open(path, limits);
            const auto sheet = book->worksheet(book->worksheetNames().value(0));
            return workbook::cellText(*sheet, 20000, u"A");
        };
        try {
            lastRow();
            ADD_FAILURE() << "read whole: " << path.toStdString();
        } catch (const platform::Error &e) {
            EXPECT_EQ(e.number(), platform::errnum::Cancelled) << e.what();
        }
        EXPECT_EQ(asked, 2) << path.toStdString();
        limits.stopRequested = [] { return false; };
        EXPECT_TRUE(lastRow().endsWith(u"19999")) << path.toStdString();
    }
}
