#include "db/Connection.h"
#include "db/Journal.h"
#include "platform/Files.h"
#include "backup/BackupWindow.h"
#include "credentials/ChangePasswordDialog.h"
#include "credentials/LoginDialog.h"
#include "payments/PaymentWindows.h"
#include "receivables/ReceivablesImport.h"
#include "receivables/ReceivablesWindows.h"
#include "results/LookupWindow.h"
#include "shell/JournalWindow.h"
#include "results/LookupIndex.h"
#include "server/ServerSettings.h"
#include "shell/MainWindow.h"
#include "store/StoreImport.h"
#include "store/StoreWindows.h"
#include "support/TextFiles.h"
#include "textimport/TextImportWindow.h"
#include "workbookimport/ExcelImportWindow.h"
#include "workbookimport/MappingWindow.h"
#include "workbook/Workbook.h"
#include "support/FakeDesktop.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Processes.h"
#include "support/Widgets.h"

#include <QAction>
#include <QDateTime>
#include <QDialog>
#include <QHeaderView>
#include <QTableView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QFile>
#include <QFileInfo>
#include <QStatusBar>
#include <QMenu>
#include <QMenuBar>
#include <QDeadlineTimer>
#include <QDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace talvesk;

namespace {

// "name caption" for every item of the menu bar in order; a drop-down's items follow it, indented.
QStringList menuItems(QMainWindow &window)
{
    QStringList items;
    for (QAction *action : window.menuBar()->actions()) {
        if (QMenu *menu = action->menu()) {
            items << menu->objectName() + u' ' + menu->title();
            for (QAction *item : menu->actions())
                items << (item->isSeparator() ? QStringLiteral("  ----")
                                              : QStringLiteral("  ") + item->objectName() + u' ' + item->text());
        } else {
            items << action->objectName() + u' ' + action->text();
        }
    }
    return items;
}

} // namespace

