#include "db/Connection.h"
#include "db/Mapping.h"
#include "payments/PaymentsImport.h"
#include "workbookimport/ExcelImportWindow.h"
#include "receivables/ReceivablesImport.h"
#include "support/FakeDesktop.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Widgets.h"
#include "support/Workbooks.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

#include <gtest/gtest.h>

using namespace talvesk;
using workbookimport::ExcelImportWindow;
using workbookimport::Headings;

namespace {

class ImportWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::Database db = db::openDatabase(app.folder());
        db::saveMapping(db, db::kReceivablesMapping,
                        {QStringLiteral("A"), QString(), QString(), QStringLiteral("B"), QStringLiteral("C")});
        window = std::make_unique<ExcelImportWindow>(
            ExcelImportWindow::Design{QStringLiteral("frmExcelToAccess"), QStringLiteral("讀入應收帳款資料(EXCEL)"),
                                      platform::filekind::ReceivablesWorkbook},
            import,
            [this](QWidget *, const Headings &headings) {
                ++mappingOpened;
                headingsShown = headings;
                return mappingSaved;
            },
            desktop);
        window->show();
    }
    QString workbook(int rows)
    {
        test::Rows data{{QStringLiteral("名稱"), QStringLiteral("帳號"), QStringLiteral("金額")}};
        for (int i = 0; i < rows; ++i)
            data.push_back({QStringLiteral("客戶%1").arg(i), QStringLiteral("A%1").arg(i), double(100 + i)});
        const QString path = app.path(QStringLiteral("book.xlsx"));
        test::writeXlsx(path, QStringLiteral("第一頁"), data);
        return path;
    }
    template <typename T>
    T *get(const char *name) { return test::child<T>(*window, name); }
    bool enabled(const char *name) { return get<QWidget>(name)->isEnabled(); }
    static bool enabled(const QWidget *control) { return control->isEnabled(); }

    test::TestApp app;
    test::FakeDesktop desktop;
    receivables::ReceivablesImport import{app.folder()};
    std::unique_ptr<ExcelImportWindow> window;
    int mappingOpened = 0;
    Headings headingsShown;
    bool mappingSaved = false;
};

} // namespace

TEST_F(ImportWindowTest, OpensWithOnlyTheChoiceMappingAndExitUsable)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("讀入應收帳款資料(EXCEL)"));
    EXPECT_EQ(get<QLabel>("lblFieldLabel_1")->text(), QStringLiteral("匯入檔案"));
    EXPECT_EQ(get<QLabel>("lblFieldLabel_0")->text(), QStringLiteral("指定工作表"));
    EXPECT_EQ(get<QLabel>("Label2")->text(), QStringLiteral("正確筆數："));
    EXPECT_EQ(get<QLabel>("Label3")->text(), QStringLiteral("不處理筆數："));
    EXPECT_EQ(get<QLabel>("LblRMsg")->text(), QStringLiteral("讀檔中,請稍候 !"));
    EXPECT_FALSE(enabled(window->importButton()));
    EXPECT_TRUE(enabled(window->mappingButton()));
    EXPECT_TRUE(enabled("cmdCancel"));
    EXPECT_FALSE(get<QLabel>("LblRMsg")->isVisible());
    EXPECT_TRUE(get<QProgressBar>("ProgressBar1")->isVisible());
    // The path box takes no typing and looks it.
    auto *path = get<QLineEdit>("txtField");
    EXPECT_TRUE(path->isReadOnly());
    EXPECT_EQ(path->palette().color(QPalette::Base), path->palette().color(QPalette::Window));
    QTest::mouseClick(window->mappingButton(), Qt::LeftButton);
    EXPECT_EQ(mappingOpened, 1);
}

