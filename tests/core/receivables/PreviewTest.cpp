#include "db/Connection.h"
#include "db/Mapping.h"
#include "receivables/ReceivablesImport.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Workbooks.h"

#include <gtest/gtest.h>

using namespace talvesk;
using test::Cell;

namespace {

class PreviewTest : public ::testing::Test {
protected:
    void map(const QStringList &items)
    {
        platform::Database db = db::openDatabase(app.folder());
        db::saveMapping(db, db::kReceivablesMapping, items);
    }
    QString book(const test::Rows &rows)
    {
        const QString path = app.path(QStringLiteral("r.xlsx"));
        test::writeXlsx(path, QStringLiteral("應收"), rows);
        return path;
    }
    workbookimport::Preview preview(const QString &path, int max = 20)
    {
        return workbookimport::previewRows(receivables::ReceivablesImport(app.folder()), path, QStringLiteral("應收"), max);
    }

    test::TestApp app;
};

} // namespace

TEST_F(PreviewTest, NumericAccountsShowAsTheTextTheyAreStoredAs)
{
    map({QStringLiteral("A"), QStringLiteral("B"), QString(), QStringLiteral("C"), QStringLiteral("D")});
    test::addReceivable(app.folder(), QStringLiteral("95120001"), QStringLiteral("1"));
    test::Rows rows{{QStringLiteral("名稱"), QStringLiteral("編號"), QStringLiteral("帳號"), QStringLiteral("金額")}};
    rows.push_back({QStringLiteral("甲"), 7.0, 95120001.0, 1500.0});
    rows.push_back({QStringLiteral("乙"), 8.0, 9512000000000123.0, 20.5});
    rows.push_back({QStringLiteral("丙"), 9.0, 95120003.0, 300.0});
    rows.push_back({QStringLiteral("小計"), Cell{}, Cell{}, 1820.5});
    const QString path = book(rows);
    const QByteArray before = test::readFile(app.folder().databaseFile());

    const auto shown = preview(path);
    EXPECT_EQ(shown.fields, (QStringList{QStringLiteral("客戶名稱"), QStringLiteral("客戶編號"), QStringLiteral("應收款項備註"),
                                         QStringLiteral("虛擬帳號"), QStringLiteral("應收金額")}));
    ASSERT_EQ(shown.rows.size(), 4u);
    EXPECT_EQ(shown.rows[0].row, 2);
    EXPECT_EQ(shown.rows[0].values, (QStringList{QStringLiteral("甲"), QStringLiteral("7"), QString(), QStringLiteral("95120001"),
                                                 QStringLiteral("1500")}));
    EXPECT_EQ(shown.rows[0].outcome, db::kUpdatedRow);
    EXPECT_EQ(shown.rows[2].outcome, db::kNewRow);
    EXPECT_EQ(shown.rows[3].outcome, db::kLeftAlone);
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);

    // What the preview shows is what the import then stores, 16-digit account included.
    receivables::ReceivablesImport(app.folder()).run(path, QStringLiteral("應收"), {});
    const auto stored = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    ASSERT_EQ(stored.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(stored[i].mid(0, 5), shown.rows[i].values) << i;

    // Once stored, the same rows would change nothing; a paid row given a new amount would.
    test::execute(app.folder(), "UPDATE F_AccountData SET PayDate = '1130105', PayTotal = '300', N_PayTotal = '0' "
                                "WHERE Bankcode = '95120003'");
    rows[3] = {QStringLiteral("丙"), 9.0, 95120003.0, 350.0};
    const auto again = preview(book(rows));
    EXPECT_EQ(again.rows[0].outcome, db::kUnchangedRow);
    EXPECT_EQ(again.rows[2].outcome, db::kUpdatedRow);
    const auto counted = receivables::ReceivablesImport(app.folder()).dryRun()->run(path, QStringLiteral("應收"), {});
    EXPECT_EQ(counted.changes(), QStringLiteral("0 new, 1 updated, 2 unchanged"));
    EXPECT_EQ(counted.paidChanged, 1);
}

TEST_F(PreviewTest, APermutedMappingShowsEachColumnUnderItsFieldAndTheRowsStopAtTheLimit)
{
    // Amount in A, account in B, note in C, number in D, name in E.
    map({QStringLiteral("E"), QStringLiteral("D"), QStringLiteral("C"), QStringLiteral("B"), QStringLiteral("A")});
    test::Rows rows{{QStringLiteral("h")}};
    for (int i = 1; i <= 30; ++i)
        rows.push_back({double(i * 10), QStringLiteral("ACC%1").arg(i), QStringLiteral("備註%1").arg(i), QStringLiteral("N%1").arg(i),
                        QStringLiteral("名%1").arg(i)});
    const auto shown = preview(book(rows), 20);
    ASSERT_EQ(shown.rows.size(), 20u);
    EXPECT_EQ(shown.rows[4].values, (QStringList{QStringLiteral("名5"), QStringLiteral("N5"), QStringLiteral("備註5"),
                                                 QStringLiteral("ACC5"), QStringLiteral("50")}));
    EXPECT_EQ(shown.rows[19].row, 21);
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).empty());
}
