#include "platform/NetworkShare.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace talvesk;

// CIFS, SMB and NFS mounts are shares and the local file systems are not; a path by server name
// is a share in either slash, a device or long local path is not. The real look at the disk: the
// test's own folder is local (also for a file not made yet), and on Linux statfs truly tells
// procfs apart from it.
TEST(NetworkShare, NetworkFileSystemsAndServerPathsAreSharesLocalFoldersAreNot)
{
    for (const std::uint32_t type : {0xFF534D42u, 0xFE534D42u, 0x517Bu, 0x6969u})
        EXPECT_TRUE(platform::isNetworkFileSystemType(type)) << std::hex << type;
    // ext4, tmpfs, xfs, btrfs, FUSE, procfs
    for (const std::uint32_t type : {0xEF53u, 0x01021994u, 0x58465342u, 0x9123683Eu, 0x65735546u, 0x9FA0u, 0u})
        EXPECT_FALSE(platform::isNetworkFileSystemType(type)) << std::hex << type;

    for (const char *path : {R"(\\server\share\ldb\Vellaroke.mdb)", "//server/share/ldb/Vellaroke.mdb",
                             R"(\\192.168.1.5\talvesk)", R"(\\?\UNC\server\share\x.mdb)", R"(\\?\unc\server\share)"})
        EXPECT_TRUE(platform::isUncPath(QString::fromUtf8(path))) << path;
    for (const char *path : {R"(C:\talvesk\ldb\Vellaroke.mdb)", "/home/clerk/ldb/Vellaroke.mdb", R"(\\?\C:\talvesk)",
                             R"(\\.\pipe\talvesk)", R"(\\?\UNC\)", R"(\\\server\share)", R"(\\)", "ldb/Vellaroke.mdb", ""})
        EXPECT_FALSE(platform::isUncPath(QString::fromUtf8(path))) << path;

    QTemporaryDir local;
    ASSERT_TRUE(local.isValid());
    EXPECT_FALSE(platform::onNetworkShare(local.path()));
    EXPECT_FALSE(platform::onNetworkShare(local.path() + QStringLiteral("/ldb/not-made-yet.mdb")));
#ifdef _WIN32
    EXPECT_TRUE(platform::onNetworkShare(QStringLiteral(R"(\\server\share\x.mdb)")));
    EXPECT_TRUE(platform::onNetworkShare(QStringLiteral("//server/share/x.mdb")));
#else
    const std::optional<std::uint32_t> here = platform::fileSystemType(local.path());
    ASSERT_TRUE(here.has_value());
    EXPECT_EQ(platform::fileSystemType(local.path() + QStringLiteral("/ldb/not-made-yet.mdb")), here);
    EXPECT_EQ(platform::fileSystemType(QStringLiteral("/proc/self")), std::optional<std::uint32_t>(0x9FA0u));
#endif
}
