#include "platform/Error.h"

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// Names that one C library has and another lacks: a missing one can never be reported there.
#ifndef EDQUOT
#define EDQUOT ENOSPC
#endif
#ifndef ENOMEDIUM
#define ENOMEDIUM ENXIO
#endif
#ifndef ETXTBSY
#define ETXTBSY EBUSY
#endif

namespace talvesk::platform {

Error::Error(int number, QString description, int systemError)
    : number_(number), systemError_(systemError), description_(std::move(description)),
      what_(std::to_string(number) + ' ' + description_.toStdString())
{
}

Error fileError(int errnoValue, const QString &path)
{
    int number = errnum::PathFileAccess;
    switch (errnoValue) {
    case ENOENT:
        number = errnum::FileNotFound;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        number = errnum::PermissionDenied;
        break;
    case EIO:
    case ENOSPC:
    case EFBIG:
#if EDQUOT != ENOSPC
    case EDQUOT:
#endif
        number = errnum::DeviceIo;
        break;
    case ENXIO:
    case ENODEV:
#if ENOMEDIUM != ENXIO
    case ENOMEDIUM:
#endif
        number = errnum::DiskNotReady;
        break;
    default:
        break;
    }
    return Error(number,
                 fileReason(errnoValue) + QStringLiteral("：") + path + QStringLiteral("（")
                     + QString::fromLocal8Bit(std::strerror(errnoValue)) + QStringLiteral("）"),
                 errnoValue);
}

int errnoOfSystemError(int systemCode)
{
#ifdef Q_OS_WIN
    switch (systemCode) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    // Another program holds the file open without letting it be replaced: Windows refuses where
    // Linux would let the name go to the new file.
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return EBUSY;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
        return ENXIO;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
        return EIO;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    default:
        return EINVAL; // no errno of its own: the general 「檔案存取錯誤」
    }
#else
    return systemCode;
#endif
}

Error fileError(const std::error_code &code, const QString &path)
{
    return fileError(code.category() == std::generic_category() ? code.value() : errnoOfSystemError(code.value()),
                     path);
}

QString fileReason(int errnoValue)
{
    switch (errnoValue) {
    case ENOENT:
        return QStringLiteral("找不到檔案或資料夾");
    case EACCES:
    case EPERM:
        return QStringLiteral("沒有存取權限");
    case EROFS:
        return QStringLiteral("磁碟是唯讀的（防寫）");
    case ENOSPC:
#if EDQUOT != ENOSPC
    case EDQUOT:
#endif
        return QStringLiteral("磁碟空間不足");
    case EFBIG:
        return QStringLiteral("檔案超過允許的大小");
    case EIO:
        return QStringLiteral("磁碟讀寫錯誤");
    case ENXIO:
    case ENODEV:
#if ENOMEDIUM != ENXIO
    case ENOMEDIUM:
#endif
        return QStringLiteral("磁碟機未就緒");
    case EISDIR:
        return QStringLiteral("這是資料夾，不是檔案");
    case ENOTDIR:
        return QStringLiteral("路徑中有不是資料夾的部分");
    case EEXIST:
        return QStringLiteral("檔案已存在");
    case EBUSY:
#if ETXTBSY != EBUSY
    case ETXTBSY:
#endif
        return QStringLiteral("檔案正被使用中，請先關閉開啟它的程式");
    case ENAMETOOLONG:
        return QStringLiteral("路徑太長");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("開啟的檔案太多");
    case EXDEV:
        return QStringLiteral("無法在不同磁碟之間搬移");
    case ENOMEM:
        return QStringLiteral("記憶體不足");
    default:
        return QStringLiteral("檔案存取錯誤");
    }
}

Error stoppedError()
{
    return Error(errnum::Cancelled, QStringLiteral("已停止"));
}

QString errorText(const Error &error)
{
    return QStringLiteral("錯誤代碼 %1：").arg(error.number()) + error.description();
}

void stopIfRequested(const std::function<bool()> &stopRequested)
{
    if (stopRequested && stopRequested())
        throw Error(errnum::Cancelled, QStringLiteral("已停止"));
}

} // namespace talvesk::platform
