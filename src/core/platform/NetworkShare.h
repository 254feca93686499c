#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace talvesk::platform {

// Whether a file lies on a folder shared over the network (a CIFS/SMB or NFS mount; on Windows a
// UNC path or a mapped network drive). The embedded database is not safe there when several desks
// open it: their locks do not reach each other reliably. A path that does not exist yet is judged
// by the nearest folder above it that does; one that cannot be judged at all counts as local.
bool onNetworkShare(const QString &path);

// Whether a Linux file system type (statfs's f_type) is one of the network file systems: CIFS,
// SMB2, SMB or NFS.
bool isNetworkFileSystemType(std::uint32_t type);

#ifndef _WIN32
// The type of the file system that holds `path` (statfs's f_type), or the nearest existing folder
// above it; nothing when there is none or statfs fails.
std::optional<std::uint32_t> fileSystemType(const QString &path);
#endif

// Whether a path names a network share by its server: \\server\share\… or //server/share/…, also
// in the long form \\?\UNC\server\share\…. Device paths (\\?\C:\…, \\.\…) are not shares.
bool isUncPath(const QString &path);

} // namespace talvesk::platform
