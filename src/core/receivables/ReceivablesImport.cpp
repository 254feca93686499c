#include "receivables/ReceivablesImport.h"

#include "db/BatchedChanges.h"
#include "db/Journal.h"
#include "platform/Files.h"
#include "db/Connection.h"
#include "db/Mapping.h"
#include "platform/Workbook.h"

namespace talvesk::receivables {

using namespace workbookimport;

namespace {
constexpr int kAccountItem = db::receivablesItem::Account;
const int kItems = db::kReceivablesMapping.count();
} // namespace

QStringList ReceivablesImport::shownFields() const
{
    QStringList fields;
    for (const db::MappingItem &item : db::kReceivablesMapping.items)
        fields << item.caption;
    return fields;
}

ImportCounts ReceivablesImport::run(const QString &workbookPath, const QString &sheetName, const ImportObserver &observer)
{
    platform::Database db = db::openDatabaseFor(app_, changes_, observer.stopRequested);
    const QStringList mapping = db::readMapping(db, db::kReceivablesMapping);
    requireMappedAccount(mapping.at(kAccountItem), db::kReceivablesMapping.items[kAccountItem].caption);
    const auto opened = workbookimport::openSheetToImport(workbookPath, sheetName, observer);
    platform::Worksheet &sheet = *opened.sheet;

    auto lookup = db.prepare("SELECT 1 FROM F_AccountData WHERE Bankcode = ?1 LIMIT 1");
    auto insert = db.prepare("INSERT INTO F_AccountData VALUES (?1, ?2, ?3, ?4, ?5, '', '', '', '')");
    auto update = db.prepare(
        "UPDATE F_AccountData SET UserName = ?1, UserNum = ?2, Memo = ?3, Total = ?5 WHERE Bankcode = ?4");
    const db::JournalOperation journal{QStringLiteral("import-receivables"), platform::absolutePath(workbookPath)};

    return db::runInBatches<ImportCounts>(db, [&](db::BatchedChanges &batch, ImportCounts &counts) {
        QStringList values(kItems);
        for (qint64 row = sheet.nextUsedRow(2); row > 0; row = sheet.nextUsedRow(row + 1)) {
            for (int i = 0; i < kItems; ++i)
                values[i] = mapping.at(i).isEmpty() ? QString() : platform::cellText(sheet, row, mapping.at(i));
            if (allEmpty(values))
                continue;
            QString outcome = db::kLeftAlone;
            if (values.at(kAccountItem).isEmpty()) {
                // A total line or a row without its account: no receivable can be kept under it.
                ++counts.notProcessed;
                batch.problem(row, kNoAccountReason, rowText(values));
            } else if (holdsNul(values)) {
                counts.refuse(row, kNulReason);
                batch.problem(row, kNulReason, rowText(values));
                outcome = kNulReason;
            } else {
                lookup.bind(1, values.at(kAccountItem));
                const bool known = lookup.next();
                lookup.reset();
                platform::Statement &write = known ? update : insert;
                for (int i = 0; i < kItems; ++i)
                    write.bind(i + 1, values.at(i));
                write.run();
                write.reset();
                ++counts.written;
                ++(known ? counts.updated : counts.inserted);
                outcome = known ? db::kUpdatedRow : db::kNewRow;
            }
            if (observer.rowShown)
                observer.rowShown({row, values, outcome});
            batch.rowDone();
            if (observer.rowDone)
                observer.rowDone(row, counts);
        }
    }, observer.stopped, 50000, changes_, journal);
}

} // namespace talvesk::receivables