TEST_F(ImportWindowTest, TheMappingWindowIsShownTheChosenWorksheetsHeadingsAndASaveIsSaid)
{
    QTest::mouseClick(window->mappingButton(), Qt::LeftButton);
    EXPECT_FALSE(headingsShown.known()) << "no workbook chosen, no headings";
    EXPECT_FALSE(get<QLabel>("lblChoice")->isVisible()) << "nothing saved, nothing said";

    desktop.files = {workbook(1)};
    QTest::mouseClick(get<QPushButton>("cmdChoose"), Qt::LeftButton);
    mappingSaved = true;
    QTest::mouseClick(window->mappingButton(), Qt::LeftButton);
    ASSERT_TRUE(headingsShown.known());
    EXPECT_EQ(headingsShown.of(u"A"), QStringLiteral("名稱"));
    EXPECT_EQ(headingsShown.of(u"C"), QStringLiteral("金額"));
    EXPECT_EQ(headingsShown.of(u"D"), QString());
    EXPECT_TRUE(get<QLabel>("lblChoice")->isVisible());
    EXPECT_EQ(get<QLabel>("lblChoice")->text(), QStringLiteral("欄位對應已儲存"));
}

TEST_F(ImportWindowTest, ChoosingListsTheWorksheetsAndTheImportCountsEveryRow)
{
    desktop.files = {workbook(3)};
    QTest::mouseClick(get<QPushButton>("cmdChoose"), Qt::LeftButton);
    ASSERT_EQ(desktop.fileChoices.size(), 1u);
    // Every format the readers take, then all files; the folder of the last workbook chosen.
    EXPECT_EQ(desktop.fileChoices[0].filter, platform::kWorkbookFilter);
    EXPECT_EQ(desktop.fileChoices[0].initialFolder, QStringLiteral("c:\\"));
    EXPECT_EQ(desktop.fileChoices[0].kind, platform::filekind::ReceivablesWorkbook);
    EXPECT_EQ(get<QLineEdit>("txtField")->text(), app.path(QStringLiteral("book.xlsx")));
    EXPECT_EQ(get<QComboBox>("cmbWorksheets")->currentText(), QStringLiteral("第一頁"));
    EXPECT_TRUE(enabled(window->importButton()));

    // While it runs, nothing that could start it again or drop the workbook can be clicked.
    std::vector<bool> during;
    desktop.onEvents = [&] {
        if (during.empty()) {
            for (const QWidget *b : std::initializer_list<const QWidget *>{window->importButton(), window->mappingButton(), get<QWidget>("cmdChoose"), get<QWidget>("cmdCancel")})
                during.push_back(enabled(b));
            during.push_back(get<QLabel>("LblRMsg")->isVisible());
            window->close();
            get<QPushButton>("cmdCancel")->click();
        }
    };
    // The red 讀檔中 is gone before the box says the import ended, and the main window hears of it.
    std::vector<bool> readingShownAtMessage;
    desktop.onMessage = [&](const platform::Message &) {
        readingShownAtMessage.push_back(get<QLabel>("LblRMsg")->isVisible());
    };
    QSignalSpy imported(window.get(), &ExcelImportWindow::imported);
    QTest::mouseClick(window->importButton(), Qt::LeftButton);
    EXPECT_EQ(during, (std::vector<bool>{false, false, false, false, true}));
    EXPECT_TRUE(window->isVisible()) << "closing was refused while the import ran";
    EXPECT_EQ(readingShownAtMessage, std::vector<bool>{false});
    EXPECT_EQ(imported.count(), 1);

    EXPECT_EQ(desktop.texts(), QStringList{QStringLiteral("Excel 轉入 Access 資料庫完畢！")});
    EXPECT_EQ(desktop.messages.back().title, QString());
    EXPECT_EQ(window->writtenLabel()->text(), QStringLiteral("3"));
    EXPECT_EQ(window->notProcessedLabel()->text(), QStringLiteral("0"));
    EXPECT_EQ(get<QProgressBar>("ProgressBar1")->maximum(), 5);
    EXPECT_EQ(get<QProgressBar>("ProgressBar1")->value(), 4);
    EXPECT_TRUE(enabled(window->importButton()));
    EXPECT_TRUE(enabled(window->mappingButton())) << "the mapping can be corrected after an import";
    EXPECT_TRUE(enabled("cmdCancel"));
    EXPECT_FALSE(get<QLabel>("LblRMsg")->isVisible());
    EXPECT_EQ(desktop.pointer(), platform::Pointer::Default);
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 3u);
}

