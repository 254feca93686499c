#include "backup/Backup.h"
#include "db/Connection.h"
#include "db/TableExport.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Volumes.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <sys/resource.h>
#endif

#include <gtest/gtest.h>

#include <sqlite3.h>

using namespace talvesk;

namespace {

void fillSome(const test::TestApp &app, int rows)
{
    platform::Database db = db::openDatabase(app.folder());
    platform::Transaction t(db);
    auto insert = db.prepare("INSERT INTO F_AccountData (UserName, Bankcode) VALUES (?1, ?2)");
    for (int i = 0; i < rows; ++i) {
        insert.bind(1, QString(100, u'王')).bind(2, QString::number(i));
        insert.run();
        insert.reset();
    }
    t.commit();
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

TEST(Backup, SlotNamesCaptionsAndPrefixes)
{
    EXPECT_EQ(backup::slotFileName(1), QStringLiteral("Vellaroke.m01"));
    EXPECT_EQ(backup::slotFileName(6), QStringLiteral("Vellaroke.m06"));
    EXPECT_EQ(backup::slotFileName(0), QStringLiteral("Vellaroke.bak"));
    EXPECT_EQ(backup::slotCaption(3), QStringLiteral("Vellaroke.M03"));
    EXPECT_EQ(backup::drivePrefix(QStringLiteral("a: [floppy]")), QStringLiteral("a:"));
    EXPECT_EQ(backup::drivePrefix(QStringLiteral("e:/")), QStringLiteral("e:"));
    // A folder is the place itself, the colon of a Windows path (or one in a Linux name) included.
    for (const QString &folder : {QStringLiteral("/media/usb"), QStringLiteral("C:/Users/clerk/備份"),
                                 QStringLiteral("d:\\backup"), QStringLiteral("/mnt/a:b")})
        EXPECT_EQ(backup::drivePrefix(folder), folder);

    QTemporaryDir drive;
    test::writeFile(drive.path() + QStringLiteral("/Vellaroke.m02"), "x");
    test::writeFile(drive.path() + QStringLiteral("/Vellaroke.M05"), "not the lower-case name");
    const auto captions = backup::slotCaptions(drive.path());
    EXPECT_EQ(captions[1], QStringLiteral("Vellaroke.M02"));
    for (int i : {0, 2, 3, 5})
        EXPECT_TRUE(captions[static_cast<std::size_t>(i)].isEmpty()) << i;
#ifdef _WIN32
    EXPECT_EQ(captions[4], QStringLiteral("Vellaroke.M05")) << "Windows' file names ignore case";
#else
    EXPECT_TRUE(captions[4].isEmpty());
#endif
    for (const QString &caption : backup::slotCaptions(QStringLiteral("a:")))
        EXPECT_TRUE(caption.isEmpty());
}

TEST(Backup, ACopyIsTheDatabaseByteForByteAndAFailurePartWayKeepsTheOldBackup)
{
    test::TestApp app;
    fillSome(app, 2000);
    QTemporaryDir drive;
    const QString slot = backup::slotPath(drive.path(), backup::slotFileName(1));
    test::writeFile(slot, "an older backup");

    backup::backupDatabase(app.folder(), slot);
    EXPECT_EQ(test::readFile(slot), test::readFile(app.folder().databaseFile()));

    test::writeFile(slot, "an older backup");
    {
        test::FileSizeLimit limit(4096);
        EXPECT_THROW(backup::backupDatabase(app.folder(), slot), platform::Error);
    }
    EXPECT_EQ(test::readFile(slot), QByteArray("an older backup"));
    EXPECT_EQ(filesIn(drive.path()), QStringList{QStringLiteral("Vellaroke.m01")}) << "no partial file is left";
}

TEST(Backup, AnUnusableDatabaseIsNotBackedUp)
{
    test::TestApp app(test::TestApp::NoDatabase);
    test::writeFile(app.folder().databaseFile(), "garbage");
    QTemporaryDir drive;
    EXPECT_THROW(backup::backupDatabase(app.folder(), drive.path() + QStringLiteral("/Vellaroke.m01")), platform::Error);
    EXPECT_TRUE(filesIn(drive.path()).isEmpty());
}

TEST(Backup, EachSlotSaysWhenItsBackupWasWrittenAndHowBigItIs)
{
    QTemporaryDir drive;
    const QString path = drive.path() + QStringLiteral("/Vellaroke.m02");
    test::writeFile(path, QByteArray(1536, 'x'));
    const QDateTime written(QDate(2024, 5, 1), QTime(14, 32));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(written, QFileDevice::FileModificationTime));
    file.close();

    const auto contents = backup::slotContents(drive.path());
    EXPECT_TRUE(contents[1].found);
    EXPECT_EQ(contents[1].size, 1536);
    EXPECT_EQ(backup::slotDescription(2, contents[1]), QStringLiteral("第 2 格：Vellaroke.M02   2024/05/01 14:32   1.5 KB"));
    EXPECT_FALSE(contents[0].found);
    EXPECT_EQ(backup::slotDescription(1, contents[0]), QStringLiteral("第 1 格：沒有備份"));
    EXPECT_FALSE(backup::slotContents(QStringLiteral("a:"))[1].found);
    EXPECT_TRUE(backup::slotDescription(3, {true, written, 950}).endsWith(QStringLiteral("   950 位元組")));
    EXPECT_TRUE(backup::slotDescription(3, {true, written, 12900000}).endsWith(QStringLiteral("   12.3 MB")));
}

// A write-protected place and a full one fail as such, not as the database in use, and leave
// nothing behind.
TEST(Backup, AWriteProtectedPlaceIsToldApartFromADatabaseInUse)
{
    test::TestApp app;
    test::WriteProtectedFolder place;
    if (!place.ok())
        GTEST_SKIP() << "no way to make a folder this process cannot write";
    try {
        backup::backupDatabase(app.folder(), place.path() + QStringLiteral("/Vellaroke.m01"));
        FAIL() << "wrote into a write-protected folder";
    } catch (const platform::Error &e) {
        EXPECT_EQ(backup::placeProblem(e), backup::PlaceProblem::WriteProtected) << e.what();
        EXPECT_EQ(e.number(), platform::errnum::PermissionDenied);
    }
    EXPECT_TRUE(filesIn(place.path()).isEmpty());
}

TEST(Backup, AFullDiskIsRefusedBeforeWritingAndAFullWriteIsToldAsSuch)
{
    test::TestApp app;
    fillSome(app, 2000); // far more than the volume holds
    test::ScratchVolume stick(64 * 1024, false);
    if (!stick.mounted())
        GTEST_SKIP() << stick.whyNot().toStdString();
    const QString slot = stick.path() + QStringLiteral("/Vellaroke.m01");
    try {
        backup::backupDatabase(app.folder(), slot);
        FAIL() << "backed up onto a volume too small for it";
    } catch (const platform::Error &e) {
        EXPECT_EQ(backup::placeProblem(e), backup::PlaceProblem::NoSpace) << e.what();
        EXPECT_TRUE(e.description().startsWith(QStringLiteral("磁碟空間不足"))) << e.what();
    }
    EXPECT_TRUE(filesIn(stick.path()).isEmpty());

    // The disk filling up during the copy itself is the same problem.
    try {
        platform::copyFileAtomically(app.folder().databaseFile(), slot);
        FAIL();
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.systemError(), ENOSPC);
        EXPECT_EQ(backup::placeProblem(e), backup::PlaceProblem::NoSpace);
    }
    EXPECT_TRUE(filesIn(stick.path()).isEmpty()) << "no partial file is left";
}

