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
    std::error_code ec;
    fs::permissions(toFsPath(to), fs::status(toFsPath(from)).permissions(), ec);
    if (ec)
        throw fileError(ec.value(), to);
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
    file_ = std::fopen(toFsPath(path_).c_str(), "wb");
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
    if (std::fflush(file_) != 0 || ::ftruncate(fileno(file_), static_cast<off_t>(size)) != 0
        || std::fseek(file_, static_cast<long>(size), SEEK_SET) != 0)
        throw fileError(errno, path_);
}

void ScratchFile::commitTo(const QString &target)
{
    if (!file_)
        throw Error(errnum::PathFileAccess, QStringLiteral("檔案已關閉：") + path_);
    FILE *f = std::exchange(file_, nullptr);
    int failure = 0;
    if (std::fflush(f) != 0)
        failure = errno;
#ifdef Q_OS_UNIX
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
    FILE *in = std::fopen(toFsPath(source).c_str(), "rb");
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
    std::error_code ec;
    fs::rename(toFsPath(source), toFsPath(target), ec);
    if (ec)
        throw fileError(ec.value(), target);
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
    fs::path made;
    for (const fs::path &part : toFsPath(path)) {
        made /= part;
        std::error_code ec;
        if (!fs::create_directory(made, ec)) {
            if (ec)
                throw fileError(ec.value(), fromFsPath(made));
            continue; // it was there already
        }
        fs::permissions(made, fs::perms::owner_all, fs::perm_options::replace, ec);
        if (ec)
            throw fileError(ec.value(), fromFsPath(made));
    }
}

void removeFileIfExists(const QString &path)
{
    std::error_code ec;
    fs::remove(toFsPath(path), ec);
    if (ec)
        throw fileError(ec.value(), path);
}

} // namespace talvesk::platform
