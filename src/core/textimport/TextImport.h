#pragma once

#include "db/BatchedChanges.h"
#include "platform/AppFolder.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/TextLines.h"

#include <QString>
#include <QStringEncoder>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace talvesk::textimport {

struct TextImportCounts {
    qint64 applied = 0;  // records written
    qint64 abnormal = 0; // lines reported in ErrLog.txt
    bool logWritten = false;
    qint64 stored() const { return applied; }
};

// What a text import reports: every line it handled, and, when it stops on a failure, the counts
// of the records that are stored.
struct TextImportObserver {
    std::function<void(const TextImportCounts &counts)> lineDone;
    std::function<void(const TextImportCounts &stored)> stopped;
};

// An import of a fixed-position text file. Throws platform::Error on the first failure; the
// records before it stay applied.
class TextImport {
public:
    virtual ~TextImport() = default;
    virtual TextImportCounts run(const QString &path, const TextImportObserver &observer) = 0;
};

// The lines a run could not use, written to ErrLog.txt in the application folder (code page 950,
// CR LF): line number, reason, and the line itself. The lines go to a scratch file beside it as
// they come, so a file of a million unusable lines costs no memory; ErrLog.txt appears whole when
// the log is written.
class ErrorLog {
public:
    explicit ErrorLog(QString path);
    ~ErrorLog();
    ErrorLog(const ErrorLog &) = delete;
    ErrorLog &operator=(const ErrorLog &) = delete;

    void add(const platform::TextLine &line, const QString &reason);
    bool empty() const { return entries_ == 0; }
    // Puts the log in place when it holds anything. Throws platform::Error, also for a line that
    // could not be stored earlier.
    void write();
    // The same, for a run that is already failing: a failure to write is not reported over it.
    void writeQuietly() noexcept;

private:
    QString path_;
    std::unique_ptr<platform::ScratchFile> file_;
    std::optional<QStringEncoder> encoder_;
    qint64 entries_ = 0;
    std::optional<platform::Error> failure_; // the first line that could not be stored
};

// Opens the database for a text import. Any failure to open it is a database failure (error
// 3000), so that it is never taken for a missing or unreadable text file.
platform::Database openDatabaseForTextImport(const platform::AppFolder &app);

// Runs `body(log, batch, counts)` over the records in batches, then writes what it logged to
// ErrLog.txt; when the body fails, what it had logged is written all the same, so nothing found is
// lost, and the observer learns how many records are stored.
template <typename Body>
TextImportCounts withErrorLog(const platform::AppFolder &app, platform::Database &db,
                              const TextImportObserver &observer, Body &&body)
{
    ErrorLog log(app.errorLogFile());
    try {
        TextImportCounts counts = db::runInBatches<TextImportCounts>(
            db, [&](db::BatchedChanges &batch, TextImportCounts &c) { body(log, batch, c); }, observer.stopped);
        log.write();
        counts.logWritten = !log.empty();
        return counts;
    } catch (const platform::Error &) {
        log.writeQuietly();
        throw;
    }
}

// A line holding a NUL character is not applied: no stored value may hold one.
inline const QString kNulLineReason = QStringLiteral("含有 NUL 字元");

// Whether a fixed-position amount field holds only digits and blanks (an empty one does).
bool isDigitsAndBlanks(QStringView field);
// A fixed-position amount through the number pattern "####0": the whole number without leading
// zeros when the trimmed field is all digits, otherwise the trimmed field as it is (a view of it).
QStringView fixedAmountText(QStringView field);
// Characters of a line at 1-based positions, only those that exist.
inline QStringView field(QStringView line, int position, int length)
{
    return line.mid(position - 1, length);
}

// The completion messages of a text import.
inline const QString kReadDone = QStringLiteral("讀入檔案完成!");
inline const QString kReadDoneWithErrors =
    QStringLiteral("讀入檔案完成,部份資料有錯誤,請查看應用程式目錄下的 ErrLog.Txt!");

// The message for a failed run, chosen by the error's number.
QString textImportFailureText(int errorNumber);


} // namespace talvesk::textimport
