#include "platform/Error.h"
#include "platform/Files.h"
#include "support/TestApp.h"

#include <QDir>
#include <QFile>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>

using namespace talvesk;
using platform::Error;

namespace {

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(Files, WriteAtomicallyReplacesTheWholeFileAndLeavesNoScratchFile)
{
    test::TestApp app(test::TestApp::Empty);
    const QString file = app.path(QStringLiteral("a.ini"));
    test::writeFile(file, QByteArray(1000, 'o'));
    platform::writeFileAtomically(file, "new");
    EXPECT_EQ(test::readFile(file), QByteArray("new"));
    EXPECT_EQ(entries(app.folder().root()), QStringList{QStringLiteral("a.ini")});
}

TEST(Files, WriteIntoAMissingFolderFailsWithoutCreatingAnything)
{
    test::TestApp app(test::TestApp::Empty);
    try {
        platform::writeFileAtomically(app.path(QStringLiteral("Env/IdPass6.ini")), "x");
        FAIL() << "wrote into a missing folder";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::FileNotFound);
    }
    EXPECT_TRUE(entries(app.folder().root()).isEmpty());
}

TEST(Files, AReadOnlyFileIsNotReplaced)
{
    test::TestApp app(test::TestApp::Empty);
    const QString file = app.path(QStringLiteral("ro.ini"));
    test::writeFile(file, "old");
    QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup);
    try {
        platform::writeFileAtomically(file, "new");
        FAIL() << "replaced a read-only file";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), platform::errnum::PermissionDenied);
    }
    EXPECT_EQ(test::readFile(file), QByteArray("old"));
    EXPECT_EQ(entries(app.folder().root()), QStringList{QStringLiteral("ro.ini")});
}

TEST(Files, CopyAtomicallyCopiesEveryByteAndAMissingSourceLeavesTheTargetAlone)
{
    test::TestApp app(test::TestApp::Empty);
    QByteArray content;
    for (int i = 0; i < 200000; ++i)
        content.append(static_cast<char>(i * 7));
    const QString source = app.path(QStringLiteral("src.bin"));
    const QString target = app.path(QStringLiteral("dst.bin"));
    test::writeFile(source, content);
    test::writeFile(target, "previous");

    platform::copyFileAtomically(source, target);
    EXPECT_EQ(test::readFile(target), content);

    QFile::remove(source);
    EXPECT_THROW(platform::copyFileAtomically(source, target), Error);
    EXPECT_EQ(test::readFile(target), content);
    EXPECT_EQ(entries(app.folder().root()), QStringList{QStringLiteral("dst.bin")});
}

TEST(Files, ReplaceAndRemove)
{
    test::TestApp app(test::TestApp::Empty);
    const QString a = app.path(QStringLiteral("a")), b = app.path(QStringLiteral("b"));
    test::writeFile(a, "A");
    test::writeFile(b, "B");
    platform::replaceFile(a, b);
    EXPECT_EQ(test::readFile(b), QByteArray("A"));
    EXPECT_FALSE(platform::fileExists(a));
    EXPECT_THROW(platform::replaceFile(a, b), Error);

    platform::removeFileIfExists(b);
    platform::removeFileIfExists(b); // already gone: nothing to do
    EXPECT_FALSE(platform::fileExists(b));
}

TEST(Errors, FileFailuresAreToldInChineseNamingTheFileAndKeepTheirNumbers)
{
    const auto full = platform::fileError(ENOSPC, QStringLiteral("/media/usb/Vellaroke.m01"));
    EXPECT_EQ(full.number(), platform::errnum::DeviceIo);
    EXPECT_TRUE(full.description().startsWith(QStringLiteral("磁碟空間不足：/media/usb/Vellaroke.m01")))
        << full.description().toStdString();
    EXPECT_TRUE(platform::errorText(full).startsWith(QStringLiteral("錯誤代碼 57：磁碟空間不足：")));
    EXPECT_EQ(platform::fileError(EROFS, QStringLiteral("x")).number(), platform::errnum::PermissionDenied);
    EXPECT_TRUE(platform::fileError(EROFS, QStringLiteral("x")).description().startsWith(QStringLiteral("磁碟是唯讀的")));
    EXPECT_EQ(platform::fileError(ENOENT, QStringLiteral("x")).number(), platform::errnum::FileNotFound);
}

// Windows keeps no such bits: only read-only, which AReadOnlyFileIsNotReplaced holds to.
#ifndef _WIN32
TEST(Files, AReplacedFileKeepsItsPermissionBitsAndOwner)
{
    test::TestApp app(test::TestApp::Empty);
    const QString secret = app.path(QStringLiteral("IdPass6.ini"));
    test::writeFile(secret, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(secret).constData(), 0600), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(secret).constData(), 4321, 4321), 0);
    }

    platform::writeFileAtomically(secret, "new");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(secret).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
    }

    const QString source = app.path(QStringLiteral("source"));
    test::writeFile(source, "copied");
    ASSERT_EQ(::chmod(QFile::encodeName(secret).constData(), 0640), 0);
    platform::copyFileAtomically(source, secret);
    ASSERT_EQ(::stat(QFile::encodeName(secret).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(test::readFile(secret), QByteArray("copied"));

    // A scratch copy of the database (compaction's, restore's) is as private as it from the start.
    const QString scratch = app.path(QStringLiteral("Temp.mdb"));
    platform::createEmptyFileLike(scratch, secret);
    ASSERT_EQ(::stat(QFile::encodeName(scratch).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_THROW(platform::createEmptyFileLike(scratch, secret), platform::Error) << "never over an existing file";
}
#endif

// A workbook the clerk still has open in the spreadsheet program: Windows will not let another
// file take its name, and says the file is in use (Linux lets the name go, the holder keeps the
// old content). Either way nothing is half written and no scratch file stays.
TEST(Files, AFileAnotherProgramHoldsOpenIsReplacedWholeOrRefusedAsInUse)
{
    test::TestApp app(test::TestApp::Empty);
    const QString book = app.path(QStringLiteral("銷帳結果.xlsx"));
    test::writeFile(book, "old");
#ifdef _WIN32
    // As a spreadsheet program opens it: others may read, nobody may delete or rename it.
    const HANDLE held = ::CreateFileW(book.toStdWString().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    try {
        platform::writeFileAtomically(book, "new");
        ADD_FAILURE() << "replaced a file another program holds open";
    } catch (const Error &e) {
        EXPECT_EQ(e.systemError(), EBUSY) << e.description().toStdString();
        EXPECT_TRUE(e.description().contains(QStringLiteral("正被使用中"))) << e.description().toStdString();
        EXPECT_TRUE(e.description().contains(book)) << e.description().toStdString();
    }
    ::CloseHandle(held);
    EXPECT_EQ(test::readFile(book), QByteArray("old"));
#else
    QFile held(book);
    ASSERT_TRUE(held.open(QIODevice::ReadOnly));
    platform::writeFileAtomically(book, "new");
    EXPECT_EQ(held.readAll(), QByteArray("old"));
    EXPECT_EQ(test::readFile(book), QByteArray("new"));
#endif
    EXPECT_EQ(entries(app.folder().root()), QStringList{QStringLiteral("銷帳結果.xlsx")});
}
