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
#include "support/Volumes.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
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
    // A window on the real desktop offers drive A alone, and is shown and active.
    void onDriveA(BackupWindow &w)
    {
        test::child<QComboBox>(w, "Drive")->clear();
        test::child<QComboBox>(w, "Drive")->addItem(driveA.path(), driveA.path());
        test::showActive(w);
    }

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
    // A slot with a backup says when it was written and how big it is; an empty one says so.
    const QFileInfo written(driveA.path() + QStringLiteral("/Vellaroke.m02"));
    EXPECT_TRUE(option(*w, 2)->text().startsWith(
        QStringLiteral("第 2 格：Vellaroke.M02   ") + written.lastModified().toString(QStringLiteral("yyyy/MM/dd HH:mm "))))
        << option(*w, 2)->text().toStdString();
    EXPECT_TRUE(option(*w, 2)->text().endsWith(QStringLiteral("   10 位元組")));
    EXPECT_EQ(option(*w, 1)->text(), QStringLiteral("第 1 格：沒有備份"));
    // Shown whole, not cut at the window's edge (at 800 x 600 the window is no wider).
    test::showActive(*w);
    EXPECT_LE(option(*w, 2)->sizeHint().width(), option(*w, 2)->width());

    // Another drive: the slots say what is there; the chosen slot stays.
    option(*w, 2)->setChecked(true);
    test::child<QComboBox>(*w, "Drive")->setCurrentIndex(1);
    EXPECT_EQ(option(*w, 2)->text(), QStringLiteral("第 2 格：沒有備份"));
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
    EXPECT_EQ(desktop.messages[0].defaultAnswer, platform::Answer::No);
    const QDateTime written = QFileInfo(driveA.path() + QStringLiteral("/Vellaroke.m02")).lastModified();
    EXPECT_EQ(desktop.messages[0].informativeText,
              QStringLiteral("第 2 格的備份是 ") + written.toString(QStringLiteral("yyyy/MM/dd HH:mm")) + QStringLiteral(" 做的"));
    EXPECT_EQ(test::readFile(driveA.path() + QStringLiteral("/Vellaroke.m02")), QByteArray("old backup"));

    // A backup written into a slot since the slots were drawn is asked about too.
    test::writeFile(driveA.path() + QStringLiteral("/Vellaroke.m04"), "written meanwhile");
    option(*w, 4)->setChecked(true);
    desktop.answers = {platform::Answer::No};
    w->onConfirmClicked();
    EXPECT_EQ(desktop.texts().last(), QStringLiteral("是否覆蓋Vellaroke.m04!"));
    EXPECT_EQ(test::readFile(driveA.path() + QStringLiteral("/Vellaroke.m04")), QByteArray("written meanwhile"));

    // Enter in the drive list backs up to slot 3, which shows no caption: no question asked.
    option(*w, 3)->setChecked(true);
    QTest::keyClick(test::child<QComboBox>(*w, "Drive"), Qt::Key_Return);
    EXPECT_EQ(desktop.texts().last(), QStringLiteral("備份作業完成！"));
    EXPECT_EQ(desktop.messages.back().title, QStringLiteral("備份"));
    EXPECT_EQ(test::readFile(driveA.path() + QStringLiteral("/Vellaroke.m03")), test::readFile(app.folder().databaseFile()));
    EXPECT_TRUE(option(*w, 3)->text().startsWith(QStringLiteral("第 3 格：Vellaroke.M03   "))) << "the slot just written shows its caption";
    EXPECT_EQ(desktop.pointer(), platform::Pointer::Default);
}

