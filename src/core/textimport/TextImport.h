#pragma once

#include "db/BatchedChanges.h"
#include "platform/AppFolder.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/TextLines.h"
#include "textimport/FixedFields.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace talvesk::textimport {

struct TextImportCounts {
    qint64 applied = 0;  // records written
    qint64 abnormal = 0; // lines reported in ErrLog.txt
    qint64 inserted = 0; // of the records applied, those that made a new record
    qint64 updated = 0;  // and those that found one already there
    qint64 unchanged = 0;   // of the records updated, those whose stored values stay as they were
    qint64 paidChanged = 0; // and of the others, those whose receivable already had a payment
    bool logWritten = false;
    QStringList problems{}; // a dry run's would-be log lines (it writes no log), the first kMaxProblems
    static constexpr int kMaxProblems = 20;
    qint64 stored() const { return applied; }
    // "5 applied, 1 abnormal", as the batch tool and the journal report them.
    QString summary() const;
    // "3 new, 1 updated, 1 unchanged", as the journal keeps it beside the summary.
    QString changes() const { return db::changesText(inserted, updated - unchanged, unchanged); }
};

// What a text import reports: every line it handled, and, when it stops on a failure, the counts
// of the records that are stored.
struct TextImportObserver {
    std::function<void(const TextImportCounts &counts)> lineDone;
    std::function<void(const TextImportCounts &stored)> stopped;
    // Each record with what is stored from it (for a preview; left empty, nothing is gathered).
    std::function<void(const db::ShownRow &line)> lineShown;
    // Asked between lines, and while a dry run copies the database and runs its statements: true
    // stops the run with platform::Error errnum::Cancelled.
    std::function<bool()> stopRequested;
};

// An import of a fixed-position text file. Throws platform::Error on the first failure; the
// records before it stay applied.
class TextImport {
public:
    virtual ~TextImport() = default;
    virtual TextImportCounts run(const QString &path, const TextImportObserver &observer) = 0;
    // The names of the values a record shows, in the order of db::ShownRow::values.
    virtual QStringList shownFields() const = 0;
    // The same import with its changes only tried (db::Changes): it stores nothing and leaves
    // ErrLog.txt alone.
    virtual std::unique_ptr<TextImport> withChanges(db::Changes changes) const = 0;
    // The application folder whose database the import writes.
    virtual const platform::AppFolder &appFolder() const = 0;
    std::unique_ptr<TextImport> dryRun() const { return withChanges(db::Changes::DryRun); }
};

// The first `max` records of a file as `import` would store them, tried in the database and
// rolled back (db::Changes::FirstRows): the rest of the file is not read. Throws platform::Error.
struct TextPreview {
    QStringList fields;
    std::vector<db::ShownRow> lines;
};
TextPreview previewLines(const TextImport &import, const QString &path, int max = 20);

// The lines a run could not use, written to ErrLog.txt in the application folder (code page 950,
// CR LF): line number, reason, and the line itself (as db::problemExcerpt keeps it; the bytes of a
// line that cannot be shown as text, in hex, the first platform::kKeptLineBytes of them). The
// lines go to a scratch file beside it as they come, so a file of a million unusable lines costs
// no memory; ErrLog.txt appears whole when the log is written. A log without a path (a dry run's)
// writes nothing and keeps only its first lines.
class ErrorLog {
public:
    explicit ErrorLog(QString path);
    ~ErrorLog();
    ErrorLog(const ErrorLog &) = delete;
    ErrorLog &operator=(const ErrorLog &) = delete;

    void add(const platform::TextLine &line, const QString &reason);
    // Each line added from now on is also kept with the import's journal entry through `batch`.
    void alsoKeepWith(db::BatchedChanges *batch) { batch_ = batch; }
    bool empty() const { return entries_ == 0; }
    // Keeps only the first `entries` lines: those of the rows that are stored, when a run stops
    // after lines it had logged were rolled back. A failure to cut the log is reported by write(),
    // which then puts no log in place.
    void keepFirst(qint64 entries);
    // The first lines (up to TextImportCounts::kMaxProblems), as the log holds them.
    const QStringList &first() const { return first_; }
    // Puts the log in place when it holds anything. Throws platform::Error, also for a line that
    // could not be stored earlier.
    void write();
    // The same, for a run that is already failing: a failure to write is not reported over it.
    void writeQuietly() noexcept;

private:
    QString path_;
    std::unique_ptr<platform::ScratchFile> file_;
    qint64 entries_ = 0;
    std::optional<platform::Error> failure_; // the first line that could not be stored
    QStringList first_;
    db::BatchedChanges *batch_ = nullptr;
};

// Opens the database for a text import. Any failure to open it is a database failure (error
// 3000), so that it is never taken for a missing or unreadable text file.
// For a dry run, a private copy of it (db::openDatabaseFor).
platform::Database openDatabaseForTextImport(const platform::AppFolder &app, db::Changes changes = db::Changes::Keep,
                                             const std::function<bool()> &stopRequested = {});

// Runs `body(log, batch, counts)` over the records in batches, then writes what it logged to
// ErrLog.txt; when the body fails, what it had logged is written all the same, so nothing found is
// lost, and the observer learns how many records are stored. The logged lines are also kept with
// the journal entry. A dry run writes no log, leaves an earlier one as it is and is not
// journalled; the lines it would have logged come back in the counts' problems.
template <typename Body>
TextImportCounts withErrorLog(const platform::AppFolder &app, platform::Database &db,
                              const TextImportObserver &observer, db::Changes changes,
                              const db::JournalOperation &journalled, Body &&body)
{
    if (db::onlyTried(changes)) {
        ErrorLog unwritten{QString()};
        TextImportCounts counts = db::runInBatches<TextImportCounts>(
            db, [&](db::BatchedChanges &batch, TextImportCounts &c) { body(unwritten, batch, c); }, observer.stopped,
            50000, changes);
        counts.problems = unwritten.first();
        return counts;
    }
    ErrorLog log(app.errorLogFile());
    // A run that stops keeps the lines of the rows that are stored, as its counts say, and no more.
    qint64 storedAbnormal = 0;
    const std::function<void(const TextImportCounts &)> stopped = [&](const TextImportCounts &stored) {
        storedAbnormal = stored.abnormal;
        if (observer.stopped)
            observer.stopped(stored);
    };
    try {
        TextImportCounts counts = db::runInBatches<TextImportCounts>(
            db,
            [&](db::BatchedChanges &batch, TextImportCounts &c) {
                log.alsoKeepWith(&batch);
                body(log, batch, c);
                log.alsoKeepWith(nullptr);
            },
            stopped, 50000, changes, journalled);
        log.write();
        counts.logWritten = !log.empty();
        return counts;
    } catch (const platform::Error &) {
        log.keepFirst(storedAbnormal);
        log.writeQuietly();
        throw;
    }
}

// A line holding a NUL character is not applied: no stored value may hold one.
inline const QString kNulLineReason = QStringLiteral("含有 NUL 字元");
// Why a line past platform::kMaxLineBytes is not applied (the log shows its length).
inline const QString kTooLongLineReason =
    QStringLiteral("一行超過 %1 位元組的上限").arg(platform::kMaxLineBytes);

// The completion messages of a text import.
inline const QString kReadDone = QStringLiteral("讀入檔案完成!");
inline const QString kReadDoneWithErrors =
    QStringLiteral("讀入檔案完成,部份資料有錯誤,請查看應用程式目錄下的 ErrLog.Txt!");

// The message for a failed run, chosen by the error's number.
QString textImportFailureText(int errorNumber);


} // namespace talvesk::textimport