TEST_F(ImportWindowTest, ACommitThatFailsIsShownAsAFailureWithTheRowsReallyStored)
{
    desktop.files = {workbook(3)};
    QTest::mouseClick(get<QPushButton>("cmdChoose"), Qt::LeftButton);
    {
        test::ReaderHoldingTheDatabase reader(app.folder());
        QTest::mouseClick(window->importButton(), Qt::LeftButton);
    }
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_NE(desktop.messages[0].text, QStringLiteral("Excel 轉入 Access 資料庫完畢！"));
    EXPECT_TRUE(desktop.messages[0].text.contains(QStringLiteral("其他程式"))) << desktop.messages[0].text.toStdString();
    EXPECT_TRUE(desktop.messages[0].text.contains(QStringLiteral("已存入 0 筆"))) << desktop.messages[0].text.toStdString();
    EXPECT_EQ(window->writtenLabel()->text(), QStringLiteral("0")) << "the counter says what is stored";
    EXPECT_TRUE(enabled(window->mappingButton())) << "after a failure the mapping can still be changed";
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).empty());
}

TEST_F(ImportWindowTest, CancelAfterAChoiceEmptiesItAndTheNextImportFailsOnTheEmptyPath)
{
    desktop.files = {workbook(1), QString()};
    window->onChooseClicked();
    window->onChooseClicked(); // cancelled this time
    EXPECT_TRUE(get<QLineEdit>("txtField")->text().isEmpty());
    EXPECT_EQ(get<QComboBox>("cmbWorksheets")->count(), 0);
    EXPECT_TRUE(enabled(window->importButton()));
    EXPECT_TRUE(desktop.messages.empty());

    window->onImportClicked();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_FALSE(desktop.messages[0].text.isEmpty());
    EXPECT_EQ(desktop.messages[0].title, QString());
    EXPECT_TRUE(enabled(window->mappingButton())) << "a failed import keeps the buttons as they were";
    EXPECT_TRUE(enabled(window->importButton()));
    EXPECT_FALSE(get<QLabel>("LblRMsg")->isVisible());
}

TEST_F(ImportWindowTest, AFileThatIsNotAWorkbookLeavesTheWindowAsBeforeTheChoiceAndSaysWhy)
{
    // A good workbook first: then a bad one must not leave its worksheets or buttons behind.
    desktop.files = {workbook(3), app.path(QStringLiteral("x.xlsx"))};
    window->onChooseClicked();
    ASSERT_TRUE(enabled(window->importButton()));
    test::writeFile(app.path(QStringLiteral("x.xlsx")), "nope");
    window->onChooseClicked();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("75")) << "the number alone, the reason under it";
    EXPECT_EQ(desktop.messages[0].title, QString());
    const QString reason = desktop.messages[0].informativeText;
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_FALSE(enabled(window->importButton()));
    EXPECT_FALSE(enabled("cmdPreview"));
    EXPECT_EQ(get<QComboBox>("cmbWorksheets")->count(), 0);
    EXPECT_EQ(get<QLineEdit>("txtField")->text(), QString());
    auto *line = get<QLabel>("lblChoice");
    EXPECT_TRUE(line->isVisible());
    EXPECT_EQ(line->text(), QStringLiteral("無法讀取活頁簿 x.xlsx: 不是 Excel 活頁簿檔案，或檔案已損壞"));
    EXPECT_EQ(reason, line->text());

    // The next good choice clears the line.
    desktop.files = {workbook(3)};
    window->onChooseClicked();
    EXPECT_FALSE(line->isVisible());
    EXPECT_TRUE(enabled(window->importButton()));
}