// The copy is taken under the engine's shared lock: a connection in the middle of writing makes
// it fail as the database in use rather than copy a half-written file.
TEST(Backup, ADatabaseBeingWrittenIsNotCopiedHalfway)
{
    test::TestApp app;
    QTemporaryDir drive;
    platform::Database writer = db::openDatabase(app.folder());
    writer.execute("BEGIN EXCLUSIVE");
    writer.execute("INSERT INTO SMdata (BARCODE2) VALUES ('B')");
    try {
        backup::backupDatabase(app.folder(), drive.path() + QStringLiteral("/Vellaroke.m01"));
        FAIL();
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::PermissionDenied) << e.what();
        EXPECT_EQ(backup::placeProblem(e), backup::PlaceProblem::None);
    }
    writer.execute("COMMIT");
    EXPECT_TRUE(filesIn(drive.path()).isEmpty());
    backup::backupDatabase(app.folder(), drive.path() + QStringLiteral("/Vellaroke.m01"));
    EXPECT_EQ(test::readFile(drive.path() + QStringLiteral("/Vellaroke.m01")), test::readFile(app.folder().databaseFile()));
}

TEST(Restore, GivesBackTheRowsOfTheBackup)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("KEEP"), QStringLiteral("1"));
    QTemporaryDir drive;
    const QString slot = drive.path() + QStringLiteral("/Vellaroke.m02");
    backup::backupDatabase(app.folder(), slot);
    db::clearTable(app.folder(), QStringLiteral("F_AccountData"));
    test::addReceivable(app.folder(), QStringLiteral("LATER"), QStringLiteral("2"));

    const auto outcome = backup::restoreDatabase(app.folder(), slot);
    const auto rows = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at(3), QStringLiteral("KEEP"));

    // The database as it was is kept beside it, and the message says where.
    EXPECT_EQ(outcome.previous, backup::RestoreOutcome::Previous::Kept);
    EXPECT_EQ(outcome.safetyCopy, app.folder().databaseFolder() + QStringLiteral("/BeforeRestore.mdb"));
    EXPECT_TRUE(backup::restoreReport(outcome).contains(QDir::toNativeSeparators(outcome.safetyCopy)));
    platform::Database kept = platform::Database::open(outcome.safetyCopy, platform::Database::ReadOnly);
    auto q = kept.prepare("SELECT Bankcode FROM F_AccountData");
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QStringLiteral("LATER"));
    EXPECT_FALSE(q.next());
    EXPECT_EQ(filesIn(app.folder().databaseFolder()),
              (QStringList{QStringLiteral("BeforeClearReceivables.mdb"), QStringLiteral("BeforeRestore.mdb"),
                           QStringLiteral("Vellaroke.mdb")}));
}

