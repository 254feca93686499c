#include "receivables/ReceivablesImport.h"

#include "db/BatchedChanges.h"
#include "db/Journal.h"
#include "platform/Files.h"
#include "db/Connection.h"
#include "db/Mapping.h"
#include "payments/Amounts.h"
#include "workbook/Workbook.h"
#include "workbookimport/ReadAhead.h"

#include <algorithm>
#include <vector>

namespace talvesk::receivables {

using namespace workbookimport;

namespace {
constexpr int kAccountItem = db::receivablesItem::Account;
constexpr int kTotalItem = db::receivablesItem::Amount;
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
    workbook::Worksheet &sheet = *opened.sheet;

    // Every row of the account, with what a payment wrote into it and what the import would write.
    auto lookup = db.prepare("SELECT rowid, PayTotal, N_PayTotal, PayDate, UserName, UserNum, Memo, Total "
                             "FROM F_AccountData WHERE Bankcode = ?1");
    auto insert = db.prepare("INSERT INTO F_AccountData VALUES (?1, ?2, ?3, ?4, ?5, '', '', '', '')");
    // The payment's date and amount stay; a row already paid gets its outstanding amount anew
    // from the new Total (NULL in ?6 keeps it), so the stored balance and the one computed from
    // Total and PayTotal never differ.
    auto update = db.prepare("UPDATE F_AccountData SET UserName = ?1, UserNum = ?2, Memo = ?3, Total = ?5, "
                             "N_PayTotal = coalesce(?6, N_PayTotal) WHERE rowid = ?7");
    struct Found {
        qint64 rowid;
        QString outstanding; // null: no payment, nothing to write
        bool same;           // the row already holds every value the update would write
    };
    // Whether column `column` of the row looked up holds `value` (NULL holds no text, not even
    // an empty one: the update would change it).
    auto holds = [&lookup](int column, const QString &value) {
        return !lookup.isNull(column) && lookup.text(column) == value;
    };
    std::vector<Found> found;
    const db::JournalOperation journal{QStringLiteral("import-receivables"), platform::absolutePath(workbookPath)};

    return db::runInBatches<ImportCounts>(db, [&](db::BatchedChanges &batch, ImportCounts &counts) {
        ReadAhead<QStringList> rows(sheet, [&mapping](workbook::Worksheet &worksheet, qint64 row, QStringList &values) {
            values.resize(kItems);
            for (int i = 0; i < kItems; ++i)
                values[i] = mapping.at(i).isEmpty() ? QString() : workbook::cellText(worksheet, row, mapping.at(i));
        });
        qint64 row = 0;
        while (QStringList *read = rows.next(row)) {
            const QStringList &values = *read;
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
                found.clear();
                bool paid = false;
                while (lookup.next()) {
                    QString outstanding;
                    if (!lookup.utf8(2).isEmpty())
                        outstanding = payments::outstandingText(payments::leadingNumber(values.at(kTotalItem), true)
                                                                - payments::leadingNumber(lookup.utf8(1), true));
                    const bool same = holds(4, values.at(0)) && holds(5, values.at(1)) && holds(6, values.at(2))
                                      && holds(7, values.at(kTotalItem))
                                      && (outstanding.isNull() || holds(2, outstanding));
                    paid = paid || !lookup.utf8(1).isEmpty() || !lookup.utf8(3).isEmpty();
                    found.push_back({lookup.integer(0), outstanding, same});
                }
                lookup.reset();
                const bool known = !found.empty();
                // A row that would change nothing is not written again: a workbook imported twice
                // leaves the second time nothing to undo.
                const bool unchanged = known && std::all_of(found.begin(), found.end(), [](const Found &f) { return f.same; });
                if (unchanged)
                    found.clear();
                if (!known) {
                    for (int i = 0; i < kItems; ++i)
                        insert.bind(i + 1, values.at(i));
                    insert.run();
                    insert.reset();
                }
                for (const Found &row : found) {
                    for (int i = 0; i < kItems; ++i)
                        update.bind(i + 1, values.at(i));
                    if (row.outstanding.isNull())
                        update.bindNull(6);
                    else
                        update.bind(6, row.outstanding);
                    update.bind(7, row.rowid);
                    update.run();
                    update.reset();
                }
                ++counts.written;
                ++(known ? counts.updated : counts.inserted);
                if (unchanged)
                    ++counts.unchanged;
                else if (known && paid)
                    ++counts.paidChanged;
                outcome = unchanged ? db::kUnchangedRow : known ? db::kUpdatedRow : db::kNewRow;
            }
            if (observer.rowShown)
                observer.rowShown({row, values, outcome});
            batch.rowDone();
            if (observer.rowDone)
                observer.rowDone(row, counts);
            platform::stopIfRequested(observer.stopRequested);
        }
    }, observer.stopped, 50000, changes_, journal);
}

} // namespace talvesk::receivables
