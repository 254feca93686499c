#include "payments/BankImport.h"

#include "db/BatchedChanges.h"
#include "db/Journal.h"
#include "db/Connection.h"
#include "payments/Amounts.h"
#include "payments/PaymentWriter.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <array>
#include <exception>

namespace talvesk::payments {

using namespace textimport;

TextImportCounts BankImport::run(const QString &path, const TextImportObserver &observer)
{
    if (changes_ == db::Changes::Keep)
        platform::removeFileIfExists(app_.errorLogFile());
    platform::Database db = openDatabaseForTextImport(app_, changes_, observer.stopRequested);
    platform::TextLineReader reader(path);

    PaymentWriter single(db, true);
    const db::JournalOperation journal{QStringLiteral("import-bank"), platform::absolutePath(path)};

    return withErrorLog(app_, db, observer, changes_, journal, [&](ErrorLog &log, db::BatchedChanges &batch, TextImportCounts &counts) {
        // The lines read but not yet reported: their payments are written together, then the
        // lines are reported in order as if each had been written on its own.
        struct Waiting {
            platform::TextLine line;
            QString abnormal;  // why the line is not applied, when its form says so
            int payment = -1;  // its payment in `payments`, when it has one
            QStringView date, amount, account; // views of the line
        };
        std::array<Waiting, PaymentBatch::kSize> waiting;
        int read = 0;
        PaymentBatch payments(db, single);

        auto report = [&] {
            std::exception_ptr failure;
            try {
                payments.write();
            } catch (const platform::Error &) {
                failure = std::current_exception();
            }
            // The line of the payment that failed is not reported, nor any after it.
            const int failed = failure ? payments.applied() : -1;
            int reported = 0;
            for (; reported < read; ++reported) {
                Waiting &w = waiting[std::size_t(reported)];
                if (failure && w.payment == failed)
                    break;
                QString outcome;
                QString outstanding;
                if (!w.abnormal.isEmpty()) {
                    log.add(w.line, w.abnormal);
                    ++counts.abnormal;
                    outcome = w.abnormal;
                } else if (const Applied applied = payments.outcome(w.payment)) {
                    ++counts.applied;
                    ++counts.updated;
                    counts.unchanged += !applied.changed;
                    counts.paidChanged += applied.changed && applied.hadPayment;
                    outcome = applied.changed ? db::kUpdatedRow : db::kUnchangedRow;
                    if (observer.lineShown)
                        outstanding = payments.outstanding(w.payment);
                } else if (!w.line.blank()) {
                    log.add(w.line, kNoReceivableReason);
                    ++counts.abnormal;
                    outcome = kNoReceivableReason;
                }
                if (observer.lineShown && !outcome.isEmpty())
                    observer.lineShown({w.line.number,
                                        {w.account.toString(), w.date.toString(), w.amount.toString(), outstanding},
                                        outcome});
            }
            // Counted before any of them may be committed, so that a commit stores their counts.
            for (int i = 0; i < reported; ++i) {
                batch.rowDone();
                if (observer.lineDone)
                    observer.lineDone(counts);
                platform::stopIfRequested(observer.stopRequested);
            }
            if (failure)
                std::rethrow_exception(failure);
            payments.clear();
            read = 0;
        };

        for (;;) {
            Waiting *slot = &waiting[std::size_t(read)];
            bool more = false;
            try {
                more = reader.next(slot->line);
            } catch (const platform::Error &) {
                // The file could not be read on: the lines read before are written and reported
                // first, as each was before the next line was read.
                report();
                throw;
            }
            if (!more)
                break;
            Waiting &w = *slot;
            w.abnormal.clear();
            w.payment = -1;
            w.date = w.amount = w.account = QStringView();
            const platform::TextLine &line = w.line;
            if (line.tooLong()) {
                w.abnormal = kTooLongLineReason;
            } else if (line.bytes.contains('\0')) {
                w.abnormal = kNulLineReason;
            } else if (!line.decoded) {
                w.abnormal = QStringLiteral("無法以 Big5 解碼");
            } else if (const QStringView amountField = field(line.text, 23, 11); !isDigitsAndBlanks(amountField)) {
                w.abnormal = QStringLiteral("金額欄位不是數字");
            } else {
                w.date = field(line.text, 12, 7).trimmed();
                w.amount = fixedAmountText(amountField);
                w.account = field(line.text, 48, 25).trimmed();
                if (payments.holds(w.account)) {
                    // The earlier payment to the account is written first; this line then waits
                    // first in line (its views stay valid: the text does not move).
                    const int at = read;
                    report();
                    std::swap(waiting[0], waiting[std::size_t(at)]);
                    slot = &waiting[0];
                }
                slot->payment = payments.size();
                payments.add(slot->account, slot->date, slot->amount);
            }
            if (++read == PaymentBatch::kSize)
                report();
        }
        report();
    });
}

} // namespace talvesk::payments
