#include "db/Connection.h"
#include "workbook/Workbook.h"
#include "results/LookupWindow.h"
#include "support/FakeDesktop.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Widgets.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>

#include <gtest/gtest.h>

using namespace talvesk;
using results::LookupWindow;

namespace {

class LookupWindowTest : public ::testing::Test {
protected:
    // `n` receivables: every third one paid in full, the rest unpaid.
    void fill(int n)
    {
        platform::Database db = db::openDatabase(app.folder());
        platform::Transaction t(db);
        auto insert = db.prepare("INSERT INTO F_AccountData VALUES (?1, ?2, '', ?3, ?4, ?5, ?6, '', '')");
        for (int i = 1; i <= n; ++i) {
            const bool paid = i % 3 == 0;
            insert.bind(1, QStringLiteral("客戶%1").arg(i)).bind(2, QStringLiteral("N%1").arg(i)).bind(3, QStringLiteral("ACC%1").arg(i, 6, 10, QChar(u'0')));
            insert.bind(4, QStringLiteral("1,000")).bind(5, paid ? QStringLiteral("1130105") : QString()).bind(6, paid ? QStringLiteral("1000") : QString());
            insert.run();
            insert.reset();
        }
        t.commit();
    }
    QString totals(LookupWindow &window) { return test::child<QLabel>(window, "lblTotals")->text(); }
    void waitForTotals(LookupWindow &window)
    {
        if (window.counting()) {
            QSignalSpy shown(&window, &LookupWindow::totalsShown);
            ASSERT_TRUE(shown.wait(10000));
        }
    }

    test::TestApp app;
    test::FakeDesktop desktop;
};

} // namespace