// A write-protected backup file, folder or disk is said as such, not as the database in use,
// which is kept for a database another connection is writing.
TEST_F(BackupWindowTest, WriteProtectionAndTheDatabaseInUseAreToldApart)
{
    QFile::setPermissions(driveA.path() + QStringLiteral("/Vellaroke.m02"), QFile::ReadOwner);
    auto w = open(BackupWindow::Mode::Backup);
    option(*w, 2)->setChecked(true);
    w->onConfirmClicked();
    ASSERT_EQ(desktop.messages.size(), 2u);
    const QString place = test::child<QComboBox>(*w, "Drive")->currentText();
    EXPECT_EQ(desktop.messages[1].text,
              QStringLiteral("無法寫入 ") + place + QStringLiteral("：磁碟或資料夾有防寫保護(唯讀)，請解除防寫或選擇另一個位置。"));
    EXPECT_EQ(desktop.messages[1].icon, platform::Icon::Critical);
    EXPECT_EQ(desktop.messages[1].title, QStringLiteral("備份"));
    EXPECT_TRUE(desktop.messages[1].informativeText.contains(QStringLiteral("Vellaroke.m02")));
    EXPECT_EQ(test::focusName(), QStringLiteral("Drive"));

    test::WriteProtectedFolder stick;
    if (stick.ok()) {
        desktop.folders = {stick.path()};
        emit test::child<QComboBox>(*w, "Drive")->activated(test::child<QComboBox>(*w, "Drive")->count() - 1);
        option(*w, 1)->setChecked(true);
        w->onConfirmClicked();
        EXPECT_TRUE(desktop.texts().last().contains(QStringLiteral("防寫保護"))) << desktop.texts().last().toStdString();
        EXPECT_TRUE(QDir(stick.path()).isEmpty());
    }

    const qsizetype before = desktop.messages.size();
    test::child<QComboBox>(*w, "Drive")->setCurrentIndex(0);
    platform::Database writer = db::openDatabase(app.folder());
    writer.execute("BEGIN EXCLUSIVE");
    option(*w, 1)->setChecked(true);
    w->onConfirmClicked();
    writer.execute("ROLLBACK");
    ASSERT_EQ(desktop.messages.size(), static_cast<std::size_t>(before + 1));
    EXPECT_EQ(desktop.texts().last(), QStringLiteral("資料庫正在使用中，無法備份，請先關閉資料庫"));
}

TEST_F(BackupWindowTest, AFullDiskIsSaidAsSuch)
{
    for (int i = 0; i < 40; ++i)
        test::addReceivable(app.folder(), QString(200, u'x') + QString::number(i), QString::number(i));
    test::ScratchVolume stick(16 * 1024, false);
    if (!stick.mounted())
        GTEST_SKIP() << stick.whyNot().toStdString();
    desktop.driveList = {stick.path()};
    auto w = open(BackupWindow::Mode::Backup);
    w->onConfirmClicked();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, test::child<QComboBox>(*w, "Drive")->currentText()
                                            + QStringLiteral(" 的空間不足，放不下這份備份，請清出空間或選擇另一個位置。"));
    EXPECT_TRUE(desktop.messages[0].informativeText.startsWith(QStringLiteral("磁碟空間不足")));
    EXPECT_TRUE(QDir(stick.path()).isEmpty());
    EXPECT_EQ(option(*w, 1)->text(), QStringLiteral("第 1 格：沒有備份"));
}

TEST_F(BackupWindowTest, RestoreAsksForAShownSlotAndEndsWithOnlyCancelUsable)
{
    backup::backupDatabase(app.folder(), driveA.path() + QStringLiteral("/Vellaroke.m02"));
    // An older backup in a later slot: the newest one is offered, not the last or the first.
    const QString older = driveA.path() + QStringLiteral("/Vellaroke.m04");
    backup::backupDatabase(app.folder(), older);
    {
        QFile file(older);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2020, 1, 2), QTime(3, 4)), QFileDevice::FileModificationTime));
    }
    test::addReceivable(app.folder(), QStringLiteral("AFTER"), QStringLiteral("1"));
    auto w = open(BackupWindow::Mode::Restore);
    EXPECT_EQ(w->objectName(), QStringLiteral("FRMRECOVERY"));
    EXPECT_EQ(test::child<QLabel>(*w, "Label3")->text(),
              QStringLiteral("** 注意 : 執行完此回復作業後, 原資料庫之內容") + QString(20, u' ') + QStringLiteral("將會被備份磁片的資料覆蓋 !"));

    EXPECT_TRUE(option(*w, 2)->isChecked()) << "the newest backup on the drive is offered";
    EXPECT_TRUE(option(*w, 2)->text().startsWith(QStringLiteral("第 2 格：Vellaroke.M02   ")));
    option(*w, 1)->setChecked(true);
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
    onDriveA(w);
    option(w, 2)->setChecked(true);
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::NoButton);
    w.onConfirmClicked();
    EXPECT_TRUE(seen.seen);
    EXPECT_EQ(seen.text, QStringLiteral("是否確定以 Vellaroke.m02 覆蓋目前資料庫!"));
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 1u);
}

