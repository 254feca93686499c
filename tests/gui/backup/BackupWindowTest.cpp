#include "backup/Backup.h"
#include "backup/BackupWindow.h"
#include "db/Connection.h"
#include "db/TableExport.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "support/FakeDesktop.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Widgets.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace talvesk;
using backup::BackupWindow;


namespace {

class BackupWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        desktop.driveList = {driveA.path(), driveB.path()};
        test::writeFile(driveA.path() + QStringLiteral("/Vellaroke.m02"), "old backup");
    }
    std::unique_ptr<BackupWindow> open(BackupWindow::Mode mode)
    {
        auto window = std::make_unique<BackupWindow>(mode, app.folder(), desktop);
        test::showActive(*window);
        return window;
    }
    static QRadioButton *option(QWidget &w, int slot)
    {
        return test::child<QRadioButton>(w, QStringLiteral("opn%1").arg(slot).toLatin1().constData());
    }

    test::TestApp app;
    test::FakeDesktop desktop;
    QTemporaryDir driveA, driveB, otherFolder;
};

} // namespace

TEST_F(BackupWindowTest, OpensOnSlotOneWithTheCaptionsOfTheFilesFound)
{
    auto w = open(BackupWindow::Mode::Backup);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("備份資料庫"));
    EXPECT_EQ(test::child<QLabel>(*w, "Label2")->text(), QStringLiteral("磁碟機 : "));
    EXPECT_EQ(test::child<QComboBox>(*w, "Drive")->count(), 3); // and 其他資料夾…
    EXPECT_TRUE(option(*w, 1)->isChecked());
    EXPECT_EQ(option(*w, 2)->text(), QStringLiteral("Vellaroke.M02"));
    EXPECT_TRUE(option(*w, 1)->text().isEmpty());

    // Another drive: the captions of files not there are cleared; the chosen slot stays.
    option(*w, 2)->setChecked(true);
    test::child<QComboBox>(*w, "Drive")->setCurrentIndex(1);
    EXPECT_TRUE(option(*w, 2)->text().isEmpty());
    EXPECT_TRUE(option(*w, 2)->isChecked());
}

TEST_F(BackupWindowTest, BackingUpOverAShownSlotAsksAndNoCopiesNothing)
{
    auto w = open(BackupWindow::Mode::Backup);
    option(*w, 2)->setChecked(true);
    desktop.answers = {platform::Answer::No};
    w->onConfirmClicked();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("是否覆蓋Vellaroke.m02!"));
    EXPECT_EQ(desktop.messages[0].title, QStringLiteral("備份資料庫"));
    EXPECT_EQ(desktop.messages[0].buttons, platform::Buttons::YesNo);
    EXPECT_EQ(desktop.messages[0].icon, platform::Icon::None);
    EXPECT_EQ(test::readFile(driveA.path() + QStringLiteral("/Vellaroke.m02")), QByteArray("old backup"));

    // Enter in the drive list backs up to slot 3, which shows no caption: no question asked.
    option(*w, 3)->setChecked(true);
    QTest::keyClick(test::child<QComboBox>(*w, "Drive"), Qt::Key_Return);
    EXPECT_EQ(desktop.texts().last(), QStringLiteral("備份作業完成！"));
    EXPECT_EQ(desktop.messages.back().title, QStringLiteral("備份"));
    EXPECT_EQ(test::readFile(driveA.path() + QStringLiteral("/Vellaroke.m03")), test::readFile(app.folder().databaseFile()));
    EXPECT_EQ(option(*w, 3)->text(), QStringLiteral("Vellaroke.M03")) << "the slot just written shows its caption";
    EXPECT_EQ(desktop.pointer(), platform::Pointer::Default);
}

TEST_F(BackupWindowTest, AReadOnlyBackupFileIsReportedAsTheDatabaseInUse)
{
    QFile::setPermissions(driveA.path() + QStringLiteral("/Vellaroke.m02"), QFile::ReadOwner);
    auto w = open(BackupWindow::Mode::Backup);
    option(*w, 2)->setChecked(true);
    w->onConfirmClicked();
    ASSERT_EQ(desktop.messages.size(), 2u);
    EXPECT_EQ(desktop.messages[1].text, QStringLiteral("資料庫正在使用中，無法備份，請先關閉資料庫"));
    EXPECT_EQ(desktop.messages[1].icon, platform::Icon::Critical);
    EXPECT_EQ(desktop.messages[1].title, QStringLiteral("備份"));
}

