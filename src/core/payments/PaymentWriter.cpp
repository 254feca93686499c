#include "payments/PaymentWriter.h"

#include "payments/Amounts.h"
#include "platform/Error.h"

#include <QHash>

#include <string>

namespace talvesk::payments {

PaymentWriter::PaymentWriter(platform::Database &db, bool exponentAmounts)
    // The first two rows of the account: the first one's Total counts, and an account held by one
    // row only (the usual case) is updated by its row id, which spares a second index search.
    : lookup_(db.prepare("SELECT rowid, Total, PayDate, PayTotal, N_PayTotal FROM F_AccountData WHERE Bankcode = ?1 LIMIT 2")),
      update_(db.prepare("UPDATE F_AccountData SET PayDate = ?1, PayTotal = ?2, N_PayTotal = ?3 WHERE Bankcode = ?4")),
      updateRow_(db.prepare("UPDATE F_AccountData SET PayDate = ?1, PayTotal = ?2, N_PayTotal = ?3 WHERE rowid = ?4")),
      changes_(db.prepare("SELECT 1 FROM F_AccountData WHERE Bankcode = ?4 AND (PayDate IS DISTINCT FROM ?1 "
                          "OR PayTotal IS DISTINCT FROM ?2 OR N_PayTotal IS DISTINCT FROM ?3) LIMIT 1")),
      // The journal is told what the row's payment columns held, so it need not read the row again.
      declared_(db, "F_AccountData", {"PayDate", "PayTotal", "N_PayTotal"}), exponent_(exponentAmounts)
{
}

QStringList paymentFields()
{
    return {QStringLiteral("虛擬帳號"), QStringLiteral("入帳日期"), QStringLiteral("入帳金額"), QStringLiteral("未入帳金額")};
}

Applied PaymentWriter::apply(QStringView account, QStringView date, QStringView amount, QString *writtenOutstanding)
{
    // Whatever happens, the declaration goes with this payment.
    struct Declaration {
        db::DeclaredUpdate &declared;
        ~Declaration() { declared.after(); }
    } declaration{declared_};
    lookup_.bind(1, account);
    Applied applied;
    applied.known = lookup_.next();
    qint64 rowid = 0;
    bool noTotal = false;
    double total = 0;
    QString before[3]; // the first row's PayDate, PayTotal, N_PayTotal; null for NULL
    if (applied.known) {
        rowid = lookup_.integer(0);
        noTotal = lookup_.isNull(1);
        total = leadingNumber(lookup_.utf8(1), exponent_);
        for (int i = 0; i < 3; ++i)
            before[i] = lookup_.isNull(2 + i) ? QString() : lookup_.text(2 + i);
        applied.hadPayment = !lookup_.utf8(2).isEmpty() || !lookup_.utf8(3).isEmpty();
        declared_.before(rowid, lookup_, 2);
    }
    const bool onlyRow = applied.known && !lookup_.next();
    lookup_.reset();
    if (!onlyRow)
        declared_.after(); // the update by account reads each of its rows itself
    if (!applied.known)
        return applied;
    const double outstanding = receivableTotal(total, noTotal, account) - leadingNumber(amount, exponent_);
    platform::Statement &write = onlyRow ? updateRow_ : update_;
    const QString written = outstandingText(outstanding);
    if (onlyRow) {
        const QStringView after[3] = {date, amount, written};
        for (int i = 0; i < 3 && !applied.changed; ++i)
            applied.changed = before[i].isNull() || before[i] != after[i];
    } else {
        changes_.bind(1, date).bind(2, amount).bind(3, written).bind(4, account);
        applied.changed = changes_.next();
        changes_.reset();
    }
    write.bind(1, date).bind(2, amount).bind(3, written);
    if (onlyRow)
        write.bind(4, rowid);
    else
        write.bind(4, account);
    write.run();
    write.reset();
    if (writtenOutstanding)
        *writtenOutstanding = written;
    return applied;
}

namespace {

const char *const kOutstandingFunction = "talvesk_payment_outstanding";
constexpr int kArguments = 8;

// The payments as rows of (account, date, amount, index); a row whose account is NULL finds
// nothing. Every receivable a payment finds is first read, its outstanding amount computed and its
// change declared to the journal (the function runs before any row changes), then all of them
// are updated.
std::string batchSql()
{
    std::string sql = "UPDATE F_AccountData SET PayDate = v.column2, PayTotal = v.column3, N_PayTotal = ";
    sql += kOutstandingFunction;
    sql += "(v.column4, F_AccountData.Total, F_AccountData.rowid, F_AccountData.PayDate, F_AccountData.PayTotal, "
           "F_AccountData.N_PayTotal, v.column2, v.column3) FROM (VALUES ";
    for (int i = 0; i < PaymentBatch::kSize; ++i)
        sql += (i ? ",(?,?,?," : "(?,?,?,") + std::to_string(i) + ")";
    sql += ") AS v WHERE F_AccountData.Bankcode = v.column1";
    return sql;
}

// An argument the statement always gives as an integer (a payment's index, a row id); -1 when it
// is not one.
qint64 integerOf(const platform::Value &v)
{
    return v.type == platform::Value::Integer ? v.integer : -1;
}

} // namespace

PaymentBatch::PaymentBatch(platform::Database &db, PaymentWriter &single)
    : db_(db), single_(single), declared_(db, "F_AccountData", {"PayDate", "PayTotal", "N_PayTotal"})
{
    waiting_.reserve(kSize);
    // The server runs no function of the program's: there each payment is written by itself.
    if (db.isServer())
        return;
    // Only the batch's own statement calls it, never a trigger or view of another program's.
    db.addFunction(kOutstandingFunction, kArguments, platform::Database::DirectOnly,
                   [this](std::span<const platform::Value> arguments) { return outstandingOf(arguments); });
    statement_.emplace(db.prepare(batchSql()));
    triggers_.emplace(db.prepare("SELECT 1 FROM sqlite_schema WHERE type = 'trigger' AND tbl_name = 'F_AccountData' COLLATE NOCASE"));
}

PaymentBatch::~PaymentBatch()
{
    if (!statement_)
        return;
    statement_ = std::nullopt;
    db_.removeFunction(kOutstandingFunction, kArguments);
}

bool PaymentBatch::holds(QStringView account) const
{
    const std::size_t hash = qHash(account);
    for (const Payment &p : waiting_)
        if (p.hash == hash && p.account == account)
            return true;
    return false;
}

void PaymentBatch::add(QStringView account, QStringView date, QStringView amount)
{
    const int at = size();
    Payment p;
    p.account = account;
    p.date = date;
    p.amount = amount;
    p.hash = qHash(account);
    p.amountValue = leadingNumber(amount, single_.exponentAmounts());
    waiting_.push_back(std::move(p));
    if (statement_)
        statement_->bind(3 * at + 1, account).bind(3 * at + 2, date).bind(3 * at + 3, amount);
}

void PaymentBatch::clear()
{
    waiting_.clear();
    applied_ = 0;
}

// N_PayTotal of one receivable that a payment finds. A receivable whose Total holds no value, or
// a second receivable of the same account (paid from the first one's Total, which the statement
// cannot tell), stops the statement before anything is written: the payments are then written one
// by one.
platform::Value PaymentBatch::outstandingOf(std::span<const platform::Value> arguments)
{
    auto refuse = [&]() -> platform::Value {
        oneByOneWanted_ = true;
        throw platform::Error(platform::errnum::Database, QStringLiteral("payments written one by one"));
    };
    const qint64 i = integerOf(arguments[0]);
    if (i < 0 || i >= size() || arguments[1].isNull() || waiting_[std::size_t(i)].paid)
        return refuse();
    Payment &p = waiting_[std::size_t(i)];
    try {
        // A text read as stored; a number as its text, kept in `written`.
        auto text = [](const platform::Value &v, QByteArray &written) {
            if (v.type == platform::Value::Text || v.type == platform::Value::Blob)
                return v.view();
            written = v.toText();
            return QByteArrayView(written);
        };
        QByteArray totalText, dateText, amountText;
        const double total = leadingNumber(text(arguments[1], totalText), single_.exponentAmounts());
        QByteArray &outstanding = outstanding_[std::size_t(i)];
        outstandingUtf8(total - p.amountValue, outstanding);
        const QByteArrayView after[] = {text(arguments[6], dateText), text(arguments[7], amountText), outstanding};
        declared_.row(integerOf(arguments[2]), arguments.data() + 3, after);
        // What the row held before: PayDate, PayTotal, N_PayTotal.
        const platform::Value *before = arguments.data() + 3;
        auto filled = [](const platform::Value &v) {
            return !v.isNull() && (v.type != platform::Value::Text || v.size > 0);
        };
        p.done.hadPayment = filled(before[0]) || filled(before[1]);
        for (int c = 0; c < 3 && !p.done.changed; ++c) {
            QByteArray beforeText;
            p.done.changed = before[c].isNull() || text(before[c], beforeText) != after[c];
        }
        p.paid = true;
        return platform::Value::fromText(outstanding);
    } catch (...) {
        return refuse();
    }
}

void PaymentBatch::oneByOne()
{
    for (Payment &p : waiting_) {
        QString outstanding;
        p.done = single_.apply(p.account, p.date, p.amount, &outstanding);
        outstanding_[std::size_t(applied_)] = outstanding.toUtf8();
        ++applied_;
    }
}

void PaymentBatch::write()
{
    applied_ = 0;
    oneByOneWanted_ = false;
    for (std::size_t i = 0; i < waiting_.size(); ++i) {
        waiting_[i].paid = false;
        waiting_[i].done = Applied();
        outstanding_[i].resize(0);
    }
    if (waiting_.empty())
        return;
    if (!statement_) {
        oneByOne();
        return;
    }
    // Checked for each batch: another program may add a trigger between two commits.
    const bool triggered = triggers_->next();
    triggers_->reset();
    if (triggered) {
        oneByOne();
        return;
    }
    for (int i = size(); i < kSize; ++i)
        statement_->bindNull(3 * i + 1);
    try {
        statement_->run();
    } catch (const platform::Error &) {
        declared_.after();
        statement_->reset();
        // The statement is undone whole. Written one by one, the payments meet whatever stopped
        // it (the function's refusal, a row the database refuses, a busy or full disk) at the
        // payment it concerns, and the ones before it stay written. Only the function refuses
        // before any row has changed; after any other failure the journal's account of the
        // undone changes no longer adds up.
        if (!oneByOneWanted_)
            declared_.statementUndone();
        // Some failures (a full disk, an I/O error) make the engine give up the whole transaction:
        // written one by one now, each payment would be stored on its own, outside the import's
        // transaction and its journal. The batch fails at its first payment instead: the rows
        // since the last commit are lost either way, as they were when one payment failed so.
        if (!db_.inTransaction())
            throw;
        oneByOne();
        return;
    }
    declared_.after();
    statement_->reset();
    for (Payment &p : waiting_)
        p.done.known = p.paid;
    applied_ = size();
}

} // namespace talvesk::payments
