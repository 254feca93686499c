#include "payments/PaymentsImport.h"

#include "db/BatchedChanges.h"
#include "db/Connection.h"
#include "db/Mapping.h"
#include "payments/Amounts.h"
#include "platform/Workbook.h"

namespace talvesk::payments {

receivables::ImportCounts PaymentsImport::run(const QString &workbookPath, const QString &sheetName,
                                              const receivables::ImportObserver &observer)
{
    platform::Database db = db::openDatabase(app_);
    const QStringList mapping = db::readMapping(db, db::kPaymentsMapping);
    const QString dateColumn = mapping.at(0), amountColumn = mapping.at(2), accountColumn = mapping.at(4);
    const auto opened = receivables::openSheetToImport(workbookPath, sheetName, observer);
    platform::Worksheet *sheet = opened.sheet.get();
    const qint64 usedRows = opened.usedRows;

    auto lookup = db.prepare("SELECT Total FROM F_AccountData WHERE Bankcode = ?1 LIMIT 1");
    auto update = db.prepare(
        "UPDATE F_AccountData SET PayDate = ?1, PayTotal = ?2, N_PayTotal = ?3 WHERE Bankcode = ?4");

    receivables::ImportCounts counts;
    db::BatchedChanges batch(db);
    for (qint64 row = 2; row <= usedRows; ++row) {
        QString date;
        if (!dateColumn.isEmpty()) {
            const platform::CellValue cell = sheet->cell(row, dateColumn);
            date = cell.kind == platform::CellValue::Kind::Error ? platform::cellText(*sheet, row, dateColumn)
                                                                 : payDateText(cell);
        }
        const QString amount = amountColumn.isEmpty() ? QStringLiteral("0") : platform::cellText(*sheet, row, amountColumn);
        const QString account = accountColumn.isEmpty() ? QString() : platform::cellText(*sheet, row, accountColumn);

        bool known = false;
        batch.row([&] {
            lookup.bind(1, account);
            known = lookup.next();
            const QString total = known ? lookup.text(0) : QString();
            lookup.reset();
            if (!known)
                return;
            const double outstanding = leadingNumber(total, false) - leadingNumber(amount, false);
            update.bind(1, date).bind(2, amount).bind(3, outstandingText(outstanding)).bind(4, account);
            update.run();
            update.reset();
        });
        if (known)
            ++counts.written;
        else
            ++counts.notProcessed;
        if (observer.rowDone)
            observer.rowDone(row, counts);
    }
    return counts;
}

} // namespace talvesk::payments