TEST(MainWindow, EveryItemInOrderWithItsNameAndCaption)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    EXPECT_EQ(window.objectName(), QStringLiteral("remainmenu"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Talvesk虛擬帳號資料處理(Version 1.0)"));
    const QStringList expected{
        QStringLiteral("readdisk 讀入應收帳款資料(EXCEL)"),
        QStringLiteral("MENU5 處理作業"),
        QStringLiteral("  READBANK 讀入入帳明細(EXCEL)"),
        QStringLiteral("  MENDO 讀入入帳明細(TXT)"),
        QStringLiteral("  errorfile 銷帳結果轉存EXCEL檔"),
        QStringLiteral("  errorfileAs 銷帳結果另存新檔…"),
        QStringLiteral("  LOOKUP 帳款查詢"),
        QStringLiteral("  DailyReport 日報表"),
        QStringLiteral("PrtRec 超商銷帳資料處理"),
        QStringLiteral("  READ711 讀入便利超商銷帳磁片"),
        QStringLiteral("  PrtRecALL 超商銷帳資料轉EXCEL檔"),
        QStringLiteral("  PrtRecALLAs 超商銷帳資料另存新檔…"),
        QStringLiteral("syswork 系統作業"),
        QStringLiteral("  BACKUP 備份資料庫"),
        QStringLiteral("  RESTORE 回復資料庫"),
        QStringLiteral("  ----"),
        QStringLiteral("  RClearFile 應收帳款清檔作業"),
        QStringLiteral("  SClearFile 超商資料清檔作業"),
        QStringLiteral("  ----"),
        QStringLiteral("  ChgPas 變更密碼"),
        QStringLiteral("  ImportLog 匯入記錄"),
        QStringLiteral("EXITMENU 結束"),
    };
    EXPECT_EQ(menuItems(window), expected);
    for (QAction *action : window.findChildren<QAction *>()) {
        if (action->objectName().isEmpty())
            continue; // a separator
        EXPECT_TRUE(action->isEnabled() && action->isVisible()) << action->objectName().toStdString();
        EXPECT_TRUE(action->shortcut().isEmpty());
        EXPECT_FALSE(action->isCheckable());
        EXPECT_FALSE(action->isSeparator());
    }
}

// The window with the frame a window manager adds lies within the screen's free part: on 800 x 600
// it grows as far as that allows, title bar and status bar on the screen.
TEST(MainWindow, FitsTheAvailableScreenFrameIncluded)
{
    test::TestApp app;
    const QMargins frame = platform::kAssumedFrame;
    const struct {
        QSize screen;
        QRect available;
        QSize window;
    } cases[] = {
        {{800, 600}, {0, 0, 800, 600}, {800 - 8, 600 - 34}},
        {{800, 600}, {0, 24, 800, 576}, {800 - 8, 576 - 34}}, // a panel along the top
        {{1024, 768}, {0, 0, 1024, 768}, {640, 480}},
        {{800, 601}, {0, 0, 800, 601}, {640, 480}},
    };
    for (const auto &c : cases) {
        test::FakeDesktop desktop;
        desktop.screen = c.screen;
        desktop.available = c.available;
        shell::MainWindow window(app.folder(), desktop);
        EXPECT_EQ(window.size(), c.window) << c.available.height();
        const QRect framed(window.pos(), window.size().grownBy(frame));
        EXPECT_TRUE(c.available.contains(framed)) << c.available.height();
    }
}

TEST(Placement, AWindowAndItsFrameStayWithinTheAvailableArea)
{
    const QMargins frame(5, 28, 5, 5);
    // Too big: shrunk to the room left by the frame, at the area's corner.
    EXPECT_EQ(platform::fitWithin({0, 30, 800, 570}, {800, 600}, frame), QRect(5, 58, 790, 537));
    // Fits: placed as every window is, the frame counted.
    EXPECT_EQ(platform::fitWithin({0, 0, 1024, 768}, {640, 480}, frame),
              QRect(QPoint((1024 - 650) / 2 + 5, (768 - 513 - 28) / 2 + 28), QSize(640, 480)));
}

namespace {

// Where the window or one of its controls leaves the window's room: the window with its frame
// outside the available area, a shown control outside the window, a table whose columns need a
// scroll bar. Empty when everything is whole.
QStringList whatDoesNotFit(QWidget &window, const QRect &available)
{
    QStringList faults;
    // The frame the platform reports once shown, or the one a window manager typically adds.
    const QRect framed = window.frameGeometry() != window.geometry()
        ? window.frameGeometry()
        : QRect(window.pos(), window.size().grownBy(platform::kAssumedFrame));
    if (!available.contains(framed))
        faults << QStringLiteral("%1 at %2,%3 %4x%5")
                      .arg(window.objectName())
                      .arg(framed.x())
                      .arg(framed.y())
                      .arg(framed.width())
                      .arg(framed.height());
    for (QWidget *control : window.findChildren<QWidget *>()) {
        if (!control->isVisibleTo(&window) || control->isWindow())
            continue;
        const QRect inWindow(control->mapTo(&window, QPoint()), control->size());
        if (!window.rect().contains(inWindow))
            faults << window.objectName() + u'/' + control->objectName() + u'/'
                      + QString::fromLatin1(control->metaObject()->className());
        if (auto *table = qobject_cast<QTableView *>(control)) {
            if (table->horizontalHeader()->length() > table->viewport()->width() + 1)
                faults << window.objectName() + u'/' + table->objectName() + QStringLiteral(" columns");
        }
    }
    return faults;
}

} // namespace

TEST(Placement, EveryWindowOpensWholeOnAnSmallScreenWithAPanel)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("00012345678901234"),
                        QStringLiteral("45000"), QStringLiteral("一個名字很長很長很長很長很長很長很長很長的客戶股份有限公司"));
    const QString storeFile = app.path(QStringLiteral("TFM1.txt"));
    test::writeFile(storeFile, test::storeLine(QStringLiteral("711"), QStringLiteral("A1"), QStringLiteral("S1"),
                                               QStringLiteral("1130905"), QStringLiteral("1130904"),
                                               QStringLiteral("B1"), QStringLiteral("00012345678901234"),
                                               QStringLiteral("000000000045000"))
                                   .toLatin1());
    for (const QRect available : {QRect(0, 0, 800, 572), QRect(0, 24, 800, 576)}) {
        test::FakeDesktop desktop;
        desktop.screen = {800, 600};
        desktop.available = available;
        desktop.driveList = {app.path(QStringLiteral("drive"))};
        QStringList faults;
        const auto check = [&](QWidget &window) {
            window.show();
            QApplication::processEvents();
            faults << whatDoesNotFit(window, available);
            window.close();
        };
        {
            credentials::LoginDialog w(app.folder(), desktop);
            check(w);
        }
        {
            credentials::ChangePasswordDialog w(app.folder(), desktop);
            check(w);
        }
        {
            shell::MainWindow w(app.folder(), desktop);
            check(w);
        }
        {
            shell::JournalWindow w(app.folder(), desktop);
            check(w);
        }
        {
            results::LookupWindow w(app.folder(), desktop);
            check(w);
        }
        for (auto mode : {backup::BackupWindow::Mode::Backup, backup::BackupWindow::Mode::Restore}) {
            backup::BackupWindow w(mode, app.folder(), desktop);
            check(w);
        }
        for (const auto &design : {receivables::receivablesMappingDesign(), payments::paymentsMappingDesign()}) {
            workbookimport::MappingWindow w(design, app.folder(), desktop);
            check(w);
        }
        {
            receivables::ReceivablesImport import(app.folder());
            workbookimport::ExcelImportWindow w({QStringLiteral("frmExcelToAccess"), QStringLiteral("讀入應收帳款資料(EXCEL)"),
                                                 platform::filekind::ReceivablesWorkbook},
                                                import, [](QWidget *, const workbookimport::Headings &) { return false; }, desktop);
            check(w);
        }
        {
            store::StoreImport import(app.folder());
            textimport::TextImportWindow w(store::storeWindowDesign(), import, desktop);
            desktop.files = {storeFile};
            w.onChooseClicked();
            w.onPreviewClicked();
            check(w);
        }
        EXPECT_TRUE(faults.isEmpty()) << faults.join(u'\n').toStdString();
    }
}

