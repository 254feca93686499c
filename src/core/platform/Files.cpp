#include "platform/Files.h"

#include "platform/Error.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

namespace talvesk::platform {

namespace fs = std::filesystem;

fs::path toFsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return fs::path(path.toStdWString());
#else
    return fs::path(QFile::encodeName(path).toStdString());
#endif
}

QByteArray libraryPath(const QString &path)
{
#ifdef Q_OS_WIN
    return path.toUtf8();
#else
    return QFile::encodeName(path);
#endif
}

std::FILE *openFile(const QString &path, const char *mode)
{
#ifdef Q_OS_WIN
    return ::_wfopen(path.toStdWString().c_str(), QString::fromLatin1(mode).toStdWString().c_str());
#else
    return std::fopen(QFile::encodeName(path).constData(), mode);
#endif
}

QString absolutePath(const QString &path)
{
    return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
}

bool fileExists(const QString &path)
{
    std::error_code ec;
    return fs::is_regular_file(toFsPath(path), ec);
}

void requireRegularFile(const QString &path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(toFsPath(path), ec);
    if (!std::filesystem::exists(status))
        throw Error(errnum::FileNotFound, QStringLiteral("找不到檔案 ") + path);
    if (!std::filesystem::is_regular_file(status))
        throw Error(errnum::PathFileAccess, QStringLiteral("不是一般檔案，無法讀取（資料夾、裝置或管道）：") + path);
}

namespace {

// The scratch name a new file is written under before it takes its final name.
QString scratchNameFor(const QString &target)
{
    return target + QStringLiteral(".partial");
}

} // namespace

void refuseReadOnlyFile(const QString &target)
{
    std::error_code ec;
    const auto status = fs::status(toFsPath(target), ec);
    if (ec || !fs::exists(status))
        return;
    if (fs::is_directory(status))
        throw Error(errnum::PathFileAccess, QStringLiteral("這是資料夾，不是檔案：") + target);
    // Permission bits are checked rather than access(2): the program may run as root, and a
    // file the operator marked read-only must still not be replaced behind their back.
    if ((status.permissions() & fs::perms::owner_write) == fs::perms::none)
        throw Error(errnum::PermissionDenied, QStringLiteral("檔案是唯讀的，無法取代：") + target, EACCES);
}

void copyPermissions(const QString &from, const QString &to)
{
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(toFsPath(from).c_str(), &st) != 0)
        throw fileError(errno, from);
    const auto target = toFsPath(to);
    // The owner first: changing it may clear the set-id bits, which the mode then puts back.
    // Only a privileged process may give a file away; elsewhere the new file stays the user's.
    if (::chown(target.c_str(), st.st_uid, st.st_gid) != 0 && errno != EPERM)
        throw fileError(errno, to);
    if (::chmod(target.c_str(), st.st_mode & 07777) != 0)
        throw fileError(errno, to);
#else
    // Windows keeps one bit of them: read-only.
    std::error_code ec;
    const auto status = fs::status(toFsPath(from), ec);
    if (ec)
        throw fileError(ec, from);
    fs::permissions(toFsPath(to), status.permissions(), ec);
    if (ec)
        throw fileError(ec, to);
#endif
}

void createEmptyFileLike(const QString &path, const QString &model)
{
    QFile file(path);
    // Only the owner may read it until it has the model's bits.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw Error(errnum::PathFileAccess, QStringLiteral("無法建立 ") + path + QStringLiteral(": ") + file.errorString());
    file.close();
    try {
        copyPermissions(model, path);
    } catch (const Error &) {
        QFile::remove(path);
        throw;
    }
}

ScratchFile::ScratchFile(const QString &target) : path_(scratchNameFor(target))
{
    std::error_code ec;
    fs::remove(toFsPath(path_), ec);
    file_ = openFile(path_, "wb");
    if (!file_)
        throw fileError(errno, path_);
}

ScratchFile::~ScratchFile()
{
    if (file_)
        std::fclose(file_);
    if (!committed_) {
        std::error_code ec;
        fs::remove(toFsPath(path_), ec);
    }
}

void ScratchFile::write(const char *data, std::size_t size)
{
    if (!file_)
        throw Error(errnum::PathFileAccess, QStringLiteral("檔案已關閉：") + path_);
    if (size > 0 && std::fwrite(data, 1, size, file_) != size)
        throw fileError(errno, path_);
}

void ScratchFile::flush()
{
    if (!file_)
        throw Error(errnum::PathFileAccess, QStringLiteral("檔案已關閉：") + path_);
    if (std::fflush(file_) != 0)
        throw fileError(errno, path_);
}

void ScratchFile::truncate(qint64 size)
{
    if (!file_)
        throw Error(errnum::PathFileAccess, QStringLiteral("檔案已關閉：") + path_);
    if (std::fflush(file_) != 0)
        throw fileError(errno, path_);
#ifdef Q_OS_WIN
    if (const errno_t failure = ::_chsize_s(::_fileno(file_), size); failure != 0)
        throw fileError(failure, path_);
    if (::_fseeki64(file_, size, SEEK_SET) != 0)
        throw fileError(errno, path_);
#else
    if (::ftruncate(fileno(file_), static_cast<off_t>(size)) != 0 || ::fseeko(file_, static_cast<off_t>(size), SEEK_SET) != 0)
        throw fileError(errno, path_);
#endif
}