TEST_F(LookupWindowTest, FetchesAsItScrollsFiltersAndTotalsTheMatches)
{
    fill(1000);
    LookupWindow window(app.folder(), desktop);
    window.show();
    waitForTotals(window);
    EXPECT_EQ(window.model().rowCount(), results::LookupModel::kPageRows) << "only the first page is read";
    EXPECT_EQ(totals(window), QStringLiteral("共 1,000 筆　應收金額 1,000,000　入帳金額 333,000　未入帳金額 667,000"));

    auto *view = test::child<QTableView>(window, "grdFound");
    view->scrollToBottom();
    QApplication::processEvents();
    EXPECT_GT(window.model().rowCount(), results::LookupModel::kPageRows);

    test::child<QComboBox>(window, "cmbStatus")->setCurrentText(QStringLiteral("已繳清"));
    waitForTotals(window);
    EXPECT_EQ(totals(window), QStringLiteral("共 333 筆　應收金額 333,000　入帳金額 333,000　未入帳金額 0"));

    // Typing narrows after a pause; Enter at once.
    auto *search = test::child<QLineEdit>(window, "txtSearch");
    search->setText(QStringLiteral("客戶99"));
    QTest::keyClick(search, Qt::Key_Return);
    waitForTotals(window);
    ASSERT_EQ(window.model().rowCount(), 5); // the paid ones of 99 and 990 to 999: 99, 990, 993, 996, 999
    EXPECT_EQ(window.model().index(0, 0).data().toString(), QStringLiteral("ACC000099"));
    EXPECT_EQ(window.model().index(0, 6).data().toString(), QStringLiteral("0"));
    EXPECT_EQ(window.model().index(0, 7).data().toString(), QStringLiteral("已繳清"));
    EXPECT_EQ(totals(window), QStringLiteral("共 5 筆　應收金額 5,000　入帳金額 5,000　未入帳金額 0"));
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(LookupWindowTest, AHeadingSortsTheWholeResultAndListsReadAsAClerkReadsThem)
{
    fill(300);
    // The largest amount and the earliest date sit past the first page.
    test::execute(app.folder(), "UPDATE F_AccountData SET Total = '45000' WHERE Bankcode = 'ACC000290';"
                                "UPDATE F_AccountData SET Total = '900', PayDate = '990101' WHERE Bankcode = 'ACC000280'");
    LookupWindow window(app.folder(), desktop);
    window.show();
    waitForTotals(window);
    auto *view = test::child<QTableView>(window, "grdFound");
    const auto clickHeading = [&](int section) {
        QHeaderView *headings = view->horizontalHeader();
        QTest::mouseClick(headings->viewport(), Qt::LeftButton, {},
                          QPoint(headings->sectionViewportPosition(section) + 5, headings->height() / 2));
        waitForTotals(window);
    };
    const auto cell = [&](int row, int column) { return window.model().index(row, column).data().toString(); };

    clickHeading(3); // 應收金額, ascending: 900 before the 1,000s
    EXPECT_EQ(cell(0, 0), QStringLiteral("ACC000280"));
    EXPECT_EQ(cell(0, 3), QStringLiteral("900"));
    clickHeading(3); // descending: 45,000 first, though it was not among the rows fetched
    EXPECT_EQ(cell(0, 0), QStringLiteral("ACC000290"));
    EXPECT_EQ(cell(0, 3), QStringLiteral("45,000"));
    EXPECT_EQ(cell(1, 3), QStringLiteral("1,000"));
    EXPECT_EQ(window.model().index(0, 3).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
              Qt::AlignRight);
    EXPECT_EQ(totals(window), QStringLiteral("共 300 筆　應收金額 343,900　入帳金額 100,000　未入帳金額 243,900"));

    clickHeading(4); // 入帳日期: dates as dates, the two-digit year first among the paid
    const int paidFrom = 199; // the 199 rows without a date come first
    EXPECT_EQ(cell(paidFrom - 1, 4), QString());
    view->scrollToBottom();
    QApplication::processEvents();
    EXPECT_EQ(cell(paidFrom, 0), QStringLiteral("ACC000280"));
    EXPECT_EQ(cell(paidFrom, 4), QStringLiteral("99/01/01"));
    EXPECT_EQ(cell(paidFrom + 1, 4), QStringLiteral("113/01/05"));
}

TEST_F(LookupWindowTest, ExportsWhatItShowsToANewWorkbookAndOpensIt)
{
    fill(30);
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", app.folder().root().toUtf8());
    LookupWindow window(app.folder(), desktop);
    test::child<QLineEdit>(window, "txtSearch")->setText(QStringLiteral("客戶1"));
    window.refresh();
    window.onExportClicked();
    qputenv("HOME", home);

    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("已成功匯出成Excel檔,共 11 筆。"));
    ASSERT_EQ(desktop.opened.size(), 1);
    EXPECT_EQ(desktop.messages[0].informativeText, desktop.opened[0]);
    const auto book = workbook::Workbook::open(desktop.opened[0]);
    const auto sheet = book->worksheet(book->worksheetNames().value(0));
    EXPECT_EQ(sheet->lastUsedRow(), 12); // captions, then 1 and 10 to 19
    EXPECT_EQ(workbook::cellText(*sheet, 2, QStringLiteral("D")), QStringLiteral("ACC000001"));
    EXPECT_EQ(workbook::cellText(*sheet, 12, QStringLiteral("A")), QStringLiteral("客戶19"));
    EXPECT_EQ(sheet->cell(2, u"E").number, 1000) << "\"1,000\" is the number the totals line counts";
    // 狀態 as the window shows it, in a column of its own after the results export's columns.
    EXPECT_EQ(workbook::cellText(*sheet, 1, QStringLiteral("I")), QStringLiteral("狀態"));
    const auto first = results::Lookup(app.folder(), {QStringLiteral("ACC000001")}).page(0, 1);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(workbook::cellText(*sheet, 2, QStringLiteral("I")), results::statusCaption(first[0].status));

    // Where nothing opens workbooks, its folder is offered, as the other exports offer it.
    desktop.openSucceeds = false;
    desktop.answers = {platform::Answer::Yes};
    qputenv("HOME", app.folder().root().toUtf8());
    window.onExportClicked();
    qputenv("HOME", home);
    ASSERT_EQ(desktop.messages.size(), 3u);
    EXPECT_EQ(desktop.messages[1].buttons, platform::Buttons::YesNo);
    ASSERT_EQ(desktop.opened.size(), 3);
    EXPECT_EQ(desktop.opened[2], QFileInfo(desktop.opened[1]).absolutePath());
    desktop.openSucceeds = true;
    desktop.messages.erase(desktop.messages.begin() + 1, desktop.messages.end());

    // An export that fails says so as 銷帳結果轉存EXCEL檔 does: the number at once followed by its
    // description, no title, no icon.
    QFile::remove(app.folder().databaseFile());
    qputenv("HOME", app.folder().root().toUtf8());
    window.onExportClicked();
    qputenv("HOME", home);
    ASSERT_EQ(desktop.messages.size(), 2u);
    EXPECT_EQ(desktop.messages[1].text, QStringLiteral("53找不到資料庫檔案：") + app.folder().databaseFile());
    EXPECT_EQ(desktop.messages[1].title, QString());
    EXPECT_EQ(desktop.messages[1].icon, platform::Icon::None);
    EXPECT_EQ(desktop.messages[1].buttons, platform::Buttons::Ok);
}

TEST_F(LookupWindowTest, AMissingDatabaseIsSaidInTheWindowAndNothingIsMade)
{
    QFile::remove(app.folder().databaseFile());
    LookupWindow window(app.folder(), desktop);
    EXPECT_TRUE(totals(window).startsWith(QStringLiteral("無法讀取應收帳款")));
    EXPECT_FALSE(test::child<QWidget>(window, "cmdExport")->isEnabled());
    EXPECT_FALSE(QFile::exists(app.folder().databaseFile()));
}
