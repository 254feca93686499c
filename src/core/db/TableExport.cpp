#include "db/TableExport.h"

#include "workbook/Workbook.h"

#include "db/Connection.h"
#include "db/Journal.h"
#include "db/SafetyCopy.h"
#include "db/Tables.h"
#include "platform/Files.h"
#include "platform/Error.h"
#include "workbook/XlsxWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <stdexcept>

namespace talvesk::db {

QString cutCellsNote(const ExportResult &result)
{
    if (result.cutCells == 0)
        return QString();
    return QStringLiteral("有 %1 個儲存格超過 32767 個字元，已截斷（第一個在第 %2 列 %3 欄）")
        .arg(result.cutCells)
        .arg(result.firstCutRow)
        .arg(result.firstCutColumn);
}

ExportResult exportTable(const platform::AppFolder &app, const TableLayout &layout, const QString &path,
                   const std::function<void(qint64, qint64)> &progress, const RowFilter &filter)
{
    if (!layout.amounts.empty() && !layout.amountValue)
        throw std::logic_error("an export's layout names amounts but not how to read them");
    platform::Database db = openDatabase(app, Reach::DeskOrServer);
    if (filter.prepare)
        filter.prepare(db);
    // The count and the rows read as one moment left the tables, whatever other desks write.
    const platform::ReadTransaction reading(db);
    const std::string table = layout.table.toStdString();
    const std::string where = filter.where.empty() ? std::string() : " WHERE " + filter.where;
    auto bindFilter = [&](platform::Statement &statement) {
        for (int i = 0; i < filter.values.size(); ++i)
            statement.bind(i + 1, filter.values.at(i));
    };
    auto count = db.prepare("SELECT count(*) FROM " + table + where);
    bindFilter(count);
    count.next();
    const qint64 total = count.text(0).toLongLong();
    if (total + 1 > workbook::XlsxWriter::kMaxRows)
        throw platform::Error(platform::errnum::Overflow,
                              QStringLiteral("Overflow: 資料表有 %1 筆,超過 Excel 工作表 %2 列的上限,未匯出")
                                  .arg(total)
                                  .arg(workbook::XlsxWriter::kMaxRows - 1));

    workbook::XlsxWriter out(path, QString(), layout.sheetName);
    for (int c = 0; c < layout.captions.size(); ++c)
        out.text(0, c, layout.captions.at(c));

    auto rows = db.prepare("SELECT " + layout.columns.join(u',').toStdString() + " FROM " + table + where
                           + " ORDER BY rowid");
    bindFilter(rows);
    ExportResult result;
    qint64 &row = result.rows;
    while (rows.next()) {
        ++row;
        for (int c = 0; c < layout.columns.size(); ++c) {
            const QString value = rows.text(c);
            if (value.isEmpty())
                continue;
            std::optional<double> amount;
            if (layout.amounts.count(c))
                amount = layout.amountValue(value);
            if (amount) {
                out.number(row, c, *amount);
            } else if (out.text(row, c, value) && result.cutCells++ == 0) {
                result.firstCutRow = row + 1;
                result.firstCutColumn = workbook::columnLetters(c);
            }
        }
        if (progress)
            progress(row, total);
    }
    out.finish();
    return result;
}

QString exportPath(const QString &prefix, const QDateTime &when)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    QDir().mkpath(folder);
    const QString stem = folder + u'/' + prefix + u'_' + when.toString(QStringLiteral("yyyyMMdd_HHmmss"));
    QString path = stem + QStringLiteral(".xlsx");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = stem + QStringLiteral(" (%1).xlsx").arg(n);
    return path;
}

QString clearTable(const platform::AppFolder &app, const QString &table)
{
    // Held from the safety copy to the deletion, so the copy holds every row deleted: the file
    // locked whole, or the server's writing lock.
    const bool onServer = usesServer(app);
    if (!onServer) {
        // As root the engine would write a file the operator marked read-only.
        platform::refuseReadOnlyFile(app.databaseFile());
    }
    platform::Database db = onServer ? openDatabaseToWrite(app) : openDatabase(app);
    if (!onServer)
        db.lockExclusively();
    const QString safetyCopy = safetyCopyFile(
        app, table.compare(kStoreTable, Qt::CaseInsensitive) == 0 ? kBeforeClearStore : kBeforeClearReceivables);
    writeSafetyCopy(db, app, safetyCopy);
    JournalEntry journal(db,
                         table.compare(kStoreTable, Qt::CaseInsensitive) == 0 ? QStringLiteral("clear-store")
                                                                              : QStringLiteral("clear-receivables"),
                         QString());
    qint64 deleted = 0;
    try {
        platform::Transaction transaction(db);
        // Still one transaction, in slices, so that what undoing needs is written as it gathers
        // instead of held in memory for the whole table. The name is one of the program's own
        // tables (the callers pass kReceivablesTable or kStoreTable): a name cannot be bound.
        constexpr qint64 kRowsPerSlice = 20000;
        const std::string name = table.toStdString();
        platform::Statement sliceEnd =
            db.prepare("SELECT max(rowid) FROM (SELECT rowid FROM " + name + " ORDER BY rowid LIMIT ?1) AS slice");
        platform::Statement slice = db.prepare("DELETE FROM " + name + " WHERE rowid <= ?1");
        while (sliceEnd.bind(1, kRowsPerSlice).next() && !sliceEnd.isNull(0)) {
            const qint64 last = sliceEnd.integer(0);
            sliceEnd.reset();
            slice.bind(1, last);
            slice.run();
            slice.reset();
            deleted += slice.changes();
            journal.flush();
        }
        transaction.commit();
    } catch (const platform::Error &) {
        // All or nothing: the entry is closed as a clearing that deleted nothing, so that an undo
        // passes over it instead of being blocked by it.
        journal.failed();
        journal.closeQuietly(QStringLiteral("failed after 0 deleted"));
        throw;
    }
    journal.closeQuietly(QStringLiteral("%1 deleted").arg(deleted));
    return safetyCopy;
}

qint64 countRows(const platform::AppFolder &app, const QString &table)
{
    // The name goes into the statement's text, so only the program's own tables are counted.
    if (!programTables().contains(table, Qt::CaseInsensitive))
        throw platform::Error(5, QStringLiteral("不是本程式的資料表: ") + table);
    platform::Database db = openDatabase(app, Reach::DeskOrServer);
    platform::Statement count = db.prepare("SELECT COUNT(*) FROM " + table.toStdString());
    return count.next() ? count.text(0).toLongLong() : 0;
}

} // namespace talvesk::db
