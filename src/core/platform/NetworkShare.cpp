#include "platform/NetworkShare.h"

#include "platform/Files.h"

#include <QDir>
#include <QFileInfo>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/vfs.h>
#endif

namespace talvesk::platform {

namespace {

// f_type of the network file systems, as the kernel's magic.h has them.
constexpr std::uint32_t kCifsMagic = 0xFF534D42;
constexpr std::uint32_t kSmb2Magic = 0xFE534D42;
constexpr std::uint32_t kSmbMagic = 0x517B;
constexpr std::uint32_t kNfsMagic = 0x6969;

#ifndef _WIN32
// The path itself when it exists, else the nearest folder above it that does.
QString nearestExisting(const QString &path)
{
    QString at = absolutePath(path);
    while (!at.isEmpty() && !QFileInfo::exists(at)) {
        const QString up = QFileInfo(at).path();
        if (up == at)
            return QString();
        at = up;
    }
    return at;
}
#endif

} // namespace

bool isNetworkFileSystemType(std::uint32_t type)
{
    return type == kCifsMagic || type == kSmb2Magic || type == kSmbMagic || type == kNfsMagic;
}

bool isUncPath(const QString &path)
{
    const auto separator = [](QChar c) { return c == u'\\' || c == u'/'; };
    if (path.size() < 3 || !separator(path.at(0)) || !separator(path.at(1)))
        return false;
    // \\?\ and \\.\ lead to devices and long local paths, except \\?\UNC\server\….
    if (path.at(2) == u'?' || path.at(2) == u'.') {
        if (path.size() < 4 || !separator(path.at(3)))
            return false;
        const QString rest = path.mid(4);
        return rest.size() > 4 && rest.left(3).compare(QStringLiteral("UNC"), Qt::CaseInsensitive) == 0
            && separator(rest.at(3)) && !separator(rest.at(4));
    }
    return !separator(path.at(2));
}

bool onNetworkShare(const QString &path)
{
#ifdef _WIN32
    if (isUncPath(path))
        return true;
    // A drive letter mapped to a share.
    const QString absolute = QDir::toNativeSeparators(absolutePath(path));
    if (absolute.size() < 2 || absolute.at(1) != u':')
        return false;
    const QString root = absolute.left(2) + u'\\';
    return GetDriveTypeW(reinterpret_cast<const wchar_t *>(root.utf16())) == DRIVE_REMOTE;
#else
    const std::optional<std::uint32_t> type = fileSystemType(path);
    return type && isNetworkFileSystemType(*type);
#endif
}

#ifndef _WIN32
std::optional<std::uint32_t> fileSystemType(const QString &path)
{
    const QString existing = nearestExisting(path);
    if (existing.isEmpty())
        return std::nullopt;
    struct statfs info {};
    if (statfs(libraryPath(existing).constData(), &info) != 0)
        return std::nullopt;
    // The magic numbers are 32 bits wide; f_type is a signed long, negative for CIFS on 32-bit systems.
    return static_cast<std::uint32_t>(info.f_type);
}
#endif

} // namespace talvesk::platform