void ScratchFile::commitTo(const QString &target)
{
    if (!file_)
        throw Error(errnum::PathFileAccess, QStringLiteral("檔案已關閉：") + path_);
    FILE *f = std::exchange(file_, nullptr);
    int failure = 0;
    if (std::fflush(f) != 0)
        failure = errno;
#ifdef Q_OS_WIN
    else if (::_commit(::_fileno(f)) != 0)
        failure = errno;
#else
    else if (::fsync(fileno(f)) != 0)
        failure = errno;
#endif
    if (std::fclose(f) != 0 && !failure)
        failure = errno;
    if (failure)
        throw fileError(failure, path_);
    if (fileExists(target))
        copyPermissions(target, path_);
    replaceFile(path_, target);
    committed_ = true;
}

void writeFileAtomically(const QString &path, const QByteArray &content)
{
    refuseReadOnlyFile(path);
    ScratchFile scratch(path);
    scratch.write(content.constData(), static_cast<std::size_t>(content.size()));
    scratch.commitTo(path);
}

void copyFileAtomically(const QString &source, const QString &target)
{
    refuseReadOnlyFile(target);
    FILE *in = openFile(source, "rb");
    if (!in)
        throw fileError(errno, source);
    struct Closer {
        FILE *f;
        ~Closer() { std::fclose(f); }
    } closer{in};

    ScratchFile scratch(target);
    char buffer[1 << 16];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, in);
        if (n > 0)
            scratch.write(buffer, n);
        if (n < sizeof buffer) {
            if (std::ferror(in))
                throw fileError(errno ? errno : EIO, source);
            break;
        }
    }
    scratch.commitTo(target);
}

void replaceFile(const QString &source, const QString &target)
{
#ifdef Q_OS_WIN
    // Refused while another program holds the target open (a workbook open in the spreadsheet
    // program): reported as the file being in use, and the target stays as it was.
    if (::MoveFileExW(source.toStdWString().c_str(), target.toStdWString().c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return;
    const DWORD failure = ::GetLastError();
    if (failure == ERROR_ACCESS_DENIED) {
        // Windows says "access denied" for a file that is merely held open; asking to delete it,
        // with every kind of sharing allowed, tells the two apart.
        const HANDLE probe = ::CreateFileW(target.toStdWString().c_str(), DELETE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD probed = probe == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
        if (probe != INVALID_HANDLE_VALUE)
            ::CloseHandle(probe);
        if (probed == ERROR_SHARING_VIOLATION)
            throw fileError(EBUSY, target);
    }
    throw fileError(errnoOfSystemError(static_cast<int>(failure)), target);
#else
    std::error_code ec;
    fs::rename(toFsPath(source), toFsPath(target), ec);
    if (ec)
        throw fileError(ec, target);
#endif
}

void syncFile(const QString &path)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(toFsPath(path).c_str(), O_RDONLY);
    if (fd < 0)
        throw fileError(errno, path);
    const int rc = ::fsync(fd);
    const int savedErrno = errno;
    ::close(fd);
    if (rc != 0)
        throw fileError(savedErrno, path);
#elif defined(Q_OS_WIN)
    // A folder's entries are the file system's own to keep (Windows flushes no folder).
    if (QFileInfo(path).isDir())
        return;
    const HANDLE file = ::CreateFileW(path.toStdWString().c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw fileError(errnoOfSystemError(static_cast<int>(::GetLastError())), path);
    const bool flushed = ::FlushFileBuffers(file);
    const DWORD failure = ::GetLastError();
    ::CloseHandle(file);
    if (!flushed)
        throw fileError(errnoOfSystemError(static_cast<int>(failure)), path);
#else
    Q_UNUSED(path);
#endif
}

namespace {

QString fromFsPath(const fs::path &path)
{
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.wstring());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
#endif
}

} // namespace

void makePrivateFolders(const QString &path)
{
    // From the root ("/", or "C:/" on Windows, which is no folder to make) down.
    const fs::path full = toFsPath(path);
    fs::path made = full.root_path();
    for (const fs::path &part : full.relative_path()) {
        made /= part;
        std::error_code ec;
        if (!fs::create_directory(made, ec)) {
            if (ec)
                throw fileError(ec, fromFsPath(made));
            continue; // it was there already
        }
        fs::permissions(made, fs::perms::owner_all, fs::perm_options::replace, ec);
        if (ec)
            throw fileError(ec, fromFsPath(made));
    }
}

void removeFileIfExists(const QString &path)
{
    std::error_code ec;
    fs::remove(toFsPath(path), ec);
    if (ec)
        throw fileError(ec, path);
}

} // namespace talvesk::platform
