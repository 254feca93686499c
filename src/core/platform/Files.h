#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <filesystem>

namespace talvesk::platform {

std::filesystem::path toFsPath(const QString &path);
// The path as the C libraries take it: UTF-8 on Windows (SQLite, libzip and libxlsxwriter widen it
// themselves), the file system's own bytes elsewhere.
QByteArray libraryPath(const QString &path);
// std::fopen for a path of any characters (on Windows through the wide-character call). Sets errno.
std::FILE *openFile(const QString &path, const char *mode);

bool fileExists(const QString &path);
// The full path of a file, as recorded for the operator.
QString absolutePath(const QString &path);

// Refuses anything but a regular file (a folder, a device such as /dev/zero, a pipe that would
// never end) before it is read: Error 75 naming the path. A missing file is Error 53.
void requireRegularFile(const QString &path);

// A new file written beside `target` under a scratch name, which takes the target's place only
// when commitTo() has forced it to the disk: readers see the old file or the whole new one. Going
// away without a commit removes the scratch file. Throws Error.
class ScratchFile {
public:
    explicit ScratchFile(const QString &target);
    ~ScratchFile();
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    void write(const char *data, std::size_t size);
    // Hands what was written to the file, so that it can be read back.
    void flush();
    // Cuts what was written back to its first `size` bytes; writing goes on from there.
    void truncate(qint64 size);
    // The scratch file's own name, to read back what was written after flush().
    const QString &path() const { return path_; }
    // Flushes, syncs and closes, then renames the scratch file over `target` (keeping the
    // replaced file's permission bits). The file takes no more writes after it.
    void commitTo(const QString &target);

private:
    QString path_;
    FILE *file_ = nullptr;
    bool committed_ = false;
};

// Writes content to a new file beside `path`, forces it to the disk and renames it over `path`,
// so that readers see either the old file or the whole new one; a replaced file's permission bits
// (and owner) stay. An existing file without write permission is refused, as is a missing folder. Throws Error; on failure `path` is untouched
// and no scratch file is left behind.
void writeFileAtomically(const QString &path, const QByteArray &content);

// Copies `source` to a new file beside `target` and renames it over `target`, with the same
// guarantees as writeFileAtomically.
void copyFileAtomically(const QString &source, const QString &target);

// Renames `source` over `target` in one step (the target is replaced, never absent). Throws Error.
void replaceFile(const QString &source, const QString &target);

// Forces the file's content (or a folder's entries, where the system can) to the disk. Throws Error.
void syncFile(const QString &path);

// Refuses a file the operator marked read-only (no owner write bit): error 70, also when the
// program runs as root. A missing path passes; a folder is error 75.
void refuseReadOnlyFile(const QString &path);

// Gives `to` the permission bits of `from`, and its owner and group where the process may set
// them, so a file written anew in another's place keeps who may read and change it. Throws Error
// when the bits cannot be set.
void copyPermissions(const QString &from, const QString &to);

// Makes the new, empty file `path` with the permission bits and owner of `model` before anything is
// written into it, so a copy of the database is never readable by more people than the database.
// Throws Error (also when `path` exists).
void createEmptyFileLike(const QString &path, const QString &model);

// Makes the folder `path` and every missing folder above it, each new one for its owner alone
// (0700), as a user's own data folders are made. Existing folders stay as they are. Throws Error
// naming the folder that could not be made.
void makePrivateFolders(const QString &path);

// Removes the file when it exists. Throws Error when it exists and cannot be removed.
void removeFileIfExists(const QString &path);

} // namespace talvesk::platform