TEST_F(ImportWindowTest, AWorkbookDroppedOnTheWindowIsChosenAndListedAmongTheRecentFiles)
{
    const QString path = workbook(3);
    const auto drop = [&](const QList<QUrl> &urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at = window->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &dropped);
        return dropped.isAccepted();
    };
    // A folder, two files or a web address are not taken.
    EXPECT_FALSE(drop({QUrl::fromLocalFile(app.folder().root())}));
    EXPECT_FALSE(drop({QUrl::fromLocalFile(path), QUrl::fromLocalFile(path)}));
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.com/a.xlsx"))}));
    EXPECT_FALSE(enabled(window->importButton()));

    ASSERT_TRUE(drop({QUrl::fromLocalFile(path)}));
    EXPECT_EQ(get<QLineEdit>("txtField")->toolTip(), path);
    EXPECT_GT(get<QComboBox>("cmbWorksheets")->count(), 0);
    EXPECT_TRUE(enabled(window->importButton()));
    EXPECT_TRUE(enabled("cmdPreview"));
    EXPECT_EQ(desktop.taken, QStringList{path}) << "remembered as a choice in the dialog is";
    EXPECT_TRUE(desktop.fileChoices.empty()) << "no dialog";

    // A dropped file that is not a workbook gets the same checks as a chosen one.
    test::writeFile(app.path(QStringLiteral("x.xlsx")), "nope");
    ASSERT_TRUE(drop({QUrl::fromLocalFile(app.path(QStringLiteral("x.xlsx")))}));
    EXPECT_EQ(desktop.messages.size(), 1u);
    EXPECT_FALSE(enabled(window->importButton()));

    // 最近的檔案 lists both, newest first; picking one chooses it again.
    auto *menu = window->findChild<QMenu *>(QStringLiteral("mnuRecent"));
    ASSERT_NE(menu, nullptr);
    QMetaObject::invokeMethod(menu, "aboutToShow");
    const QList<QAction *> items = menu->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), QStringLiteral("x.xlsx"));
    EXPECT_EQ(items[1]->toolTip(), path);
    items[1]->trigger();
    EXPECT_TRUE(enabled(window->importButton()));
    EXPECT_EQ(get<QLineEdit>("txtField")->toolTip(), path);
}

TEST_F(ImportWindowTest, TheSameContentsAgainAreAskedAboutAndEnterOnTheRealQuestionImportsNothing)
{
    const QString path = workbook(3);
    desktop.files = {path};
    window->onChooseClicked();
    window->onImportClicked();
    ASSERT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 3u);
    EXPECT_TRUE(desktop.messages.size() == 1u) << "the first import is not asked about";
    // The same bytes under another name, in a window over the real desktop.
    const QString copy = app.path(QStringLiteral("copy.xlsx"));
    ASSERT_TRUE(QFile::copy(path, copy));
    test::execute(app.folder(), "DELETE FROM F_AccountData");
    const QByteArray before = test::readFile(app.folder().databaseFile());
    platform::QtDesktop real;
    ExcelImportWindow again({QStringLiteral("frmExcelToAccess"), QStringLiteral("讀入應收帳款資料(EXCEL)"),
                             platform::filekind::ReceivablesWorkbook},
                            import, [](QWidget *, const Headings &) { return false; }, real);
    again.show();
    again.takeFile(copy);
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::NoButton);
    again.onImportClicked();
    ASSERT_TRUE(seen.seen);
    EXPECT_TRUE(seen.text.startsWith(QStringLiteral("此檔案已於 ")));
    EXPECT_TRUE(seen.text.endsWith(QStringLiteral(" 匯入過，確定要再匯入嗎?"))) << seen.text.toStdString();
    EXPECT_EQ(seen.title, QStringLiteral("讀入應收帳款資料(EXCEL)"));
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before) << "Enter answers 否: nothing imported";
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).empty());
}

