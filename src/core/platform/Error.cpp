#include "platform/Error.h"

#include <cerrno>
#include <cstring>

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
    case EDQUOT:
        number = errnum::DeviceIo;
        break;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
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
    case EDQUOT:
        return QStringLiteral("磁碟空間不足");
    case EFBIG:
        return QStringLiteral("檔案超過允許的大小");
    case EIO:
        return QStringLiteral("磁碟讀寫錯誤");
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
        return QStringLiteral("磁碟機未就緒");
    case EISDIR:
        return QStringLiteral("這是資料夾，不是檔案");
    case ENOTDIR:
        return QStringLiteral("路徑中有不是資料夾的部分");
    case EEXIST:
        return QStringLiteral("檔案已存在");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("檔案正被使用中");
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