TEST(MainWindow, ExitWithCancelChangesNothing)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    desktop.answers = {platform::Answer::Cancel};
    shell::MainWindow window(app.folder(), desktop);
    window.show();
    const QByteArray before = test::readFile(app.folder().databaseFile());
    test::writeFile(app.folder().scratchDatabaseFile(), "leftover");

    window.findChild<QAction *>(QStringLiteral("EXITMENU"))->trigger();

    ASSERT_EQ(desktop.messages.size(), 1u);
    const auto &m = desktop.messages[0];
    EXPECT_EQ(m.text, QStringLiteral("確認結束系統?"));
    EXPECT_EQ(m.title, window.windowTitle());
    EXPECT_EQ(m.icon, platform::Icon::Information);
    EXPECT_EQ(m.buttons, platform::Buttons::OkCancel);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
    EXPECT_TRUE(platform::fileExists(app.folder().scratchDatabaseFile()));
}

TEST(MainWindow, ExitConfirmedCompactsAndCloses)
{
    test::TestApp app;
    {
        auto db = db::openDatabase(app.folder());
        db.execute("INSERT INTO SMdata (BARCODE2) VALUES ('B1')");
    }
    test::writeFile(app.folder().scratchDatabaseFile(), "leftover");
    test::FakeDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    window.show();

    EXPECT_TRUE(window.onExitTriggered());
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(platform::fileExists(app.folder().scratchDatabaseFile()));
    auto db = db::openDatabase(app.folder());
    auto q = db.prepare("SELECT BARCODE2 FROM SMdata");
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QStringLiteral("B1"));
}

TEST(MainWindow, ExitWhileAnotherProgramWritesSaysNothingMoreAndLosesNoRow)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    window.show();
    auto writer = db::openDatabase(app.folder());
    {
        platform::Transaction open(writer);
        writer.execute("INSERT INTO SMdata (BARCODE2) VALUES ('BATCH-JOB')");
        EXPECT_TRUE(window.onExitTriggered());
        open.commit();
    }
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(desktop.texts(), QStringList{QStringLiteral("確認結束系統?")}) << "a failed compaction is not reported";
    auto q = writer.prepare("SELECT BARCODE2 FROM SMdata");
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QStringLiteral("BATCH-JOB"));
    EXPECT_FALSE(platform::fileExists(app.folder().scratchDatabaseFile()));
}

