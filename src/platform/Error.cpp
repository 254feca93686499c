#include "platform/Error.h"

#include <cerrno>
#include <cstring>

namespace talvesk::platform {

Error::Error(int number, QString description)
    : number_(number), description_(std::move(description)),
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
    return Error(number, QString::fromLocal8Bit(std::strerror(errnoValue)) + QStringLiteral(": ") + path);
}

} // namespace talvesk::platform