TEST(PaymentsImportWindow, CountsRowsOfUnknownAccountsAsNotProcessed)
{
    test::TestApp app;
    {
        platform::Database db = db::openDatabase(app.folder());
        db::saveMapping(db, db::kPaymentsMapping,
                        {QStringLiteral("A"), QString(), QStringLiteral("B"), QString(), QStringLiteral("C"), QString()});
    }
    test::addReceivable(app.folder(), QStringLiteral("K"), QStringLiteral("10"));
    const QString path = app.path(QStringLiteral("p.xlsx"));
    test::writeXlsx(path, QStringLiteral("S"), {{QStringLiteral("h")}, {990101.0, 4.0, QStringLiteral("K")}, {990101.0, 4.0, QStringLiteral("U")}});
    test::FakeDesktop desktop;
    desktop.files = {path};
    payments::PaymentsImport import(app.folder());
    ExcelImportWindow window({QStringLiteral("frmExcelToAccess1"), QStringLiteral("讀入入帳明細(EXCEL)"),
                              platform::filekind::PaymentsWorkbook},
                             import, {}, desktop);
    window.onChooseClicked();
    window.onImportClicked();
    EXPECT_EQ(window.writtenLabel()->text(), QStringLiteral("1"));
    EXPECT_EQ(window.notProcessedLabel()->text(), QStringLiteral("1"));
}

TEST_F(ImportWindowTest, PreviewShowsTheFirstRowsAndADryRunsCountsWithoutChangingTheDatabase)
{
    desktop.files = {workbook(25)};
    window->onChooseClicked();
    EXPECT_TRUE(enabled("cmdPreview"));
    const QByteArray before = test::readFile(app.folder().databaseFile());
    QSignalSpy counted(window.get(), &ExcelImportWindow::previewCounted);
    test::child<QPushButton>(*window, "cmdPreview")->click();
    auto *grid = get<QTableWidget>("grdPreview");
    ASSERT_TRUE(grid->isVisible());
    ASSERT_EQ(grid->rowCount(), 20);
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), QStringLiteral("客戶名稱"));
    EXPECT_EQ(grid->horizontalHeaderItem(4)->text(), QStringLiteral("虛擬帳號"));
    EXPECT_EQ(grid->item(0, 0)->text(), QStringLiteral("2"));
    EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("客戶0"));
    EXPECT_EQ(grid->item(0, 4)->text(), QStringLiteral("A0"));
    EXPECT_EQ(grid->item(0, 5)->text(), QStringLiteral("100"));
    EXPECT_TRUE(grid->item(0, 5)->textAlignment() & Qt::AlignRight) << "an amount lines up on the right";
    EXPECT_FALSE(grid->item(0, 4)->textAlignment() & Qt::AlignRight);
    EXPECT_EQ(grid->item(0, 6)->text(), QStringLiteral("新增"));

    ASSERT_TRUE(counted.wait(10000));
    EXPECT_TRUE(get<QLabel>("lblPreviewCounts")->text().startsWith(
        QStringLiteral("試算整個工作表：正確筆數 25，不處理筆數 0；其中新增 25 筆，更新 0 筆，不變 0 筆；已有入帳資料而會變更的 0 筆。")))
        << get<QLabel>("lblPreviewCounts")->text().toStdString();
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
    EXPECT_TRUE(desktop.messages.empty());

    // The real import afterwards does what the preview said.
    window->onImportClicked();
    EXPECT_EQ(window->writtenLabel()->text(), QStringLiteral("25"));
    EXPECT_EQ(get<QLabel>("lblPreviewCounts")->text(), platform::kStalePreviewText);
}

TEST_F(ImportWindowTest, AnImportStartedWhileThePreviewCountsStopsTheCountAndSucceeds)
{
    desktop.files = {workbook(3000)};
    window->onChooseClicked();
    QSignalSpy counted(window.get(), &ExcelImportWindow::previewCounted);
    window->onPreviewClicked();
    // At once, while the dry run may still hold the database: the import must not wait it out.
    window->onImportClicked();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("Excel 轉入 Access 資料庫完畢！"));
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 3000u);
    QTest::qWait(50);
    EXPECT_EQ(counted.count(), 0) << "a stopped count says nothing";
}