TEST(MainWindow, ChangeOfPasswordOpensItsDialogModally)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    window.show();
    QString seen;
    QTimer::singleShot(0, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        seen = modal ? modal->objectName() : QString();
        if (modal)
            modal->close();
    });
    window.findChild<QAction *>(QStringLiteral("ChgPas"))->trigger();
    EXPECT_EQ(seen, QStringLiteral("ChgPasWd"));
}

TEST(MainWindow, ExportsReportTheSavedFileAndHandItToTheSpreadsheetProgram)
{
    test::TestApp app;
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", app.folder().root().toUtf8());
    test::FakeDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    window.show();
    bool disabledDuring = false;
    desktop.onEvents = [&] {
        disabledDuring = !window.findChild<QAction *>(QStringLiteral("EXITMENU"))->isEnabled() && window.exporting();
        window.close(); // refused while the export runs
    };
    {
        auto db = db::openDatabase(app.folder());
        db.execute("INSERT INTO F_AccountData (Bankcode, Total) VALUES ('A1', '10')");
    }
    window.findChild<QAction *>(QStringLiteral("errorfile"))->trigger();
    qputenv("HOME", home);

    EXPECT_TRUE(disabledDuring);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.findChild<QAction *>(QStringLiteral("EXITMENU"))->isEnabled());
    ASSERT_EQ(desktop.messages.size(), 1u);
    const auto &m = desktop.messages[0];
    EXPECT_EQ(m.text, QStringLiteral("已成功匯出成Excel檔,共 1 筆。"));
    EXPECT_EQ(m.title, QStringLiteral("訊息"));
    EXPECT_EQ(m.icon, platform::Icon::Information);
    ASSERT_EQ(desktop.opened.size(), 1);
    EXPECT_EQ(m.informativeText, desktop.opened[0]);
    EXPECT_TRUE(desktop.opened[0].contains(QStringLiteral("/銷帳結果_")));
    EXPECT_TRUE(platform::fileExists(desktop.opened[0]));

    // The store export of a database that is gone: the number at once followed by its
    // description, no title, no icon, OK only.
    QFile::remove(app.folder().databaseFile());
    window.findChild<QAction *>(QStringLiteral("PrtRecALL"))->trigger();
    ASSERT_EQ(desktop.messages.size(), 2u);
    EXPECT_EQ(desktop.messages[1].text,
              QStringLiteral("53找不到資料庫檔案：") + app.folder().databaseFile());
    EXPECT_EQ(desktop.messages[1].title, QString());
    EXPECT_EQ(desktop.messages[1].icon, platform::Icon::None);
    EXPECT_EQ(desktop.messages[1].buttons, platform::Buttons::Ok);
    EXPECT_EQ(desktop.opened.size(), 1);
}

TEST(MainWindow, SaveAsWritesTheExportWhereTheClerkSaysAndACancelledChoiceWritesNothing)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    test::execute(app.folder(), "INSERT INTO SMdata (R_NUM, P_TOTAL) VALUES ('S1', '35')");
    const QString chosen = app.path(QStringLiteral("月底/超商.xlsx"));
    QDir().mkpath(QFileInfo(chosen).absolutePath());
    desktop.saveFiles = {QString(), chosen};

    window.findChild<QAction *>(QStringLiteral("PrtRecALLAs"))->trigger();
    EXPECT_TRUE(desktop.messages.empty()) << "a cancelled choice is not a failure";
    EXPECT_TRUE(desktop.opened.empty());
    window.findChild<QAction *>(QStringLiteral("PrtRecALLAs"))->trigger();
    ASSERT_EQ(desktop.suggestedSaves.size(), 2);
    EXPECT_TRUE(QFileInfo(desktop.suggestedSaves[1]).fileName().startsWith(QStringLiteral("超商銷帳資料_")))
        << "the dialog offers the dated name the plain export would use";
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("已成功匯出成Excel檔,共 1 筆。"));
    EXPECT_EQ(desktop.opened, QStringList{chosen});
    const auto book = workbook::Workbook::open(chosen);
    EXPECT_EQ(book->worksheetNames(), QStringList{QStringLiteral("超商銷帳資料")});
    EXPECT_EQ(book->worksheet(book->worksheetNames().front())->lastUsedRow(), 2) << "headings and the one store row";
}