TEST_F(BackupWindowTest, RestoreAsksForAShownSlotAndEndsWithOnlyCancelUsable)
{
    backup::backupDatabase(app.folder(), driveA.path() + QStringLiteral("/Vellaroke.m02"));
    test::addReceivable(app.folder(), QStringLiteral("AFTER"), QStringLiteral("1"));
    auto w = open(BackupWindow::Mode::Restore);
    EXPECT_EQ(w->objectName(), QStringLiteral("FRMRECOVERY"));
    EXPECT_EQ(test::child<QLabel>(*w, "Label3")->text(),
              QStringLiteral("** 注意 : 執行完此回復作業後, 原資料庫之內容") + QString(20, u' ') + QStringLiteral("將會被備份磁片的資料覆蓋 !"));

    w->onConfirmClicked(); // slot 1 holds no backup on this drive: said so, not 「請選擇檔案!」
    EXPECT_EQ(desktop.texts(),
              QStringList{QStringLiteral("此磁碟機的這一格沒有備份檔案 (Vellaroke.m01),請選擇有備份的一格或另一個磁碟機。")});
    EXPECT_EQ(desktop.messages[0].title, QStringLiteral("回復"));

    option(*w, 2)->setChecked(true);
    w->onConfirmClicked();
    EXPECT_EQ(desktop.messages[1].text, QStringLiteral("是否確定以 Vellaroke.m02 覆蓋目前資料庫!"));
    EXPECT_EQ(desktop.messages[1].title, QStringLiteral("回復資料庫"));
    EXPECT_EQ(desktop.messages[1].defaultAnswer, platform::Answer::No);
    EXPECT_EQ(desktop.messages[2].text, QStringLiteral("回復作業完成!"));
    EXPECT_TRUE(desktop.messages[2].informativeText.contains(QStringLiteral("BeforeRestore.mdb")));
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).empty());

    auto *cancel = test::child<QPushButton>(*w, "cmdcancel");
    EXPECT_FALSE(test::child<QWidget>(*w, "Drive")->isEnabled());
    EXPECT_FALSE(test::child<QWidget>(*w, "cmdcfi")->isEnabled());
    cancel->setFocus();
    QTest::keyClick(cancel, Qt::Key_Up);
    EXPECT_EQ(test::focusName(), QStringLiteral("cmdcancel"));
    QTest::keyClick(cancel, Qt::Key_Down);
    EXPECT_EQ(test::focusName(), QStringLiteral("cmdcancel"));
}

TEST_F(BackupWindowTest, ABackupThatVanishedAfterTheCaptionsIsReportedAndChangesNothing)
{
    auto w = open(BackupWindow::Mode::Restore);
    option(*w, 2)->setChecked(true);
    QFile::remove(driveA.path() + QStringLiteral("/Vellaroke.m02"));
    const QByteArray before = test::readFile(app.folder().databaseFile());
    test::child<QWidget>(*w, "cmdcancel")->setFocus();
    w->onConfirmClicked();
    ASSERT_EQ(desktop.messages.size(), 2u);
    EXPECT_EQ(desktop.messages[1].text, QStringLiteral(" 檔案不存在, 請確認."));
    EXPECT_EQ(desktop.messages[1].icon, platform::Icon::Exclamation);
    EXPECT_EQ(test::focusName(), QStringLiteral("Drive"));
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
    EXPECT_TRUE(test::child<QWidget>(*w, "cmdcfi")->isEnabled());
}

TEST_F(BackupWindowTest, ADatabaseHeldByAWriterShowsTheEnginesWordsWithTheExclamationIcon)
{
    backup::backupDatabase(app.folder(), driveA.path() + QStringLiteral("/Vellaroke.m02"));
    auto w = open(BackupWindow::Mode::Restore);
    option(*w, 2)->setChecked(true);
    platform::Database writer = db::openDatabase(app.folder());
    platform::Transaction held(writer);
    writer.execute("INSERT INTO SMdata (BARCODE2) VALUES ('B')");
    w->onConfirmClicked();
    held.commit();
    ASSERT_EQ(desktop.messages.size(), 2u);
    EXPECT_TRUE(desktop.messages[1].text.startsWith(QStringLiteral("資料庫正被其他程式使用中")))
        << desktop.messages[1].text.toStdString();
    EXPECT_TRUE(desktop.messages[1].text.contains(QStringLiteral("database is locked")));
    EXPECT_EQ(desktop.messages[1].icon, platform::Icon::Exclamation);
    EXPECT_EQ(desktop.messages[1].title, QStringLiteral("回復"));
    EXPECT_TRUE(test::child<QWidget>(*w, "cmdcfi")->isEnabled()) << "the restore may be tried again";
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("SMdata")).size(), 1u);
}

