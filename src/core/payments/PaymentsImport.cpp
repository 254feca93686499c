#include "payments/PaymentsImport.h"

#include "db/BatchedChanges.h"
#include "db/Connection.h"
#include "db/Mapping.h"
#include "payments/Amounts.h"
#include "platform/Workbook.h"

namespace talvesk::payments {

namespace {
// The mapping's items: date, summary, amount, time, account, note.
constexpr int kDateItem = 0;
constexpr int kAmountItem = 2;
constexpr int kAccountItem = 4;
} // namespace

workbookimport::ImportCounts PaymentsImport::run(const QString &workbookPath, const QString &sheetName,
                                              const workbookimport::ImportObserver &observer)
{
    platform::Database db = db::openDatabase(app_);
    const QStringList mapping = db::readMapping(db, db::kPaymentsMapping);
    const QString dateColumn = mapping.at(kDateItem), amountColumn = mapping.at(kAmountItem),
                  accountColumn = mapping.at(kAccountItem);
    workbookimport::requireMappedAccount(accountColumn, QStringLiteral("虛擬帳號"));
    const auto opened = workbookimport::openSheetToImport(workbookPath, sheetName, observer);
    platform::Worksheet &sheet = *opened.sheet;

    auto lookup = db.prepare("SELECT Total FROM F_AccountData WHERE Bankcode = ?1 LIMIT 1");
    auto update = db.prepare(
        "UPDATE F_AccountData SET PayDate = ?1, PayTotal = ?2, N_PayTotal = ?3 WHERE Bankcode = ?4");

    // A row without an account matches nothing: rows a receivables import once stored under an
    // empty account are not paid by total lines or stray cells.
    auto applyPayment = [&](const QString &account, const QString &date, const QString &amount) {
        if (account.isEmpty())
            return false;
        lookup.bind(1, account);
        const bool known = lookup.next();
        const QString total = known ? lookup.text(0) : QString();
        const bool noTotal = known && lookup.isNull(0);
        lookup.reset();
        if (known) {
            const double outstanding = receivableTotal(total, noTotal, account, false) - leadingNumber(amount, false);
            update.bind(1, date).bind(2, amount).bind(3, outstandingText(outstanding)).bind(4, account);
            update.run();
            update.reset();
        }
        return known;
    };

    using Counts = workbookimport::ImportCounts;
    return db::runInBatches<Counts>(db, [&](db::BatchedChanges &batch, Counts &counts) {
        for (qint64 row = sheet.nextUsedRow(2); row > 0; row = sheet.nextUsedRow(row + 1)) {
            QString date;
            if (!dateColumn.isEmpty()) {
                const platform::CellValue cell = sheet.cell(row, dateColumn);
                date = cell.kind == platform::CellValue::Kind::Error ? platform::cellText(sheet, row, dateColumn)
                                                                     : payDateText(cell);
            }
            const QString amountCell = amountColumn.isEmpty() ? QString() : platform::cellText(sheet, row, amountColumn);
            const QString account = platform::cellText(sheet, row, accountColumn);
            if (date.isEmpty() && amountCell.isEmpty() && account.isEmpty())
                continue;
            const QString amount = amountColumn.isEmpty() ? QStringLiteral("0") : amountCell;

            if (workbookimport::holdsNul({date, amount, account})) {
                counts.refuse(row, workbookimport::kNulReason);
            } else if (applyPayment(account, date, amount)) {
                ++counts.written;
            } else {
                ++counts.notProcessed;
            }
            batch.rowDone();
            if (observer.rowDone)
                observer.rowDone(row, counts);
        }
    }, observer.stopped);
}

} // namespace talvesk::payments
