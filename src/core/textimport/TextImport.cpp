#include "textimport/TextImport.h"

#include "db/Connection.h"
#include "platform/Codec950.h"
#include "platform/Files.h"

#include <QFile>

#include <algorithm>
#include <vector>

namespace talvesk::textimport {

ErrorLog::ErrorLog(QString path) : path_(std::move(path))
{
}

ErrorLog::~ErrorLog() = default;

void ErrorLog::add(const platform::TextLine &line, const QString &reason)
{
    ++entries_;
    const QString shown = db::problemExcerpt(shownLine(line));
    const QString entry = QStringLiteral("第 %1 行: %2: %3").arg(line.number).arg(reason, shown);
    if (first_.size() < TextImportCounts::kMaxProblems)
        first_ << entry;
    if (batch_)
        batch_->problem(line.number, reason, shown);
    if (path_.isEmpty() || failure_)
        return;
    try {
        if (!file_)
            file_ = std::make_unique<platform::ScratchFile>(path_);
        const QByteArray bytes = platform::codec950::encode(QString(entry + QStringLiteral("\r\n")));
        file_->write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    } catch (const platform::Error &error) {
        // Reported when the log is put in place, as a log that cannot be written always was:
        // the run itself goes on.
        failure_ = error;
        file_.reset();
    }
}

QString TextImportCounts::summary() const
{
    return QStringLiteral("%1 applied, %2 abnormal").arg(applied).arg(abnormal);
}

void ErrorLog::keepFirst(qint64 entries)
{
    if (entries >= entries_)
        return;
    entries_ = entries;
    while (first_.size() > entries)
        first_.removeLast();
    if (!file_ || failure_)
        return;
    if (entries == 0) {
        file_.reset(); // no lines stored, no log: as a run that logged nothing
        return;
    }
    try {
        // Every logged line ends in CR LF, which no line holds (a line ends at either): the first
        // `entries` lines end at the entries-th LF.
        file_->flush();
        QFile in(file_->path());
        if (!in.open(QIODevice::ReadOnly))
            throw platform::Error(platform::errnum::PathFileAccess, in.errorString() + QStringLiteral("：") + file_->path());
        qint64 offset = 0, seen = 0;
        std::vector<char> buffer(std::size_t(1) << 16);
        while (seen < entries) {
            const qint64 n = in.read(buffer.data(), static_cast<qint64>(buffer.size()));
            if (n <= 0)
                throw platform::Error(platform::errnum::PathFileAccess, QStringLiteral("無法讀回：") + file_->path());
            for (qint64 i = 0; i < n && seen < entries; ++i) {
                if (buffer[std::size_t(i)] == '\n' && ++seen == entries)
                    offset += i + 1;
            }
            if (seen < entries)
                offset += n;
        }
        file_->truncate(offset);
    } catch (const platform::Error &error) {
        failure_ = error;
        file_.reset();
    }
}

void ErrorLog::write()
{
    if (failure_)
        throw *failure_;
    if (!file_)
        return;
    file_->commitTo(path_);
    file_.reset();
}

void ErrorLog::writeQuietly() noexcept
{
    try {
        write();
    } catch (...) {
    }
}

platform::Database openDatabaseForTextImport(const platform::AppFolder &app, db::Changes changes,
                                             const std::function<bool()> &stopRequested)
{
    try {
        return db::openDatabaseFor(app, changes, stopRequested, db::Reach::DeskOrServer);
    } catch (const platform::Error &error) {
        if (error.number() == platform::errnum::Database)
            throw;
        const QString which = db::usesServer(app) ? QStringLiteral("無法開啟共用資料庫")
                                                  : QStringLiteral("無法開啟資料庫 ") + app.databaseFile();
        throw platform::Error(platform::errnum::Database, which + QStringLiteral("：") + error.description());
    }
}

namespace {
// Thrown by the preview's observer once it has its records: it ends the dry run, which rolls back.
struct PreviewFull {};
} // namespace

TextPreview previewLines(const TextImport &import, const QString &path, int max)
{
    TextPreview preview{import.shownFields(), {}};
    TextImportObserver observer;
    observer.lineShown = [&](const db::ShownRow &line) {
        preview.lines.push_back(line);
        if (static_cast<int>(preview.lines.size()) >= max)
            throw PreviewFull();
    };
    try {
        import.withChanges(db::Changes::FirstRows)->run(path, observer);
    } catch (const PreviewFull &) {
    }
    return preview;
}

QString textImportFailureText(int errorNumber)
{
    switch (errorNumber) {
    case platform::errnum::FileNotFound:
        return QStringLiteral("找不到檔案!");
    case platform::errnum::DeviceIo:
        return QStringLiteral("磁碟機存取錯誤!");
    case platform::errnum::PathFileAccess:
        return QStringLiteral("路徑/檔案存取錯誤!");
    default:
        return QStringLiteral("錯誤發生;錯誤代碼=") + QString::number(errorNumber);
    }
}

} // namespace talvesk::textimport