// The same failure in the real message box: what the clerk sees is the number and description
// under the program's caption, with no icon and OK alone.
TEST(MainWindow, AFailedExportInTheRealMessageBoxKeepsItsFixedForm)
{
    test::TestApp app;
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", app.folder().root().toUtf8());
    QFile::remove(app.folder().databaseFile());
    platform::QtDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    window.show();
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::Ok);
    window.findChild<QAction *>(QStringLiteral("errorfile"))->trigger();
    qputenv("HOME", home);
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.text, QStringLiteral("53找不到資料庫檔案：") + app.folder().databaseFile());
    EXPECT_EQ(seen.title, platform::kProgramCaption) << "a box without a title of its own";
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttonTexts.size(), 1) << "OK only";
    EXPECT_TRUE(window.findChild<QAction *>(QStringLiteral("errorfile"))->isEnabled());
}

// A desktop with no program for workbooks: said so, and the folder offered; an empty table is
// exported and said to be empty; the status bar is clear before any result is shown.
TEST(MainWindow, AnExportNoProgramOpensOffersItsFolderAndSaysHowManyRows)
{
    test::TestApp app;
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", app.folder().root().toUtf8());
    test::FakeDesktop desktop;
    desktop.openSucceeds = false;
    desktop.answers = {platform::Answer::Yes, platform::Answer::Ok};
    shell::MainWindow window(app.folder(), desktop);
    window.show();
    bool statusClearAtEveryMessage = true;
    desktop.onMessage = [&](const platform::Message &) {
        statusClearAtEveryMessage = statusClearAtEveryMessage && !window.statusBar()->findChild<QProgressBar *>()
                                    && window.statusBar()->currentMessage().isEmpty();
    };
    window.findChild<QAction *>(QStringLiteral("PrtRecALL"))->trigger();
    qputenv("HOME", home);

    ASSERT_GE(desktop.messages.size(), 2u);
    const auto &m = desktop.messages[0];
    EXPECT_TRUE(m.text.startsWith(QStringLiteral("已成功匯出成Excel檔,共 0 筆"))) << m.text.toStdString();
    EXPECT_TRUE(m.text.contains(QStringLiteral("沒有可以開啟活頁簿的程式"))) << m.text.toStdString();
    EXPECT_EQ(m.buttons, platform::Buttons::YesNo);
    ASSERT_EQ(desktop.opened.size(), 2);
    EXPECT_EQ(desktop.opened[1], QFileInfo(desktop.opened[0]).absolutePath());
    EXPECT_TRUE(platform::fileExists(desktop.opened[0]));
    // The folder would not open either: the path is given to find it by hand.
    EXPECT_EQ(desktop.messages[1].informativeText, desktop.opened[0]);
    EXPECT_TRUE(statusClearAtEveryMessage);
}