// Enter in the drive list asks; Enter again answers the real question's default, No: the only
// backup in the slot is kept, and the question says when it was made.
TEST_F(BackupWindowTest, EnterTwiceOnTheRealOverwriteQuestionKeepsTheBackup)
{
    const QString old = driveA.path() + QStringLiteral("/Vellaroke.m02");
    const QDateTime made(QDate(2026, 12, 9), QTime(5, 49));
    {
        QFile file(old);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(made, QFileDevice::FileModificationTime));
    }
    platform::QtDesktop real;
    BackupWindow w(BackupWindow::Mode::Backup, app.folder(), real);
    onDriveA(w);
    option(w, 2)->setChecked(true);
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::NoButton);
    test::closeBoxesAfter(seen, &w);
    auto *drive = test::child<QComboBox>(w, "Drive");
    drive->setFocus();
    QTest::keyClick(drive, Qt::Key_Return);
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.text, QStringLiteral("是否覆蓋Vellaroke.m02!"));
    EXPECT_EQ(seen.informativeText, QStringLiteral("第 2 格的備份是 2026/12/09 05:49 做的"));
    EXPECT_EQ(seen.title, QStringLiteral("備份資料庫"));
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttonTexts.size(), 2);
    EXPECT_EQ(test::readFile(old), QByteArray("old backup"));
    EXPECT_EQ(QDir(driveA.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Vellaroke.m02")});
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

// Removable is what the kernel or the desktop's media folder says, not whatever sits under /mnt.
TEST(QtDesktopDrives, RemovableVolumesAreTheKernelsRemovableDevicesAndTheUsersMedia)
{
    QTemporaryDir sys;
    const QString devices = sys.path() + QStringLiteral("/devices");
    const QString block = sys.path() + QStringLiteral("/class/block");
    auto disk = [&](const QString &name, const char *removable, const QStringList &partitions) {
        QDir().mkpath(devices + u'/' + name);
        test::writeFile(devices + u'/' + name + QStringLiteral("/removable"), removable);
        QDir().mkpath(block);
        QFile::link(devices + u'/' + name, block + u'/' + name);
        for (const QString &p : partitions) {
            QDir().mkpath(devices + u'/' + name + u'/' + p);
            QFile::link(devices + u'/' + name + u'/' + p, block + u'/' + p);
        }
    };
    disk(QStringLiteral("sdb"), "1\n", {QStringLiteral("sdb1")});
    disk(QStringLiteral("vda"), "0\n", {QStringLiteral("vda1")});
    disk(QStringLiteral("sr0"), "1\n", {});

    using platform::isRemovableVolume;
    EXPECT_TRUE(isRemovableVolume(QStringLiteral("/mnt/usb"), QStringLiteral("/dev/sdb1"), block));
    EXPECT_TRUE(isRemovableVolume(QStringLiteral("/srv/disc"), QStringLiteral("/dev/sr0"), block));
    EXPECT_FALSE(isRemovableVolume(QStringLiteral("/mnt/tools"), QStringLiteral("/dev/vda1"), block));
    EXPECT_FALSE(isRemovableVolume(QStringLiteral("/mnt/tools"), QStringLiteral("tmpfs"), block));
    EXPECT_FALSE(isRemovableVolume(QStringLiteral("/mnt/x"), QStringLiteral("/dev/nvme9n1"), block));
    EXPECT_TRUE(isRemovableVolume(QStringLiteral("/media/alice/STICK"), QStringLiteral("/dev/vda1"), block));
    EXPECT_TRUE(isRemovableVolume(QStringLiteral("/run/media/alice/STICK"), QString(), block));
    EXPECT_FALSE(isRemovableVolume(QStringLiteral("/media/alice"), QStringLiteral("tmpfs"), block));
}
