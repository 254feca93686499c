#include "payments/BankImport.h"

#include "db/BatchedChanges.h"
#include "db/Connection.h"
#include "payments/Amounts.h"
#include "platform/Error.h"
#include "platform/Files.h"

namespace talvesk::payments {

using namespace textimport;

TextImportCounts BankImport::run(const QString &path, const TextImportObserver &observer)
{
    platform::removeFileIfExists(app_.errorLogFile());
    platform::Database db = openDatabaseForTextImport(app_);
    platform::TextLineReader reader(path);

    // The first two rows of the account: the first one's Total counts, and an account held by one
    // row only (the usual case) is updated by its row id, which spares a second index search.
    auto lookup = db.prepare("SELECT rowid, Total FROM F_AccountData WHERE Bankcode = ?1 LIMIT 2");
    auto update = db.prepare(
        "UPDATE F_AccountData SET PayDate = ?1, PayTotal = ?2, N_PayTotal = ?3 WHERE Bankcode = ?4");
    auto updateRow = db.prepare(
        "UPDATE F_AccountData SET PayDate = ?1, PayTotal = ?2, N_PayTotal = ?3 WHERE rowid = ?4");

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
            } else if (const QString amountField = field(line.text, 23, 11); !isDigitsAndBlanks(amountField)) {
                log.add(line, QStringLiteral("金額欄位不是數字"));
                ++counts.abnormal;
            } else {
                const QString date = field(line.text, 12, 7).trimmed();
                const QString amount = fixedAmountText(amountField);
                const QString account = field(line.text, 48, 25).trimmed();
                lookup.bind(1, account);
                const bool known = lookup.next();
                const QString rowid = known ? lookup.text(0) : QString();
                const QString total = known ? lookup.text(1) : QString();
                const bool noTotal = known && lookup.isNull(1);
                const bool onlyRow = known && !lookup.next();
                lookup.reset();
                if (known) {
                    const double outstanding = receivableTotal(total, noTotal, account, true) - leadingNumber(amount, true);
                    platform::Statement &write = onlyRow ? updateRow : update;
                    write.bind(1, date).bind(2, amount).bind(3, outstandingText(outstanding)).bind(4, onlyRow ? rowid : account);
                    write.run();
                    write.reset();
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