TEST(MainWindow, ClearingsReportUnderTheMainCaptionAndFailuresLeaveTheProgramUsable)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("10"));
    test::execute(app.folder(), "INSERT INTO SMdata (BARCODE2) VALUES ('B1')");
    test::FakeDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    desktop.answers = {platform::Answer::Yes, platform::Answer::Ok, platform::Answer::Yes, platform::Answer::Ok};
    window.findChild<QAction *>(QStringLiteral("SClearFile"))->trigger();
    window.findChild<QAction *>(QStringLiteral("RClearFile"))->trigger();
    ASSERT_EQ(desktop.messages.size(), 4u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("確定要清除超商資料 1 筆?"));
    EXPECT_EQ(desktop.messages[2].text, QStringLiteral("確定要清除應收帳款資料 1 筆?"));
    for (const auto &m : {desktop.messages[1], desktop.messages[3]}) {
        EXPECT_EQ(m.text, QStringLiteral("清除資料完成!"));
        EXPECT_EQ(m.title, QStringLiteral("Talvesk虛擬帳號資料處理(Version 1.0)"));
        EXPECT_EQ(m.icon, platform::Icon::Information);
    }
    EXPECT_TRUE(desktop.messages[1].informativeText.contains(QStringLiteral("BeforeClearStore.mdb")));
    EXPECT_TRUE(desktop.messages[3].informativeText.contains(QStringLiteral("BeforeClearReceivables.mdb")));
    test::writeFile(app.folder().databaseFile(), "not a database");
    window.findChild<QAction *>(QStringLiteral("RClearFile"))->trigger();
    ASSERT_EQ(desktop.messages.size(), 5u);
    EXPECT_TRUE(desktop.messages[4].text.startsWith(QStringLiteral("錯誤發生;錯誤代碼=")));
    EXPECT_EQ(desktop.messages[4].icon, platform::Icon::Critical);
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), QByteArray("not a database"));
}

TEST(MainWindow, ClearingAsksWithTheRowCountAndNoKeepsEveryRow)
{
    test::TestApp app;
    test::execute(app.folder(), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1234) "
                                "INSERT INTO F_AccountData (Bankcode, Total) SELECT 'A' || i, '10' FROM n");
    test::FakeDesktop desktop;
    desktop.answers = {platform::Answer::No};
    shell::MainWindow window(app.folder(), desktop);
    window.findChild<QAction *>(QStringLiteral("RClearFile"))->trigger();
    ASSERT_EQ(desktop.messages.size(), 1u);
    const auto &m = desktop.messages[0];
    EXPECT_EQ(m.text, QStringLiteral("確定要清除應收帳款資料 1,234 筆?"));
    EXPECT_EQ(m.buttons, platform::Buttons::YesNo);
    EXPECT_EQ(m.defaultAnswer, platform::Answer::No);
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 1234u);
    EXPECT_FALSE(platform::fileExists(app.folder().databaseFolder() + QStringLiteral("/BeforeClearReceivables.mdb")));

    // An empty table: nothing to ask about, nothing copied or cleared.
    desktop.messages.clear();
    window.findChild<QAction *>(QStringLiteral("SClearFile"))->trigger();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("目前沒有超商資料，不需要清除。"));
    EXPECT_EQ(desktop.messages[0].buttons, platform::Buttons::Ok);
    EXPECT_FALSE(platform::fileExists(app.folder().databaseFolder() + QStringLiteral("/BeforeClearStore.mdb")));
}

// The slip that cost a day's work: Enter on the real question keeps the table.
TEST(MainWindow, EnterOnTheRealClearingQuestionKeepsTheTable)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("10"));
    platform::QtDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::NoButton);
    window.findChild<QAction *>(QStringLiteral("RClearFile"))->trigger();
    EXPECT_TRUE(seen.seen);
    EXPECT_EQ(seen.text, QStringLiteral("確定要清除應收帳款資料 1 筆?"));
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 1u);
}

// 結束 through the real message box: OK must run the exit sequence.
TEST(MainWindow, ExitConfirmedInTheRealMessageBoxCompactsAndCloses)
{
    test::TestApp app;
    test::writeFile(app.folder().scratchDatabaseFile(), "leftover");
    platform::QtDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    window.show();
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::Ok);
    window.findChild<QAction *>(QStringLiteral("EXITMENU"))->trigger();
    EXPECT_TRUE(seen.seen);
    EXPECT_EQ(seen.text, QStringLiteral("確認結束系統?"));
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(platform::fileExists(app.folder().scratchDatabaseFile()));

    // Cancel in the real box keeps the program.
    shell::MainWindow again(app.folder(), desktop);
    again.show();
    test::SeenBox cancelled;
    test::pressInNextBox(cancelled, QMessageBox::Cancel);
    again.findChild<QAction *>(QStringLiteral("EXITMENU"))->trigger();
    EXPECT_TRUE(cancelled.seen);
    EXPECT_TRUE(again.isVisible());
}

