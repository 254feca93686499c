#include "textimport/TextImport.h"

#include "db/Connection.h"
#include "platform/Codec950.h"
#include "platform/Files.h"

namespace talvesk::textimport {

void ErrorLog::add(const platform::TextLine &line, const QString &reason)
{
    // The line is kept as far as it could be decoded; the bytes that could not are shown in hex.
    QString shown = line.text;
    if (!line.decoded || line.bytes.contains('\0'))
        shown = QStringLiteral("(") + QString::fromLatin1(line.bytes.toHex(' ')) + u')';
    entries_.push_back(QStringLiteral("第 %1 行: %2: %3").arg(line.number).arg(reason, shown));
    if (batch_)
        batch_->problem(line.number, reason, shown);
}

QString TextImportCounts::summary() const
{
    return QStringLiteral("%1 applied, %2 abnormal").arg(applied).arg(abnormal);
}

QStringList ErrorLog::first(int max) const
{
    QStringList lines;
    for (std::size_t i = 0; i < entries_.size() && lines.size() < max; ++i)
        lines << entries_[i];
    return lines;
}

void ErrorLog::write(const QString &path) const
{
    if (entries_.empty())
        return;
    QString text;
    for (const QString &entry : entries_)
        text += entry + QStringLiteral("\r\n");
    platform::writeFileAtomically(path, platform::codec950::encode(text));
}

void ErrorLog::writeQuietly(const QString &path) const noexcept
{
    try {
        write(path);
    } catch (...) {
    }
}

platform::Database openDatabaseForTextImport(const platform::AppFolder &app)
{
    try {
        return db::openDatabase(app);
    } catch (const platform::Error &error) {
        if (error.number() == platform::errnum::Database)
            throw;
        throw platform::Error(platform::errnum::Database, QStringLiteral("無法開啟資料庫 ") + app.databaseFile()
                                                              + QStringLiteral("：") + error.description());
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
        import.dryRun()->run(path, observer);
    } catch (const PreviewFull &) {
    }
    return preview;
}

bool isDigitsAndBlanks(const QString &field)
{
    for (const QChar c : field) {
        if (!(c.unicode() >= u'0' && c.unicode() <= u'9') && c != u' ')
            return false;
    }
    return true;
}

QString fixedAmountText(const QString &field)
{
    const QString trimmed = field.trimmed();
    if (trimmed.isEmpty())
        return trimmed;
    for (const QChar c : trimmed) {
        if (c.unicode() < u'0' || c.unicode() > u'9')
            return trimmed;
    }
    qsizetype first = 0;
    while (first < trimmed.size() - 1 && trimmed.at(first) == u'0')
        ++first;
    return trimmed.mid(first);
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