TEST_F(BackupWindowTest, FocusKeys)
{
    auto w = open(BackupWindow::Mode::Backup);
    const struct {
        const char *from;
        Qt::Key key;
        const char *to;
    } moves[] = {{"Drive", Qt::Key_Up, "cmdcancel"}, {"Drive", Qt::Key_Down, "cmdcfi"}, {"cmdcfi", Qt::Key_Up, "Drive"},
                 {"cmdcfi", Qt::Key_Down, "cmdcancel"}, {"cmdcancel", Qt::Key_Up, "cmdcfi"}, {"cmdcancel", Qt::Key_Down, "Drive"}};
    for (const auto &m : moves) {
        QWidget *from = test::child<QWidget>(*w, m.from);
        from->setFocus();
        QTest::keyClick(from, m.key);
        EXPECT_EQ(test::focusName(), QString::fromLatin1(m.to)) << m.from << " " << m.key;
    }
    EXPECT_TRUE(desktop.messages.empty());
}

// Enter on the real overwrite question keeps the database as it is.
TEST_F(BackupWindowTest, EnterOnTheRealRestoreQuestionRestoresNothing)
{
    backup::backupDatabase(app.folder(), driveA.path() + QStringLiteral("/Vellaroke.m02"));
    test::addReceivable(app.folder(), QStringLiteral("AFTER"), QStringLiteral("1"));
    platform::QtDesktop real;
    BackupWindow w(BackupWindow::Mode::Restore, app.folder(), real);
    test::child<QComboBox>(w, "Drive")->clear();
    test::child<QComboBox>(w, "Drive")->addItem(driveA.path(), driveA.path());
    test::showActive(w);
    option(w, 2)->setChecked(true);
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::NoButton);
    w.onConfirmClicked();
    EXPECT_TRUE(seen.seen);
    EXPECT_EQ(seen.text, QStringLiteral("是否確定以 Vellaroke.m02 覆蓋目前資料庫!"));
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 1u);
}

// Enter right after opening writes to the first place offered, and the place used is offered
// first next time; 其他資料夾… picks any folder, and cancelling it keeps the place chosen.
TEST_F(BackupWindowTest, EnterOnOpeningWritesToTheFirstPlaceWhichIsRememberedAndAnyFolderCanBeChosen)
{
    {
        auto w = open(BackupWindow::Mode::Backup);
        auto *drive = test::child<QComboBox>(*w, "Drive");
        EXPECT_EQ(drive->currentData().toString(), driveA.path());
        EXPECT_TRUE(drive->currentText().contains(driveA.path()));
        EXPECT_EQ(drive->itemText(drive->count() - 1), QStringLiteral("其他資料夾…"));
        drive->setFocus();
        QTest::keyClick(drive, Qt::Key_Return);
        EXPECT_TRUE(platform::fileExists(driveA.path() + QStringLiteral("/Vellaroke.m01")));

        // 其他資料夾…, cancelled: back to the place before; then a folder chosen.
        drive->setCurrentIndex(1);
        emit drive->activated(drive->count() - 1);
        EXPECT_EQ(drive->currentData().toString(), driveB.path());
        desktop.folders = {otherFolder.path()};
        emit drive->activated(drive->count() - 1);
        EXPECT_EQ(desktop.folderDialogs, 2);
        EXPECT_EQ(drive->currentData().toString(), otherFolder.path());
        QTest::keyClick(drive, Qt::Key_Return);
        EXPECT_TRUE(platform::fileExists(otherFolder.path() + QStringLiteral("/Vellaroke.m01")));
    }
    auto again = open(BackupWindow::Mode::Restore);
    EXPECT_EQ(test::child<QComboBox>(*again, "Drive")->currentData().toString(), otherFolder.path());
}

// The real desktop never offers the system's root, and offers the user's own folder.
TEST(QtDesktopDrives, NeverTheRootAndTheUsersFolderOffered)
{
    const QStringList places = platform::QtDesktop().drives();
    EXPECT_FALSE(places.contains(QStringLiteral("/")));
    EXPECT_TRUE(places.contains(QDir::homePath()) || QDir::homePath() == QStringLiteral("/"));
}
