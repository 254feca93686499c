#include "payments/BankImport.h"

#include "db/BatchedChanges.h"
#include "db/Journal.h"
#include "db/Connection.h"
#include "payments/Amounts.h"
#include "payments/PaymentWriter.h"
#include "platform/Error.h"
#include "platform/Files.h"

namespace talvesk::payments {

using namespace textimport;

TextImportCounts BankImport::run(const QString &path, const TextImportObserver &observer)
{
    if (changes_ == db::Changes::Keep)
        platform::removeFileIfExists(app_.errorLogFile());
    platform::Database db = openDatabaseForTextImport(app_);
    platform::TextLineReader reader(path);

    PaymentWriter payments(db, true);
    const db::JournalOperation journal{QStringLiteral("import-bank"), platform::absolutePath(path)};

    return withErrorLog(app_, db, observer, changes_, journal, [&](ErrorLog &log, db::BatchedChanges &batch, TextImportCounts &counts) {
        platform::TextLine line;
        QString outstanding;
        auto abnormal = [&](const QString &reason) {
            log.add(line, reason);
            ++counts.abnormal;
            return reason;
        };
        while (reader.next(line)) {
            const bool blank = line.blank();
            QString outcome;
            QStringView date, amount, account; // views of the line, until the next
            outstanding.clear();
            if (line.bytes.contains('\0')) {
                outcome = abnormal(kNulLineReason);
            } else if (!line.decoded) {
                outcome = abnormal(QStringLiteral("無法以 Big5 解碼"));
            } else if (const QStringView amountField = field(line.text, 23, 11); !isDigitsAndBlanks(amountField)) {
                outcome = abnormal(QStringLiteral("金額欄位不是數字"));
            } else {
                date = field(line.text, 12, 7).trimmed();
                amount = fixedAmountText(amountField);
                account = field(line.text, 48, 25).trimmed();
                if (payments.apply(account, date, amount, observer.lineShown ? &outstanding : nullptr)) {
                    ++counts.applied;
                    ++counts.updated;
                    outcome = db::kUpdatedRow;
                } else if (!blank) {
                    outcome = abnormal(kNoReceivableReason);
                }
            }
            if (observer.lineShown && !outcome.isEmpty())
                observer.lineShown(
                    {line.number, {account.toString(), date.toString(), amount.toString(), outstanding}, outcome});
            batch.rowDone();
            if (observer.lineDone)
                observer.lineDone(counts);
        }
    });
}

} // namespace talvesk::payments
