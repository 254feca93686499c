#include "db/Connection.h"
#include "platform/Files.h"
#include "shell/RemainMenu.h"
#include "support/FakeDesktop.h"
#include "support/TestApp.h"
#include "support/Widgets.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
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
                items << QStringLiteral("  ") + item->objectName() + u' ' + item->text();
        } else {
            items << action->objectName() + u' ' + action->text();
        }
    }
    return items;
}

} // namespace

TEST(RemainMenu, EveryItemInOrderWithItsNameAndCaption)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    shell::RemainMenu window(app.folder(), desktop);
    EXPECT_EQ(window.objectName(), QStringLiteral("remainmenu"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Talvesk虛擬帳號資料處理(Version 1.0)"));
    const QStringList expected{
        QStringLiteral("readdisk 讀入應收帳款資料(EXCEL)"),
        QStringLiteral("MENU5 處理作業"),
        QStringLiteral("  READBANK 讀入入帳明細(EXCEL)"),
        QStringLiteral("  MENDO 讀入入帳明細(TXT)"),
        QStringLiteral("  errorfile 銷帳結果轉存EXCEL檔"),
        QStringLiteral("PrtRec 超商銷帳資料處理"),
        QStringLiteral("  READ711 讀入便利超商銷帳磁片"),
        QStringLiteral("  PrtRecALL 超商銷帳資料轉EXCEL檔"),
        QStringLiteral("syswork 系統作業"),
        QStringLiteral("  BACKUP 備份資料庫"),
        QStringLiteral("  RESTORE 回復資料庫"),
        QStringLiteral("  RClearFile 應收帳款清檔作業"),
        QStringLiteral("  SClearFile 超商資料清檔作業"),
        QStringLiteral("  ChgPas 變更密碼"),
        QStringLiteral("EXITMENU 結束"),
    };
    EXPECT_EQ(menuItems(window), expected);
    for (QAction *action : window.findChildren<QAction *>()) {
        EXPECT_TRUE(action->isEnabled() && action->isVisible()) << action->objectName().toStdString();
        EXPECT_TRUE(action->shortcut().isEmpty());
        EXPECT_FALSE(action->isCheckable());
        EXPECT_FALSE(action->isSeparator());
    }
}

TEST(RemainMenu, GrowsOnAnExactly800By600ScreenOnlyAndIsPlaced)
{
    test::TestApp app;
    const struct {
        QSize screen, window;
    } cases[] = {
        {{800, 600}, {800, 600}}, {{1024, 768}, {640, 480}}, {{800, 601}, {640, 480}}};
    for (const auto &c : cases) {
        test::FakeDesktop desktop;
        desktop.screen = c.screen;
        shell::RemainMenu window(app.folder(), desktop);
        EXPECT_EQ(window.size(), c.window) << c.screen.width() << "x" << c.screen.height();
        EXPECT_EQ(window.pos(), QPoint((c.screen.width() - c.window.width()) / 2,
                                       (c.screen.height() - c.window.height() - 28) / 2));
    }
}

TEST(RemainMenu, ExitWithCancelChangesNothing)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    desktop.answers = {platform::Answer::Cancel};
    shell::RemainMenu window(app.folder(), desktop);
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

TEST(RemainMenu, ExitConfirmedCompactsAndCloses)
{
    test::TestApp app;
    {
        auto db = db::openDatabase(app.folder());
        db.execute("INSERT INTO SMdata (BARCODE2) VALUES ('B1')");
    }
    test::writeFile(app.folder().scratchDatabaseFile(), "leftover");
    test::FakeDesktop desktop;
    shell::RemainMenu window(app.folder(), desktop);
    window.show();

    EXPECT_TRUE(window.onExitTriggered());
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(platform::fileExists(app.folder().scratchDatabaseFile()));
    auto db = db::openDatabase(app.folder());
    auto q = db.prepare("SELECT BARCODE2 FROM SMdata");
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QStringLiteral("B1"));
}

TEST(RemainMenu, ExitWhileAnotherProgramWritesSaysNothingMoreAndLosesNoRow)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    shell::RemainMenu window(app.folder(), desktop);
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

TEST(RemainMenu, ChangeOfPasswordOpensItsDialogModally)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    shell::RemainMenu window(app.folder(), desktop);
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

TEST(RemainMenu, ExportsReportTheSavedFileAndHandItToTheSpreadsheetProgram)
{
    test::TestApp app;
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", app.folder().root().toUtf8());
    test::FakeDesktop desktop;
    shell::RemainMenu window(app.folder(), desktop);
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
    EXPECT_EQ(m.text, QStringLiteral("已成功匯出成Excel檔"));
    EXPECT_EQ(m.title, QStringLiteral("訊息"));
    EXPECT_EQ(m.icon, platform::Icon::Information);
    ASSERT_EQ(desktop.opened.size(), 1);
    EXPECT_EQ(m.informativeText, desktop.opened[0]);
    EXPECT_TRUE(desktop.opened[0].contains(QStringLiteral("/銷帳結果_")));
    EXPECT_TRUE(platform::fileExists(desktop.opened[0]));

    // The store export of a database that is gone: number and description, no title, no icon.
    QFile::remove(app.folder().databaseFile());
    window.findChild<QAction *>(QStringLiteral("PrtRecALL"))->trigger();
    ASSERT_EQ(desktop.messages.size(), 2u);
    EXPECT_TRUE(desktop.messages[1].text.startsWith(QStringLiteral("53"))) << desktop.messages[1].text.toStdString();
    EXPECT_EQ(desktop.messages[1].title, QString());
    EXPECT_EQ(desktop.messages[1].icon, platform::Icon::None);
    EXPECT_EQ(desktop.opened.size(), 1);
}

TEST(RemainMenu, ClearingsReportUnderTheMainCaptionAndFailuresLeaveTheProgramUsable)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    shell::RemainMenu window(app.folder(), desktop);
    window.findChild<QAction *>(QStringLiteral("SClearFile"))->trigger();
    window.findChild<QAction *>(QStringLiteral("RClearFile"))->trigger();
    ASSERT_EQ(desktop.messages.size(), 2u);
    for (const auto &m : desktop.messages) {
        EXPECT_EQ(m.text, QStringLiteral("清除資料完成!"));
        EXPECT_EQ(m.title, QStringLiteral("Talvesk虛擬帳號資料處理(Version 1.0)"));
        EXPECT_EQ(m.icon, platform::Icon::Information);
    }
    EXPECT_TRUE(desktop.messages[0].informativeText.contains(QStringLiteral("BeforeClearStore.mdb")));
    EXPECT_TRUE(desktop.messages[1].informativeText.contains(QStringLiteral("BeforeClearReceivables.mdb")));
    test::writeFile(app.folder().databaseFile(), "not a database");
    window.findChild<QAction *>(QStringLiteral("RClearFile"))->trigger();
    ASSERT_EQ(desktop.messages.size(), 3u);
    EXPECT_TRUE(desktop.messages[2].text.startsWith(QStringLiteral("錯誤發生;錯誤代碼=")));
    EXPECT_EQ(desktop.messages[2].icon, platform::Icon::Critical);
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), QByteArray("not a database"));
}
