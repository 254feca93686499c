// One receivables list saved by LibreOffice as .xlsx, .xls and .ods (tests/data) imports to the
// same table.
#include "db/Connection.h"
#include "db/Mapping.h"
#include "receivables/ReceivablesImport.h"
#include "support/Tables.h"
#include "support/TestApp.h"

#include <gtest/gtest.h>

using namespace talvesk;

namespace {

std::vector<QStringList> imported(const QString &format, workbookimport::ImportCounts &counts)
{
    test::TestApp app;
    {
        platform::Database db = db::openDatabase(app.folder());
        // name B, memo I (dates, times and two-line text), account A, amount C
        db::saveMapping(db, db::kReceivablesMapping,
                        {QStringLiteral("B"), QString(), QStringLiteral("I"), QStringLiteral("A"), QStringLiteral("C")});
    }
    counts = receivables::ReceivablesImport(app.folder())
                 .run(QStringLiteral(TALVESK_TEST_DATA "/receivables.") + format, QStringLiteral("應收帳款"), {});
    return test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
}

} // namespace

TEST(WorkbookFormatsImport, TheSameListAsXlsxXlsAndOdsImportsToTheSameTable)
{
    workbookimport::ImportCounts fromXlsx, fromXls, fromOds;
    const auto xlsx = imported(QStringLiteral("xlsx"), fromXlsx);
    ASSERT_GE(xlsx.size(), 3u);
    EXPECT_EQ(imported(QStringLiteral("xls"), fromXls), xlsx);
    EXPECT_EQ(imported(QStringLiteral("ods"), fromOds), xlsx);
    EXPECT_EQ(fromXls.written, fromXlsx.written);
    EXPECT_EQ(fromOds.written, fromXlsx.written);
    EXPECT_EQ(fromOds.notProcessed, fromXlsx.notProcessed);

    QStringList accounts;
    for (const auto &row : xlsx)
        accounts << row.at(3);
    EXPECT_TRUE(accounts.contains(QStringLiteral("9515088000000010"))) << "typed as text";
    EXPECT_TRUE(accounts.contains(QStringLiteral("9515088000000020"))) << "typed as a number: every digit";
    EXPECT_TRUE(accounts.contains(QStringLiteral("0012345678901234"))) << "leading zeros kept";
}