// The status line says what the database holds, and says it again after each command.
TEST(MainWindow, TheStatusLineCountsTheDataAndFollowsEachCommand)
{
    test::TestApp app;
    test::execute(app.folder(), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1234) "
                                "INSERT INTO F_AccountData (Bankcode, Total, PayDate) "
                                "SELECT 'A' || i, '10', CASE WHEN i <= 34 THEN '1130105' ELSE '' END FROM n");
    test::FakeDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    auto *summary = window.findChild<QLabel *>(QStringLiteral("dataSummary"));
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(summary->text(), QStringLiteral("應收帳款 1,234 筆 (有入帳 34 / 未入帳 1,200) | 超商資料 0 筆 | 尚無匯入"));

    desktop.answers = {platform::Answer::Yes, platform::Answer::Ok};
    window.findChild<QAction *>(QStringLiteral("RClearFile"))->trigger();
    EXPECT_TRUE(summary->text().startsWith(QStringLiteral("應收帳款 0 筆 (有入帳 0 / 未入帳 0)"))) << summary->text().toStdString();
    // The lookup's index follows the change on its own, made once the overview has its figures.
    for (QDeadlineTimer deadline(20000); !results::lookupindex::current(app.folder()) && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_TRUE(results::lookupindex::current(app.folder()));

    // A bank file read through its window is the last import.
    const QString bank = app.path(QStringLiteral("bank.txt"));
    test::writeFile(bank, QByteArray());
    desktop.files = {bank};
    QTimer::singleShot(0, [&] {
        auto *w = qobject_cast<textimport::TextImportWindow *>(QApplication::activeModalWidget());
        ASSERT_NE(w, nullptr);
        w->chooseButton()->click();
        w->readButton()->click();
        w->reject();
    });
    const QDateTime before = QDateTime::currentDateTime().addSecs(-60);
    window.findChild<QAction *>(QStringLiteral("MENDO"))->trigger();
    const QString shown = summary->text().section(QStringLiteral("最後匯入 "), 1);
    ASSERT_FALSE(shown.isEmpty()) << summary->text().toStdString();
    EXPECT_GE(QDateTime::fromString(shown, QStringLiteral("yyyy/MM/dd HH:mm")), before.addSecs(-before.time().second()));

    // Undone (here by a scheduled job), the import is no longer the last one, whatever the
    // windows saw.
    {
        platform::Database db = db::openDatabase(app.folder());
        db::undoLatest(db);
    }
    QTimer::singleShot(0, [] { qobject_cast<QDialog *>(QApplication::activeModalWidget())->reject(); });
    window.findChild<QAction *>(QStringLiteral("MENDO"))->trigger();
    EXPECT_TRUE(summary->text().endsWith(QStringLiteral("| 尚無匯入"))) << summary->text().toStdString();
}