TEST(Restore, RefusesWhatIsNotABackupOfThisProgramAndSaysWhy)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("1"));
    const QByteArray before = test::readFile(app.folder().databaseFile());
    QTemporaryDir drive;
    // The restore of `slot` is refused, saying `why`.
    auto expectRefused = [&](const QString &slot, const QString &why) {
        try {
            backup::restoreDatabase(app.folder(), drive.path() + slot);
            ADD_FAILURE() << "restored " << slot.toStdString();
        } catch (const platform::Error &e) {
            EXPECT_TRUE(e.description().contains(why)) << e.what();
        }
    };
    // Another program's database, altered by `sql`, as the backup in `slot`.
    auto backupAltered = [&](const QString &slot, const char *sql) {
        test::TestApp other;
        test::execute(other.folder(), sql);
        QFile::copy(other.folder().databaseFile(), drive.path() + slot);
    };

    test::writeFile(drive.path() + QStringLiteral("/Vellaroke.m01"), QByteArray(8192, 'j'));
    expectRefused(QStringLiteral("/Vellaroke.m01"), QStringLiteral("不是有效的資料庫"));
    // A database, but not one of this program: three of the four tables.
    backupAltered(QStringLiteral("/Vellaroke.m02"), "DROP TABLE SMdata");
    expectRefused(QStringLiteral("/Vellaroke.m02"), QStringLiteral("SMdata"));
    expectRefused(QStringLiteral("/Vellaroke.m03"), QStringLiteral("找不到備份檔"));
    // The program's tables, and another program's trigger that would keep one row of each import.
    backupAltered(QStringLiteral("/Vellaroke.m04"), "CREATE TRIGGER theirs AFTER INSERT ON F_AccountData BEGIN "
                                                    "DELETE FROM F_AccountData WHERE rowid = new.rowid AND new.rowid % 2 = 0; END");
    expectRefused(QStringLiteral("/Vellaroke.m04"), QStringLiteral("trigger theirs"));
    // A journal whose undo data cannot be given up: the restore fails whole, it never leaves the
    // backup's operations undoable on the restored tables.
    backupAltered(QStringLiteral("/Vellaroke.m05"), "ALTER TABLE Journal DROP COLUMN dropped_why");
    expectRefused(QStringLiteral("/Vellaroke.m05"), QStringLiteral("dropped_why"));

    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
    EXPECT_EQ(filesIn(app.folder().databaseFolder()), QStringList{QStringLiteral("Vellaroke.mdb")});
}

