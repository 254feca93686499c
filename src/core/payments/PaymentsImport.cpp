#include "payments/PaymentsImport.h"

#include "db/BatchedChanges.h"
#include "db/Journal.h"
#include "platform/Files.h"
#include "db/Connection.h"
#include "db/Mapping.h"
#include "payments/Amounts.h"
#include "payments/PaymentWriter.h"
#include "workbook/Workbook.h"
#include "workbookimport/ReadAhead.h"

namespace talvesk::payments {

namespace {
using namespace db::paymentItem;
} // namespace

workbookimport::ImportCounts PaymentsImport::run(const QString &workbookPath, const QString &sheetName,
                                              const workbookimport::ImportObserver &observer)
{
    platform::Database db = db::openDatabaseFor(app_, changes_, observer.stopRequested, db::Reach::DeskOrServer);
    const QStringList mapping = db::readMapping(db, db::kPaymentsMapping);
    const QString dateColumn = mapping.at(Date), amountColumn = mapping.at(Amount), accountColumn = mapping.at(Account);
    workbookimport::requireMappedAccount(accountColumn, db::kPaymentsMapping.items[Account].caption);
    const auto opened = workbookimport::openSheetToImport(workbookPath, sheetName, observer);
    workbook::Worksheet &sheet = *opened.sheet;

    // A row without an account matches nothing: rows a receivables import once stored under an
    // empty account are not paid by total lines or stray cells.
    PaymentWriter payments(db, false);
    QString outstanding;
    auto applyPayment = [&](const QString &account, const QString &date, const QString &amount) {
        return account.isEmpty() ? Applied() : payments.apply(account, date, amount, &outstanding);
    };

    const db::JournalOperation journal{QStringLiteral("import-payments"), platform::absolutePath(workbookPath)};
    using Counts = workbookimport::ImportCounts;
    // A row's date, amount and account as the worksheet holds them.
    struct Cells {
        QString date, amount, account;
    };
    auto readCells = [&](workbook::Worksheet &worksheet, qint64 row, Cells &cells) {
        if (!dateColumn.isEmpty()) {
            const workbook::CellValue cell = worksheet.cell(row, dateColumn);
            cells.date = cell.kind == workbook::CellValue::Kind::Error ? workbook::cellText(worksheet, row, dateColumn)
                                                                       : payDateText(cell);
        }
        if (!amountColumn.isEmpty())
            cells.amount = workbook::cellText(worksheet, row, amountColumn);
        cells.account = workbook::cellText(worksheet, row, accountColumn);
    };
    return db::runInBatches<Counts>(db, [&](db::BatchedChanges &batch, Counts &counts) {
        workbookimport::ReadAhead<Cells> rows(sheet, readCells);
        qint64 row = 0;
        while (const Cells *cells = rows.next(row)) {
            const QString &date = cells->date, &amountCell = cells->amount, &account = cells->account;
            if (date.isEmpty() && amountCell.isEmpty() && account.isEmpty())
                continue;
            const QString amount = amountColumn.isEmpty() ? QStringLiteral("0") : amountCell;

            QString outcome = db::kLeftAlone;
            outstanding.clear();
            if (workbookimport::holdsNul({date, amount, account})) {
                counts.refuse(row, workbookimport::kNulReason);
                batch.problem(row, workbookimport::kNulReason, workbookimport::rowText({date, amountCell, account}));
                outcome = workbookimport::kNulReason;
            } else if (const Applied applied = applyPayment(account, date, amount)) {
                ++counts.written;
                ++counts.updated;
                counts.unchanged += !applied.changed;
                counts.paidChanged += applied.changed && applied.hadPayment;
                outcome = applied.changed ? db::kUpdatedRow : db::kUnchangedRow;
            } else {
                ++counts.notProcessed;
                batch.problem(row, account.isEmpty() ? workbookimport::kNoAccountReason : kNoReceivableReason,
                              workbookimport::rowText({date, amountCell, account}));
            }
            if (observer.rowShown)
                observer.rowShown({row, {account, date, amount, outstanding}, outcome});
            batch.rowDone();
            if (observer.rowDone)
                observer.rowDone(row, counts);
            platform::stopIfRequested(observer.stopRequested);
        }
    }, observer.stopped, 50000, changes_, journal);
}

} // namespace talvesk::payments
