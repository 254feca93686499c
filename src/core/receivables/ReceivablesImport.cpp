#include "receivables/ReceivablesImport.h"

#include "db/BatchedChanges.h"
#include "db/Journal.h"
#include "db/JournalRows.h"
#include "platform/Files.h"
#include "db/Connection.h"
#include "db/Mapping.h"
#include "payments/Amounts.h"
#include "workbook/Workbook.h"
#include "workbookimport/ReadAhead.h"

#include <QHash>

#include <algorithm>
#include <utility>
#include <vector>

namespace talvesk::receivables {

using namespace workbookimport;

namespace {
constexpr int kAccountItem = db::receivablesItem::Account;
constexpr int kTotalItem = db::receivablesItem::Amount;
const int kItems = db::kReceivablesMapping.count();

// A row as the reading thread hands it over: its values, and whether it holds nothing or a NUL,
// worked out there so the writing thread, the busier one, only writes.
struct ReadRow {
    QStringList values;
    bool empty = false;
    bool nul = false;
    quint64 accountHash = 0; // InsertedAccounts::hashOf the account
};

// The accounts an import has inserted into a table that held no receivable when it began, as a
// Bloom filter (2 MB; four bits an account, all in one word, so asking costs one memory read):
// while no other program has written, an account the filter has never seen is in no row, and its
// lookup can be skipped. An account it may have seen is looked up as before, so the filter only
// ever saves work; at a million accounts about one in a hundred is looked up for nothing.
class InsertedAccounts {
public:
    // Of the account as it is stored: a lone surrogate (only an .xls can hold one) is stored as
    // the UTF-8 replacement, which another account may be stored as too.
    static quint64 hashOf(const QString &account)
    {
        const bool lone = std::any_of(account.begin(), account.end(), [](QChar c) { return c.isSurrogate(); });
        return qHash(lone ? QString::fromUtf8(account.toUtf8()) : account, std::size_t(0x9E3779B97F4A7C15ull));
    }
    void add(quint64 accountHash)
    {
        const auto [word, bits] = place(accountHash);
        words_[word] |= bits;
    }
    bool mayHold(quint64 accountHash) const
    {
        const auto [word, bits] = place(accountHash);
        return (words_[word] & bits) == bits;
    }

private:
    static constexpr quint64 kWords = quint64(1) << 18;
    static std::pair<quint64, quint64> place(quint64 hash)
    {
        quint64 bits = 0;
        for (int i = 0; i < 4; ++i)
            bits |= quint64(1) << ((hash >> (18 + 6 * i)) & 63);
        return {hash & (kWords - 1), bits};
    }
    std::vector<quint64> words_ = std::vector<quint64>(kWords);
};
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
    platform::Database db = db::openDatabaseFor(app_, changes_, observer.stopRequested, db::Reach::DeskOrServer);
    const QStringList mapping = db::readMapping(db, db::kReceivablesMapping);
    requireMappedAccount(mapping.at(kAccountItem), db::kReceivablesMapping.items[kAccountItem].caption);
    const auto opened = workbookimport::openSheetToImport(workbookPath, sheetName, observer);
    workbook::Worksheet &sheet = *opened.sheet;

    // Every row of the account, with what a payment wrote into it and what the import would write.
    auto lookup = db.prepare("SELECT rowid, PayTotal, N_PayTotal, PayDate, UserName, UserNum, Memo, Total "
                             "FROM F_AccountData WHERE Bankcode = ?1");
    // (On the server new rows go on in bulk while the next ones are read: a lookup or a commit
    // that comes after them waits until they are stored.)
    platform::RowInserter insert(db, "F_AccountData", {"UserName", "UserNum", "Memo", "Bankcode", "Total"},
                                 {"PayDate", "PayTotal", "N_PayTotal", "Spare"});
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
        // Asked before the reading thread has the sheet: a sheet is read by one thread at a time.
        // (A short sheet's few lookups cost less than the filter of inserted accounts below.)
        const bool manyRows = sheet.lastUsedRow() >= 1000;
        ReadAhead<ReadRow> rows(sheet, [&mapping](workbook::Worksheet &worksheet, qint64 row, ReadRow &into) {
            into.values.resize(kItems);
            for (int i = 0; i < kItems; ++i)
                into.values[i] = mapping.at(i).isEmpty() ? QString() : workbook::cellText(worksheet, row, mapping.at(i));
            into.empty = allEmpty(into.values);
            into.nul = !into.empty && holdsNul(into.values);
            into.accountHash = InsertedAccounts::hashOf(into.values.at(kAccountItem));
        });
        // Into an empty table (the first import of a term), every account is new unless this
        // import inserted it: the lookups are skipped while no other program has written. That is
        // asked again in each new transaction, before it reads or writes anything.
        std::optional<InsertedAccounts> inserted;
        qint64 version = 0, commitsSeen = 0;
        if (manyRows && db::journal::firstInteger(db, "SELECT count(*) FROM (SELECT 1 FROM F_AccountData LIMIT 1) AS first") == 0) {
            version = db::journal::dataVersion(db);
            inserted.emplace();
        }
        qint64 row = 0;
        while (ReadRow *read = rows.next(row)) {
            if (inserted && batch.commits() != commitsSeen) {
                commitsSeen = batch.commits();
                if (db::journal::dataVersion(db) != version)
                    inserted.reset();
            }
            const QStringList &values = read->values;
            if (read->empty)
                continue;
            QString outcome = db::kLeftAlone;
            if (values.at(kAccountItem).isEmpty()) {
                // A total line or a row without its account: no receivable can be kept under it.
                ++counts.notProcessed;
                batch.problem(row, kNoAccountReason, rowText(values));
            } else if (read->nul) {
                counts.refuse(row, kNulReason);
                batch.problem(row, kNulReason, rowText(values));
                outcome = kNulReason;
            } else {
                found.clear();
                bool paid = false;
                // Otherwise the account is in no row: nothing to look up.
                const bool lookUp = !inserted || inserted->mayHold(read->accountHash);
                if (lookUp)
                    lookup.bind(1, values.at(kAccountItem));
                while (lookUp && lookup.next()) {
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
                    insert.insert(values);
                    if (inserted)
                        inserted->add(read->accountHash);
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
        // A dry run is rolled back, not committed: its rows are stored first, so that one the
        // database refuses fails it as it fails the real run.
        insert.finish();
    }, observer.stopped, 50000, changes_, journal);
}

} // namespace talvesk::receivables