TEST(Restore, ACopyThatFailsPartWayLeavesBothFilesUsable)
{
    test::TestApp app;
    test::addReceivable(app.folder(), QStringLiteral("CURRENT"), QStringLiteral("1"));
    test::TestApp big;
    fillSome(big, 3000);
    QTemporaryDir drive;
    const QString slot = drive.path() + QStringLiteral("/Vellaroke.m04");
    backup::backupDatabase(big.folder(), slot);
    const QByteArray backupBytes = test::readFile(slot);
    const QByteArray before = test::readFile(app.folder().databaseFile());
    {
        test::FileSizeLimit limit(backupBytes.size() / 2);
        EXPECT_THROW(backup::restoreDatabase(app.folder(), slot), platform::Error);
    }
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 1u);
    EXPECT_EQ(test::readFile(slot), backupBytes);
    // The copy of the backup made to go in fails first, and is not left behind.
    EXPECT_EQ(filesIn(app.folder().databaseFolder()), QStringList{QStringLiteral("Vellaroke.mdb")});
}

namespace {

// Zeroes 200 kB in the middle of a file, as a failing drive or an interrupted copy leaves it.
void damage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || file.size() < 600 * 1024 || !file.seek(file.size() / 2 - 100 * 1024)
        || file.write(QByteArray(200 * 1024, '\0')) != 200 * 1024)
        throw std::runtime_error("cannot damage " + path.toStdString());
}

QString backupOf(const test::TestApp &app, const QTemporaryDir &drive, int rows)
{
    fillSome(app, rows);
    const QString slot = drive.path() + QStringLiteral("/Vellaroke.m01");
    backup::backupDatabase(app.folder(), slot);
    return slot;
}

} // namespace

TEST(Restore, ADamagedBackupIsRefusedWithTheReasonAndNothingIsTouched)
{
    test::TestApp app, source;
    test::addReceivable(app.folder(), QStringLiteral("CURRENT"), QStringLiteral("1"));
    QTemporaryDir drive;
    const QString slot = backupOf(source, drive, 4000);
    damage(slot);
    const QByteArray before = test::readFile(app.folder().databaseFile());
    try {
        backup::restoreDatabase(app.folder(), slot);
        FAIL() << "restored a damaged backup";
    } catch (const platform::Error &e) {
        EXPECT_TRUE(e.description().contains(QStringLiteral("已損壞,未回復"))) << e.what();
    }
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
    EXPECT_EQ(filesIn(app.folder().databaseFolder()), QStringList{QStringLiteral("Vellaroke.mdb")});
}

TEST(Restore, AMissingDatabaseIsReplacedByTheBackupAndTheMessageSaysSo)
{
    test::TestApp app, source;
    QTemporaryDir drive;
    const QString slot = backupOf(source, drive, 10);
    QFile::remove(app.folder().databaseFile());

    const auto outcome = backup::restoreDatabase(app.folder(), slot);
    EXPECT_EQ(outcome.previous, backup::RestoreOutcome::Previous::Missing);
    EXPECT_TRUE(outcome.safetyCopy.isEmpty());
    EXPECT_EQ(backup::restoreReport(outcome), QStringLiteral("原資料庫不存在,已直接以備份檔放回"));
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 10u);
    EXPECT_EQ(filesIn(app.folder().databaseFolder()), QStringList{QStringLiteral("Vellaroke.mdb")});
}

TEST(Restore, ADamagedDatabaseIsKeptAsideAndReplacedKeepingItsMode)
{
    test::TestApp app, source;
    QTemporaryDir drive;
    const QString slot = backupOf(source, drive, 10);

    // Not a database at all: the engine refuses it, so the file is swapped whole.
    const QByteArray junk(50000, 'j');
    test::writeFile(app.folder().databaseFile(), junk);
    ::chmod(QFile::encodeName(app.folder().databaseFile()).constData(), 0600);
    auto outcome = backup::restoreDatabase(app.folder(), slot);
    EXPECT_EQ(outcome.previous, backup::RestoreOutcome::Previous::Damaged);
    EXPECT_TRUE(backup::restoreReport(outcome).contains(QStringLiteral("原資料庫已損壞"))) << backup::restoreReport(outcome).toStdString();
    EXPECT_EQ(test::readFile(outcome.safetyCopy), junk);
    EXPECT_TRUE(test::hasMode(app.folder().databaseFile(), 0600u));
    EXPECT_TRUE(test::hasMode(outcome.safetyCopy, 0600u));
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 10u);

    // Damaged inside but still opened by the engine: restored through it like a sound one.
    fillSome(app, 4000);
    damage(app.folder().databaseFile());
    outcome = backup::restoreDatabase(app.folder(), slot);
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).size(), 10u);
    platform::Database restored = db::openDatabase(app.folder());
    EXPECT_TRUE(restored.integrityProblems().isEmpty());
    EXPECT_TRUE(test::hasMode(app.folder().databaseFile(), 0600u));
}

