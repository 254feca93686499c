#include "shell/BatchTool.h"

#include "credentials/Credentials.h"
#include "platform/AppFolder.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "shell/Compaction.h"

#include "backup/Backup.h"
#include "db/Connection.h"
#include "db/Journal.h"
#include "db/Mapping.h"
#include "db/SafetyCopy.h"
#include "db/TableExport.h"
#include "results/Lookup.h"
#include "results/LookupIndex.h"
#include "results/Results.h"
#include "store/StoreExport.h"
#include "payments/Amounts.h"
#include "payments/BankImport.h"
#include "payments/PaymentsImport.h"
#include "store/StoreImport.h"
#include "workbook/Workbook.h"
#include "receivables/ReceivablesImport.h"
#include "server/DatabaseInUse.h"
#include "server/ServerCopy.h"
#include "server/ServerSchema.h"
#include "server/ServerSettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QFileInfo>

#include <cstdio>
#include <unistd.h>

#include <functional>
#include <map>

namespace talvesk::shell {

namespace {

using platform::AppFolder;

struct Context {
    AppFolder app;
    QStringList args; // the command's own arguments
    QTextStream &out;
    QTextStream &err;
    // --dry-run of an import: every line on stdout says so, and nothing is stored.
    db::Changes changes = db::Changes::Keep;
    bool dryRun() const { return changes == db::Changes::DryRun; }
    QString lead() const { return dryRun() ? QStringLiteral("dry run: ") : QString(); }
};

// The commands that never open this desk's database file.
const QStringList kWithoutDeskDatabase{QStringLiteral("set-credentials"), QStringLiteral("server-init"),
                                       QStringLiteral("server-copy")};

// The commands that take --dry-run.
const QStringList kDryRunCommands{QStringLiteral("import-receivables"), QStringLiteral("import-payments"),
                                  QStringLiteral("import-bank"), QStringLiteral("import-store")};

// A dry run's second line: what the real run would add and change.
void dryRunChanges(Context &ctx, qint64 inserted, qint64 updated)
{
    // Standard output keeps the real run's one summary line (prefixed); the rest is a message.
    ctx.err << db::kDryRunDone << Qt::endl << ctx.lead() << inserted << " new, " << updated << " updated" << Qt::endl;
}

struct Command {
    QString synopsis;
    int minArguments;
    int maxArguments;
    std::function<int(Context &)> run;
};

using platform::errorText;

int usage(QTextStream &err, const QString &problem);

// A progress bar on standard error, drawn only when that is a terminal.
class ProgressLine {
public:
    explicit ProgressLine(QTextStream &err) : err_(err), enabled_(isatty(fileno(stderr)) != 0) {}
    void start(qint64 total)
    {
        total_ = total;
        timer_.start();
    }
    void at(qint64 row)
    {
        if (!enabled_ || total_ <= 0 || timer_.elapsed() < 200)
            return;
        timer_.start();
        const int width = 40;
        const int filled = static_cast<int>(width * std::min<qint64>(row, total_) / total_);
        err_ << '\r' << '[' << QString(filled, u'#') << QString(width - filled, u' ') << "] " << row << '/' << total_;
        err_.flush();
        drawn_ = true;
    }
    void finish()
    {
        if (drawn_)
            err_ << '\r' << QString(70, u' ') << '\r';
        drawn_ = false;
    }

private:
    QTextStream &err_;
    bool enabled_;
    bool drawn_ = false;
    qint64 total_ = 0;
    QElapsedTimer timer_;
};

int compact(Context &ctx)
{
    const QString file = ctx.app.databaseFile();
    const qint64 before = QFileInfo(file).size();
    if (const auto failure = compactDatabase(ctx.app)) {
        ctx.err << errorText(*failure) << Qt::endl;
        ctx.out << "compact: failed, database unchanged" << Qt::endl;
        return kBatchFailed;
    }
    ctx.out << "compact: " << before << " -> " << QFileInfo(file).size() << " bytes" << Qt::endl;
    return kBatchOk;
}

int setCredentials(Context &ctx)
{
    const QString user = ctx.args.at(0);
    const QString password = ctx.args.at(1);
    for (const auto &[value, isUser] : {std::pair{user, true}, std::pair{password, false}}) {
        const auto problem = credentials::checkCredentialText(value);
        if (problem != credentials::CredentialTextProblem::None) {
            ctx.err << credentials::credentialProblemText(problem, isUser) << Qt::endl;
            ctx.out << "set-credentials: refused, credential file unchanged" << Qt::endl;
            return kBatchFailed;
        }
    }
    try {
        credentials::saveCredentials(ctx.app.credentialFile(), user.toUpper(), password.toUpper());
    } catch (const platform::Error &error) {
        ctx.err << credentials::kSaveFailedMessage << errorText(error) << Qt::endl;
        ctx.out << "set-credentials: failed, credential file unchanged" << Qt::endl;
        return kBatchFailed;
    }
    ctx.err << credentials::kSavedMessage << Qt::endl;
    ctx.out << "set-credentials: saved " << ctx.app.credentialFile() << Qt::endl;
    return kBatchOk;
}

// map-receivables / map-payments: one column name per item, "" for none.
int mapColumns(Context &ctx, const db::MappingTable &table)
{
    QStringList values;
    for (int i = 0; i < table.count(); ++i) {
        const int maxLetters = table.items[static_cast<std::size_t>(i)].maxLetters;
        const QString value = ctx.args.at(i).trimmed().toUpper();
        bool letters = true;
        for (const QChar c : value)
            letters = letters && c >= u'A' && c <= u'Z';
        if (!letters || value.size() > maxLetters) {
            ctx.err << QStringLiteral("欄位對應 item") << (i + 1) << QStringLiteral(" 只能是 ")
                    << maxLetters << QStringLiteral(" 個以內的英文字母: ") << ctx.args.at(i)
                    << Qt::endl;
            ctx.out << "map: refused, mapping unchanged" << Qt::endl;
            return kBatchFailed;
        }
        values << value;
    }
    try {
        platform::Database db = db::openDatabaseToWrite(ctx.app);
        db::saveMapping(db, table, values);
    } catch (const platform::Error &error) {
        ctx.err << errorText(error) << Qt::endl;
        ctx.out << "map: failed, mapping unchanged" << Qt::endl;
        return kBatchFailed;
    }
    ctx.out << "map: " << table.table << " = " << values.join(u',') << Qt::endl;
    return kBatchOk;
}

// Contents already imported are imported again (a scheduled job runs unattended), with a note on
// standard error once the import has ended; the output lines stay as they are. The file is hashed
// beside the import (a large workbook takes as long as a fifth of its rows), and only the entries
// made before the import count.
class ImportedBeforeNote {
public:
    ImportedBeforeNote(Context &ctx, const QString &file) : ctx_(ctx)
    {
        if (!ctx.dryRun())
            asked_.emplace(ctx.app, file);
    }
    ImportedBeforeNote(const ImportedBeforeNote &) = delete;
    ImportedBeforeNote &operator=(const ImportedBeforeNote &) = delete;
    ~ImportedBeforeNote()
    {
        if (!asked_)
            return;
        if (const std::optional<QDateTime> when = asked_->when())
            ctx_.err << "note: the same contents were imported on " << when->toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                     << "; importing again" << Qt::endl;
    }

private:
    Context &ctx_;
    std::optional<db::ImportedBefore> asked_;
};

// import-receivables / import-payments FILE [--sheet NAME]
int importWorkbook(Context &ctx, workbookimport::WorkbookImport &import, const QString &what)
{
    const QString file = ctx.args.at(0);
    QString sheet;
    if (ctx.args.size() == 3) {
        if (ctx.args.at(1) != QStringLiteral("--sheet"))
            return usage(ctx.err, QStringLiteral("expected --sheet NAME"));
        sheet = ctx.args.at(2);
    } else if (ctx.args.size() != 1) {
        return usage(ctx.err, QStringLiteral("expected FILE [--sheet NAME]"));
    }
    ProgressLine progress(ctx.err);
    workbookimport::ImportObserver observer;
    observer.started = [&](qint64 lastRow) { progress.start(lastRow); };
    workbookimport::ImportCounts counts;
    observer.rowDone = [&](qint64 row, const workbookimport::ImportCounts &c) {
        counts = c;
        progress.at(row);
    };
    observer.stopped = [&](const workbookimport::ImportCounts &stored) { counts = stored; };
    const ImportedBeforeNote note(ctx, file);
    try {
        if (sheet.isEmpty()) {
            const auto book = workbook::Workbook::open(file);
            sheet = book->worksheetNames().value(0);
        }
        counts = import.run(file, sheet, observer);
    } catch (const platform::Error &error) {
        progress.finish();
        ctx.err << error.description() << Qt::endl;
        ctx.out << ctx.lead() << what << ": failed after " << counts.summary() << Qt::endl;
        return kBatchFailed;
    }
    progress.finish();
    for (const QString &problem : counts.problems)
        ctx.err << problem << Qt::endl;
    if (!ctx.dryRun())
        ctx.err << workbookimport::kImportDone << Qt::endl;
    ctx.out << ctx.lead() << what << ": " << counts.summary() << Qt::endl;
    if (ctx.dryRun())
        dryRunChanges(ctx, counts.inserted, counts.updated);
    return kBatchOk;
}

// import-bank / import-store FILE
int importText(Context &ctx, textimport::TextImport &import, const QString &what)
{
    textimport::TextImportCounts counts;
    textimport::TextImportObserver observer;
    observer.lineDone = [&](const textimport::TextImportCounts &c) { counts = c; };
    observer.stopped = [&](const textimport::TextImportCounts &stored) { counts = stored; };
    const ImportedBeforeNote note(ctx, ctx.args.at(0));
    try {
        counts = import.run(ctx.args.at(0), observer);
    } catch (const platform::Error &error) {
        ctx.err << textimport::textImportFailureText(error.number()) << ' ' << error.description() << Qt::endl;
        ctx.out << ctx.lead() << what << ": failed after " << counts.summary() << Qt::endl;
        return kBatchFailed;
    }
    if (ctx.dryRun()) {
        // No ErrLog.txt is written: what it would hold goes to stderr.
        for (const QString &problem : counts.problems)
            ctx.err << problem << Qt::endl;
    } else {
        const bool withErrors = counts.abnormal > 0 || counts.logWritten;
        ctx.err << (withErrors ? textimport::kReadDoneWithErrors : textimport::kReadDone) << Qt::endl;
    }
    ctx.out << ctx.lead() << what << ": " << counts.summary();
    if (counts.logWritten)
        ctx.out << "; see " << ctx.app.errorLogFile();
    ctx.out << Qt::endl;
    if (ctx.dryRun())
        dryRunChanges(ctx, counts.inserted, counts.updated);
    return kBatchOk;
}

// export-results / export-store OUT.xlsx
int exportTo(Context &ctx, const db::TableLayout &layout, const QString &what)
{
    const QString out = ctx.args.at(0);
    if (!out.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
        return usage(ctx.err, QStringLiteral("the output file must end in .xlsx"));
    ProgressLine progress(ctx.err);
    try {
        const db::ExportResult result = db::exportTable(ctx.app, layout, out, [&](qint64 done, qint64 total) {
            if (done == 1)
                progress.start(total);
            progress.at(done);
        });
        progress.finish();
        ctx.err << db::kExportDone << Qt::endl;
        if (result.cutCells > 0)
            ctx.err << db::cutCellsNote(result) << Qt::endl;
        ctx.out << what << ": " << result.rows << " rows to " << out << Qt::endl;
        return kBatchOk;
    } catch (const platform::Error &error) {
        progress.finish();
        ctx.err << errorText(error) << Qt::endl;
        ctx.out << what << ": failed, nothing written" << Qt::endl;
        return kBatchFailed;
    }
}

// find [TEXT] [--status unpaid|partial|paid|overpaid]: one matching receivable a line; how many,
// and what they add up to, on stderr.
int find(Context &ctx)
{
    results::LookupQuery query;
    QStringList args = ctx.args;
    if (const qsizetype at = args.indexOf(QStringLiteral("--status")); at >= 0) {
        const auto status = at + 1 < args.size() ? results::statusFromName(args.at(at + 1)) : std::nullopt;
        if (!status)
            return usage(ctx.err, QStringLiteral("expected --status unpaid|partial|paid|overpaid"));
        query.status = *status;
        args.remove(at, 2);
    }
    if (args.size() > 1)
        return usage(ctx.err, QStringLiteral("find takes at most one TEXT"));
    query.text = args.value(0);
    results::LookupTotals totals;
    try {
        results::Lookup lookup(ctx.app, query);
        lookup.forEach([&](const results::FoundReceivable &found) {
            ctx.out << results::lookupLine(found) << '\n';
            ++totals.count;
            totals.due += payments::leadingNumber(found.total, true);
            totals.paid += payments::leadingNumber(found.paid, true);
        });
    } catch (const platform::Error &error) {
        ctx.out.flush();
        ctx.err << errorText(error) << Qt::endl;
        return kBatchFailed;
    }
    ctx.out.flush();
    ctx.err << results::totalsText(totals) << Qt::endl;
    return kBatchOk;
}

int clear(Context &ctx, const QString &table, const QString &what)
{
    QString safetyCopy;
    try {
        safetyCopy = db::clearTable(ctx.app, table);
    } catch (const platform::Error &error) {
        ctx.err << errorText(error) << Qt::endl;
        ctx.out << what << ": failed, " << table << " unchanged" << Qt::endl;
        return kBatchFailed;
    }
    ctx.err << db::kClearDone << Qt::endl
            << db::safetyCopyReport(safetyCopy, db::kBeforeClearing) << Qt::endl;
    ctx.out << what << ": " << table << " emptied" << Qt::endl;
    return kBatchOk;
}

// backup FOLDER [--slot 1-6] / restore FOLDER --slot 1-6
int backupOrRestore(Context &ctx, bool restoring)
{
    int slot = 0;
    if (ctx.args.size() == 3) {
        bool ok = false;
        slot = ctx.args.at(2).toInt(&ok);
        if (ctx.args.at(1) != QStringLiteral("--slot") || !ok || slot < 1 || slot > backup::kSlots)
            return usage(ctx.err, QStringLiteral("expected --slot 1-6"));
    } else if (ctx.args.size() != 1 || restoring) {
        return usage(ctx.err, restoring ? QStringLiteral("restore takes FOLDER --slot 1-6")
                                        : QStringLiteral("backup takes FOLDER [--slot 1-6]"));
    }
    const QString file = backup::slotPath(backup::drivePrefix(ctx.args.at(0)), backup::slotFileName(slot));
    QString report;
    try {
        if (restoring)
            report = backup::restoreReport(backup::restoreDatabase(ctx.app, file));
        else
            backup::backupDatabase(ctx.app, file);
    } catch (const platform::Error &error) {
        ctx.err << errorText(error) << Qt::endl;
        ctx.out << (restoring ? "restore: failed, database unchanged" : "backup: failed") << Qt::endl;
        return kBatchFailed;
    }
    ctx.err << (restoring ? backup::kRestoreDone : backup::kBackupDone) << Qt::endl;
    if (!report.isEmpty())
        ctx.err << report << Qt::endl;
    ctx.out << (restoring ? "restore: from " : "backup: to ") << file << Qt::endl;
    return kBatchOk;
}

// A journal text on one line of tab-separated fields: no tab or line break of its own.
QString oneField(QString text)
{
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r' || c == QChar(0))
            c = u' ';
    }
    return text;
}

// history: every journal entry, newest first
int history(Context &ctx)
{
    try {
        platform::Database db = db::openDatabase(ctx.app, db::Reach::DeskOrServer);
        for (const db::JournalRecord &entry : db::journalEntries(db)) {
            ctx.out << entry.id << '\t' << entry.at << '\t' << entry.operation << '\t' << oneField(entry.file) << '\t'
                    << oneField(entry.counts);
            if (const QString state = db::stateWord(entry.state); !state.isEmpty())
                ctx.out << '\t' << state;
            ctx.out << Qt::endl;
        }
    } catch (const platform::Error &error) {
        ctx.err << errorText(error) << Qt::endl;
        return kBatchFailed;
    }
    return kBatchOk;
}

// problems ID: the lines entry ID could not use
int problems(Context &ctx)
{
    bool ok = false;
    const qint64 id = ctx.args.at(0).toLongLong(&ok);
    try {
        platform::Database db = db::openDatabase(ctx.app, db::Reach::DeskOrServer);
        const auto lines = ok ? db::problemLines(db, id) : std::nullopt;
        if (!lines) {
            ctx.err << QStringLiteral("匯入記錄中沒有編號 ") << ctx.args.at(0) << Qt::endl;
            return kBatchFailed;
        }
        for (const db::ProblemLine &line : *lines)
            ctx.out << line.number << '\t' << oneField(line.reason) << '\t' << oneField(line.text) << Qt::endl;
    } catch (const platform::Error &error) {
        ctx.err << errorText(error) << Qt::endl;
        return kBatchFailed;
    }
    return kBatchOk;
}

// undo: takes back the newest operation not yet undone
int undo(Context &ctx)
{
    try {
        platform::Database db = db::openDatabaseToWrite(ctx.app);
        const db::JournalRecord undone = db::undoLatest(db);
        ctx.out << "undo: " << undone.id << ' ' << undone.operation << ' ' << undone.at;
        if (!undone.file.isEmpty())
            ctx.out << ' ' << undone.file;
        ctx.out << Qt::endl;
    } catch (const platform::Error &error) {
        ctx.err << errorText(error) << Qt::endl;
        ctx.out << "undo: nothing undone" << Qt::endl;
        return kBatchFailed;
    }
    return kBatchOk;
}

// report OUT.pdf [--date yyyy-MM-dd]: the daily report of that day (today by default)
int report(Context &ctx)
{
    const QString out = ctx.args.at(0);
    if (!out.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        return usage(ctx.err, QStringLiteral("the output file must end in .pdf"));
    QDate date = QDate::currentDate();
    if (ctx.args.size() == 3) {
        date = QDate::fromString(ctx.args.at(2), QStringLiteral("yyyy-MM-dd"));
        if (ctx.args.at(1) != QStringLiteral("--date") || !date.isValid())
            return usage(ctx.err, QStringLiteral("expected --date yyyy-MM-dd"));
    } else if (ctx.args.size() != 1) {
        return usage(ctx.err, QStringLiteral("expected OUT.pdf [--date yyyy-MM-dd]"));
    }
    // The report paints with QtGui, which every other command does without: it is made by a
    // program of its own beside this one, so that the rest start without loading QtGui.
    const QString program = platform::programBeside(QStringLiteral("talvesk-report"));
    QProcess maker;
    maker.start(program, {ctx.app.root(), out, date.toString(QStringLiteral("yyyy-MM-dd"))});
    if (!maker.waitForFinished(-1) || maker.exitStatus() != QProcess::NormalExit) {
        ctx.err << QStringLiteral("無法執行日報表程式：") << QDir::toNativeSeparators(program) << u' '
                << maker.errorString() << Qt::endl;
        ctx.out << "report: failed, nothing written" << Qt::endl;
        return kBatchFailed;
    }
    ctx.err << QString::fromUtf8(maker.readAllStandardError());
    ctx.out << QString::fromUtf8(maker.readAllStandardOutput());
    ctx.err.flush();
    ctx.out.flush();
    return maker.exitCode();
}

// refresh-index: the lookup's index made anew unless it is of the database as it stands, so that
// find answers at once after a scheduled import
int refreshIndex(Context &ctx)
{
    try {
        const bool wasCurrent = results::lookupindex::current(ctx.app);
        if (!wasCurrent && !results::lookupindex::refresh(ctx.app)) {
            ctx.err << QStringLiteral("無法建立索引：資料庫在建立時有變動，或正由其他程式以 WAL 模式使用，請稍後再執行一次")
                    << Qt::endl;
            ctx.out << "refresh-index: failed" << Qt::endl;
            return kBatchFailed;
        }
        ctx.out << "refresh-index: " << (wasCurrent ? "current" : "made") << Qt::endl;
        return kBatchOk;
    } catch (const platform::Error &error) {
        ctx.err << errorText(error) << Qt::endl;
        ctx.out << "refresh-index: failed" << Qt::endl;
        return kBatchFailed;
    }
}

// The server Env/Database.ini names; platform::Error when it names none.
QString namedServer(const AppFolder &app)
{
    if (const std::optional<QString> server = server::serverConnectionString(app))
        return *server;
    throw platform::Error(platform::errnum::FileNotFound,
                          QStringLiteral("%1 沒有指定伺服器（[DATABASE] 段的 server）").arg(server::settingsFile(app)));
}

// server-init: the program's tables in the server's empty database.
int serverInit(Context &ctx)
{
    try {
        platform::pg::Connection connection(namedServer(ctx.app));
        server::createTables(connection);
        if (const QString warning = server::characterClassWarning(connection); !warning.isEmpty())
            ctx.err << warning << Qt::endl;
        ctx.out << "server-init: tables made on " << connection.serverName() << Qt::endl;
        return kBatchOk;
    } catch (const platform::Error &error) {
        ctx.err << errorText(error) << Qt::endl;
        ctx.out << "server-init: failed, nothing made" << Qt::endl;
        return kBatchFailed;
    }
}

// server-copy: this desk's database file into the server's empty tables.
int serverCopy(Context &ctx)
{
    try {
        platform::pg::Connection connection(namedServer(ctx.app));
        const server::CopyCounts counts = server::copyDeskToServer(ctx.app, connection);
        ctx.out << "server-copy: " << counts.summary() << " copied to " << connection.serverName() << Qt::endl;
        return kBatchOk;
    } catch (const platform::Error &error) {
        ctx.err << errorText(error) << Qt::endl;
        ctx.out << "server-copy: failed, nothing copied" << Qt::endl;
        return kBatchFailed;
    }
}

const std::map<QString, Command> &commands()
{
    static const std::map<QString, Command> table{
        {QStringLiteral("compact"), {QString(), 0, 0, compact}},
        {QStringLiteral("set-credentials"), {QStringLiteral("USER PASSWORD"), 2, 2, setCredentials}},
        {QStringLiteral("map-receivables"), {QStringLiteral("NAME NUMBER MEMO ACCOUNT TOTAL"), 5, 5,
                                             [](Context &ctx) { return mapColumns(ctx, db::kReceivablesMapping); }}},
        {QStringLiteral("map-payments"), {QStringLiteral("DATE SUMMARY AMOUNT TIME ACCOUNT NOTE"), 6, 6,
                                          [](Context &ctx) { return mapColumns(ctx, db::kPaymentsMapping); }}},
        {QStringLiteral("import-receivables"), {QStringLiteral("FILE [--sheet NAME] [--dry-run]"), 1, 3,
                                                [](Context &ctx) {
                                                    receivables::ReceivablesImport import(ctx.app, ctx.changes);
                                                    return importWorkbook(ctx, import, QStringLiteral("import-receivables"));
                                                }}},
        {QStringLiteral("import-bank"), {QStringLiteral("FILE [--dry-run]"), 1, 1,
                                         [](Context &ctx) {
                                             payments::BankImport import(ctx.app, ctx.changes);
                                             return importText(ctx, import, QStringLiteral("import-bank"));
                                         }}},
        {QStringLiteral("import-store"), {QStringLiteral("FILE [--dry-run]"), 1, 1,
                                          [](Context &ctx) {
                                              store::StoreImport import(ctx.app, ctx.changes);
                                              return importText(ctx, import, QStringLiteral("import-store"));
                                          }}},
        {QStringLiteral("export-results"), {QStringLiteral("OUT.xlsx"), 1, 1,
                                            [](Context &ctx) {
                                                return exportTo(ctx, results::resultsLayout(), QStringLiteral("export-results"));
                                            }}},
        {QStringLiteral("export-store"), {QStringLiteral("OUT.xlsx"), 1, 1,
                                          [](Context &ctx) {
                                              return exportTo(ctx, store::storeLayout(), QStringLiteral("export-store"));
                                          }}},
        {QStringLiteral("clear-receivables"), {QString(), 0, 0,
                                               [](Context &ctx) {
                                                   return clear(ctx, QStringLiteral("F_AccountData"), QStringLiteral("clear-receivables"));
                                               }}},
        {QStringLiteral("clear-store"), {QString(), 0, 0,
                                         [](Context &ctx) {
                                             return clear(ctx, QStringLiteral("SMdata"), QStringLiteral("clear-store"));
                                         }}},
        {QStringLiteral("find"), {QStringLiteral("[TEXT] [--status unpaid|partial|paid|overpaid]"), 0, 3, find}},
        {QStringLiteral("backup"), {QStringLiteral("FOLDER [--slot 1-6]"), 1, 3,
                                    [](Context &ctx) { return backupOrRestore(ctx, false); }}},
        {QStringLiteral("restore"), {QStringLiteral("FOLDER --slot 1-6"), 3, 3,
                                     [](Context &ctx) { return backupOrRestore(ctx, true); }}},
        {QStringLiteral("history"), {QString(), 0, 0, history}},
        {QStringLiteral("refresh-index"), {QString(), 0, 0, refreshIndex}},
        {QStringLiteral("server-init"), {QString(), 0, 0, serverInit}},
        {QStringLiteral("server-copy"), {QString(), 0, 0, serverCopy}},
        {QStringLiteral("problems"), {QStringLiteral("ID"), 1, 1, problems}},
        {QStringLiteral("undo"), {QString(), 0, 0, undo}},
        {QStringLiteral("report"), {QStringLiteral("OUT.pdf [--date yyyy-MM-dd]"), 1, 3, report}},
        {QStringLiteral("import-payments"), {QStringLiteral("FILE [--sheet NAME] [--dry-run]"), 1, 3,
                                             [](Context &ctx) {
                                                 payments::PaymentsImport import(ctx.app, ctx.changes);
                                                 return importWorkbook(ctx, import, QStringLiteral("import-payments"));
                                             }}},
    };
    return table;
}

void printUsage(QTextStream &to)
{
    to << "usage: talvesk-batch [--app-dir DIR] COMMAND ARGS..." << Qt::endl << "commands:" << Qt::endl;
    for (const auto &[name, command] : commands())
        to << "  " << name << (command.synopsis.isEmpty() ? QString() : u' ' + command.synopsis) << Qt::endl;
}

int usage(QTextStream &err, const QString &problem)
{
    err << problem << Qt::endl;
    printUsage(err);
    return kBatchUsage;
}

} // namespace

int runBatch(const QStringList &arguments, const QString &defaultAppDir, QTextStream &out,
             QTextStream &err, const std::function<bool(const QString &path)> &onShare)
{
    QStringList args = arguments;
    QString appDir = defaultAppDir;
    if (!args.isEmpty() && args.front() == QStringLiteral("--app-dir")) {
        if (args.size() < 2)
            return usage(err, QStringLiteral("--app-dir needs a folder"));
        appDir = args.at(1);
        args = args.mid(2);
    }
    if (args.isEmpty())
        return usage(err, QStringLiteral("no command given"));
    if (args == QStringList{QStringLiteral("--help")}) {
        printUsage(out);
        out << server::describeDatabase(AppFolder(appDir)) << Qt::endl;
        return kBatchOk;
    }

    const auto found = commands().find(args.front());
    if (found == commands().end())
        return usage(err, QStringLiteral("unknown command: ") + args.front());
    const Command &command = found->second;
    args.pop_front();
    db::Changes changes = db::Changes::Keep;
    if (kDryRunCommands.contains(found->first) && args.removeOne(QStringLiteral("--dry-run")))
        changes = db::Changes::DryRun;
    if (args.size() < command.minArguments || args.size() > command.maxArguments)
        return usage(err, found->first + QStringLiteral(" takes: ") + command.synopsis);

    Context ctx{AppFolder(appDir), args, out, err, changes};
    // Told on standard error: a job's standard output keeps its lines.
    if (!kWithoutDeskDatabase.contains(found->first))
        if (const std::optional<QString> warning = server::networkShareWarning(ctx.app, onShare))
            err << warning.value() << Qt::endl;
    const int code = command.run(ctx);
    // What a job reads from standard output must all be there: a full disk or a file-size limit
    // on its redirection fails the command instead of cutting its lines off unseen.
    out.flush();
    if (out.status() != QTextStream::Ok) {
        const QIODevice *device = out.device();
        const QString why = device && !device->errorString().isEmpty() ? device->errorString() : QStringLiteral("寫入失敗");
        err << QStringLiteral("無法寫出結果到標準輸出：") << why << Qt::endl;
        return kBatchFailed;
    }
    return code;
}

} // namespace talvesk::shell
