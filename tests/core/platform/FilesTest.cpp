#include "platform/Error.h"
#include "platform/Files.h"
#include "support/TestApp.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

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
