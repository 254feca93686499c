#include "payments/BankImport.h"

#include "db/BatchedChanges.h"
#include "db/Connection.h"
#include "payments/Amounts.h"
#include "payments/PaymentWriter.h"
#include "platform/Error.h"
#include "platform/Files.h"

namespace talvesk::payments {

using namespace textimport;

TextImportCounts BankImport::run(const QString &path, const TextImportObserver &observer)
{
    platform::removeFileIfExists(app_.errorLogFile());
    platform::Database db = openDatabaseForTextImport(app_);
    platform::TextLineReader reader(path);

    PaymentWriter payments(db, true);

    return withErrorLog(app_, db, observer, [&](ErrorLog &log, db::BatchedChanges &batch, TextImportCounts &counts) {
        platform::TextLine line;
        while (reader.next(line)) {
            const bool blank = line.blank();
            if (line.bytes.contains('\0')) {
                log.add(line, kNulLineReason);
                ++counts.abnormal;
            } else if (!line.decoded) {
                log.add(line, QStringLiteral("無法以 Big5 解碼"));
                ++counts.abnormal;
            } else if (const QStringView amountField = field(line.text, 23, 11); !isDigitsAndBlanks(amountField)) {
                log.add(line, QStringLiteral("金額欄位不是數字"));
                ++counts.abnormal;
            } else {
                const QStringView date = field(line.text, 12, 7).trimmed();
                const QStringView amount = fixedAmountText(amountField);
                const QStringView account = field(line.text, 48, 25).trimmed();
                if (payments.apply(account, date, amount)) {
                    ++counts.applied;
                } else if (!blank) {
                    log.add(line, QStringLiteral("沒有此虛擬帳號的應收帳款"));
                    ++counts.abnormal;
                }
            }
            batch.rowDone();
            if (observer.lineDone)
                observer.lineDone(counts);
        }
    });
}

} // namespace talvesk::payments
