#include "payments/PaymentWriter.h"

#include "payments/Amounts.h"

namespace talvesk::payments {

PaymentWriter::PaymentWriter(platform::Database &db, bool exponentAmounts)
    // The first two rows of the account: the first one's Total counts, and an account held by one
    // row only (the usual case) is updated by its row id, which spares a second index search.
    : lookup_(db.prepare("SELECT rowid, Total, PayDate, PayTotal, N_PayTotal FROM F_AccountData WHERE Bankcode = ?1 LIMIT 2")),
      update_(db.prepare("UPDATE F_AccountData SET PayDate = ?1, PayTotal = ?2, N_PayTotal = ?3 WHERE Bankcode = ?4")),
      updateRow_(db.prepare("UPDATE F_AccountData SET PayDate = ?1, PayTotal = ?2, N_PayTotal = ?3 WHERE rowid = ?4")),
      // The journal is told what the row's payment columns held, so it need not read the row again.
      declared_(db, "F_AccountData", {"PayDate", "PayTotal", "N_PayTotal"}), exponent_(exponentAmounts)
{
}

QStringList paymentFields()
{
    return {QStringLiteral("虛擬帳號"), QStringLiteral("入帳日期"), QStringLiteral("入帳金額"), QStringLiteral("未入帳金額")};
}

bool PaymentWriter::apply(QStringView account, QStringView date, QStringView amount, QString *writtenOutstanding)
{
    // Whatever happens, the declaration goes with this payment.
    struct Declaration {
        db::DeclaredUpdate &declared;
        ~Declaration() { declared.after(); }
    } declaration{declared_};
    lookup_.bind(1, account);
    const bool known = lookup_.next();
    qint64 rowid = 0;
    bool noTotal = false;
    double total = 0;
    if (known) {
        rowid = lookup_.integer(0);
        noTotal = lookup_.isNull(1);
        total = leadingNumber(lookup_.utf8(1), exponent_);
        declared_.before(rowid, lookup_, 2);
    }
    const bool onlyRow = known && !lookup_.next();
    lookup_.reset();
    if (!onlyRow)
        declared_.after(); // the update by account reads each of its rows itself
    if (!known)
        return false;
    const double outstanding = receivableTotal(total, noTotal, account) - leadingNumber(amount, exponent_);
    platform::Statement &write = onlyRow ? updateRow_ : update_;
    const QString written = outstandingText(outstanding);
    write.bind(1, date).bind(2, amount).bind(3, written);
    if (onlyRow)
        write.bind(4, rowid);
    else
        write.bind(4, account);
    write.run();
    write.reset();
    if (writtenOutstanding)
        *writtenOutstanding = written;
    return true;
}

} // namespace talvesk::payments
