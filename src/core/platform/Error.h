#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <string>
#include <system_error>

namespace talvesk::platform {

// The numbers the program's messages are chosen by. File-system failures are mapped onto the
// classic run-time error numbers so that every window can pick its fixed text by number.
namespace errnum {
inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;    // a cell holding an error value
inline constexpr int FileNotFound = 53;
inline constexpr int InvalidUseOfNull = 94; // a receivable's amount that holds no value
inline constexpr int DeviceIo = 57;
inline constexpr int PermissionDenied = 70;
inline constexpr int DiskNotReady = 71;
inline constexpr int PathFileAccess = 75;
inline constexpr int Database = 3000;       // any failure reported by the database engine
inline constexpr int ObjectInvalid = 3420;
inline constexpr int Cancelled = 32755;     // a file dialog closed without a choice
} // namespace errnum

class Error : public std::exception {
public:
    Error(int number, QString description, int systemError = 0);

    int number() const noexcept { return number_; }
    // The system's own error code (errno) behind a failed file operation; 0 when there is none.
    // Several system causes share one number (70 is a write-protected disk and a locked file
    // alike), and a window that must tell them apart looks here.
    int systemError() const noexcept { return systemError_; }
    const QString &description() const noexcept { return description_; }
    const char *what() const noexcept override { return what_.c_str(); }

private:
    int number_;
    int systemError_ = 0;
    QString description_;
    std::string what_;
};

// Maps an errno value from a failed file operation onto an Error naming the path: a Chinese
// reason first, the system's own words after it.
Error fileError(int errnoValue, const QString &path);
// The same for a failure reported as an error code (std::filesystem's): on Windows the system's
// own codes are read as the errno values they stand for.
Error fileError(const std::error_code &code, const QString &path);
// The errno value a system error code stands for (Windows' ERROR_SHARING_VIOLATION is EBUSY);
// elsewhere the code is one already.
int errnoOfSystemError(int systemCode);
// The Chinese reason for an errno value (「磁碟空間不足」 for ENOSPC).
QString fileReason(int errnoValue);
// Work that was asked to stop (errnum::Cancelled, 「已停止」).
Error stoppedError();
// An error as shown where no fixed form is prescribed: number and text apart
// (「錯誤代碼 57：磁碟空間不足：…」).
QString errorText(const Error &error);

// How an operation answers its observer's `stopRequested`: once it says stop, the operation ends
// here with errnum::Cancelled (「已停止」), between two rows, where nothing is half done.
void stopIfRequested(const std::function<bool()> &stopRequested);

} // namespace talvesk::platform