TEST(Restore, AWriterInTheMiddleOfATransactionMakesItFailWith70AndKeepsItsRows)
{
    test::TestApp app, source;
    QTemporaryDir drive;
    const QString slot = backupOf(source, drive, 10);
    platform::Database writer = db::openDatabase(app.folder());
    {
        platform::Transaction open(writer);
        writer.execute("INSERT INTO F_AccountData (Bankcode) VALUES ('WRITTEN-MEANWHILE')");
        try {
            backup::restoreDatabase(app.folder(), slot);
            FAIL() << "restored under a writer";
        } catch (const platform::Error &e) {
            EXPECT_EQ(e.number(), platform::errnum::PermissionDenied) << e.what();
        }
        open.commit();
    }
    const auto rows = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at(3), QStringLiteral("WRITTEN-MEANWHILE"));
}

TEST(Restore, AConnectionOpenBeforeWritesIntoTheRestoredDatabase)
{
    test::TestApp app, source;
    QTemporaryDir drive;
    const QString slot = backupOf(source, drive, 10);
    platform::Database other = db::openDatabase(app.folder());
    other.execute("INSERT INTO F_AccountData (Bankcode) VALUES ('BEFORE')");
    backup::restoreDatabase(app.folder(), slot);
    other.execute("INSERT INTO F_AccountData (Bankcode) VALUES ('AFTER')");
    const auto rows = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows.back().at(3), QStringLiteral("AFTER"));
}

TEST(Restore, AReadOnlyDatabaseIsRefusedAndKeepsItsMode)
{
    test::TestApp app, source;
    QTemporaryDir drive;
    const QString slot = backupOf(source, drive, 10);
    const QByteArray before = test::readFile(app.folder().databaseFile());
    ::chmod(QFile::encodeName(app.folder().databaseFile()).constData(), 0444);
    try {
        backup::restoreDatabase(app.folder(), slot);
        FAIL() << "restored over a read-only database";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::PermissionDenied);
    }
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
    EXPECT_TRUE(test::hasMode(app.folder().databaseFile(), 0444u));
}

// A file another program put into WAL mode goes back to the rollback journal when opened, and a
// backup in WAL mode is restored in it: every backup, a copy of the one file, holds every row.
TEST(Restore, ABackupOrADatabaseInWalModeComesBackInTheRollbackJournalWhole)
{
    auto walMode = [](const QString &path) {
        const QByteArray header = test::readFile(path).left(20);
        return header.size() == 20 && header[18] == 2 && header[19] == 2;
    };
    auto rowsIn = [](const QString &path) {
        platform::Database db = platform::Database::open(path, platform::Database::ReadOnly);
        auto count = db.prepare("SELECT count(*) FROM F_AccountData");
        count.next();
        return count.integer(0);
    };
    test::TestApp app;
    QTemporaryDir drive;
    const QString slot = drive.path() + QStringLiteral("/Vellaroke.m01");
    QFile::copy(app.folder().databaseFile(), slot);
    {
        // Another program's connection, left in WAL mode with its rows checkpointed at close.
        sqlite3 *other = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(slot).constData(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "PRAGMA journal_mode = WAL; INSERT INTO F_AccountData (Bankcode) VALUES ('W1')",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(other);
    }
    ASSERT_TRUE(walMode(slot));
    backup::restoreDatabase(app.folder(), slot);
    EXPECT_FALSE(walMode(app.folder().databaseFile()));
    EXPECT_EQ(rowsIn(app.folder().databaseFile()), 1);

    // The live file put into WAL mode, a row left in the side file by a connection still open.
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(app.folder().databaseFile()).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA journal_mode = WAL; INSERT INTO F_AccountData (Bankcode) VALUES ('W2')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_TRUE(walMode(app.folder().databaseFile()));
    // While that program holds the file in WAL mode, a backup fails rather than miss the row...
    EXPECT_THROW(backup::backupDatabase(app.folder(), drive.path() + QStringLiteral("/Vellaroke.m02")), platform::Error);
    sqlite3_close(other);
    // ...and once it has let go, the file is put back and the backup holds both rows.
    backup::backupDatabase(app.folder(), drive.path() + QStringLiteral("/Vellaroke.m02"));
    EXPECT_FALSE(walMode(app.folder().databaseFile()));
    EXPECT_EQ(rowsIn(drive.path() + QStringLiteral("/Vellaroke.m02")), 2);
}