// The status line names the database in use at its right, beside the data's counts, within an
// 800 x 600 screen: a long socket folder gives way in its middle, the whole text in its tooltip.
TEST(MainWindow, TheStatusLineNamesTheDatabaseInUseWithinASmallScreen)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    desktop.screen = {800, 600};
    const QString deskText = QStringLiteral("資料庫：本機檔案 ")
        + QDir::toNativeSeparators(QDir(app.folder().root()).absoluteFilePath(QStringLiteral("ldb/Vellaroke.mdb")));
    const QString folder = QStringLiteral("/srv/office/postgresql/sockets/accounting-department/main-cluster");
    {
        shell::MainWindow window(app.folder(), desktop);
        window.show();
        QCoreApplication::processEvents();
        auto *label = window.findChild<QLabel *>(QStringLiteral("databaseLabel"));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->toolTip(), deskText);
        EXPECT_EQ(label->text(), deskText);
        // The counts keep their whole line beside it.
        auto *summary = window.findChild<QLabel *>(QStringLiteral("dataSummary"));
        EXPECT_FALSE(summary->geometry().intersects(label->geometry()));
        EXPECT_LE(summary->fontMetrics().horizontalAdvance(summary->text()), summary->contentsRect().width())
            << summary->text().toStdString();

        // Named after the window opened: the next command's refresh shows it.
        test::writeFile(server::settingsFile(app.folder()),
                        QStringLiteral("[DATABASE]\r\nserver=host=%1 dbname=talvesk\r\n").arg(folder).toUtf8());
        window.refreshSummary();
        QCoreApplication::processEvents();
        const QString serverText = QStringLiteral("資料庫：共用伺服器 ") + folder + QStringLiteral("/talvesk");
        EXPECT_EQ(label->toolTip(), serverText);
        // That server cannot be reached: the counts say so briefly, the reason in their tooltip.
        EXPECT_EQ(summary->text(), QStringLiteral("無法讀取資料庫"));
        EXPECT_FALSE(summary->toolTip().isEmpty());
        EXPECT_TRUE(label->text().startsWith(QStringLiteral("資料庫：共用伺服器 /"))) << label->text().toStdString();
        EXPECT_TRUE(label->text() == serverText || label->text().contains(QChar(0x2026))) << label->text().toStdString();
        EXPECT_TRUE(label->text().endsWith(QStringLiteral("/talvesk"))) << label->text().toStdString();
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width());
        const QRect inWindow(label->mapTo(&window, QPoint()), label->size());
        EXPECT_TRUE(window.rect().contains(inWindow));
        EXPECT_LE(window.frameGeometry().width(), 800);
    }
}

// Once logged in, a desk's database file on a network share is warned of in the real message
// box, naming the file and the shared server; not for a local file (the real look at the disk),
// nor when a server is named.
TEST(Startup, ADatabaseFileOnANetworkShareIsWarnedOfInTheRealMessageBox)
{
    test::TestApp app;
    const server::ShareCheck onShare = [](const QString &) { return true; };
    {
        platform::QtDesktop desktop;
        test::FakeDesktop fake;
        shell::MainWindow window(app.folder(), fake);
        window.show();
        test::SeenBox seen;
        test::pressInNextBox(seen, QMessageBox::Ok);
        shell::warnOfNetworkShare(app.folder(), desktop, &window, onShare);
        ASSERT_TRUE(seen.seen);
        EXPECT_EQ(seen.icon, QMessageBox::Warning);
        EXPECT_EQ(seen.title, platform::kProgramCaption);
        EXPECT_EQ(seen.text, server::networkShareWarning(app.folder(), onShare).value());
        EXPECT_TRUE(seen.text.contains(QStringLiteral("共用資料庫伺服器（Env/Database.ini）")));
        EXPECT_EQ(seen.buttonTexts.size(), 1);
    }
    test::FakeDesktop desktop;
    shell::warnOfNetworkShare(app.folder(), desktop, nullptr);
    EXPECT_TRUE(desktop.messages.empty());
    test::writeFile(server::settingsFile(app.folder()), "[DATABASE]\r\nserver=host=db.office.lan dbname=talvesk\r\n");
    shell::warnOfNetworkShare(app.folder(), desktop, nullptr, onShare);
    EXPECT_TRUE(desktop.messages.empty());
}

// A second copy of the program on the same database is told and must stop, while another
// process really holds the lock; once that one has gone, the next copy may start.
TEST(Startup, ASecondCopyOnTheSameDatabaseIsToldAndStops)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    {
        test::LockHolder first(shell::InstanceLock::lockFilePath(app.folder()));
        ASSERT_TRUE(first.holds());
        shell::InstanceLock lock(app.folder());
        EXPECT_FALSE(shell::claimDatabase(lock, desktop));
        ASSERT_EQ(desktop.messages.size(), 1u);
        EXPECT_EQ(desktop.messages[0].text, shell::alreadyRunningText(first.pid()));
        EXPECT_EQ(desktop.messages[0].icon, platform::Icon::Exclamation);
        first.dieHoldingTheLock();
    }
    shell::InstanceLock lock(app.folder());
    EXPECT_TRUE(shell::claimDatabase(lock, desktop));
    EXPECT_EQ(desktop.messages.size(), 1u);
}
