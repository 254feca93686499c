#pragma once

#include "db/Journal.h"
#include "platform/Database.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <optional>
#include <span>
#include <vector>

namespace talvesk::payments {

// Why a payment was not applied.
inline const QString kNoReceivableReason = QStringLiteral("沒有此虛擬帳號的應收帳款");

// Writes one credited payment into the receivables of its virtual account: the date credited, the
// amount credited, and the amount still outstanding, which is the first such receivable's Total
// less the amount. Both payment imports write through it; they differ only in whether an amount
// may carry an exponent (the bank file's may).
// The names of what a payment import shows of a row: the account and the three values written.
QStringList paymentFields();

// What a payment did to the receivables of its account.
struct Applied {
    bool known = false;      // a receivable has the account (nothing is written when none has)
    bool changed = false;    // and it holds other values now than before
    bool hadPayment = false; // it had a payment before (a date or an amount credited)
    explicit operator bool() const { return known; }
};

class PaymentWriter {
public:
    PaymentWriter(platform::Database &db, bool exponentAmounts);

    // Writes the payment; the outstanding amount written goes to `outstanding` when given. Throws
    // platform::Error, 94 for a receivable whose Total holds no value.
    Applied apply(QStringView account, QStringView date, QStringView amount, QString *outstanding = nullptr);

    bool exponentAmounts() const { return exponent_; }

private:
    platform::Statement lookup_;
    platform::Statement update_;
    platform::Statement updateRow_;
    // Whether a row of an account held by several would change.
    platform::Statement changes_;
    db::DeclaredUpdate declared_;
    bool exponent_;
};

// Up to kSize payments written by one statement, with the result of writing them one by one
// through `single` in the order they were added: each finds the rows of its account as they are,
// an account held by several rows is paid from its first row's Total, and a failure leaves the
// payments before the failing one applied and none after it. A statement per payment is most of
// the time of a large bank file; this writes 64 in one.
class PaymentBatch {
public:
    static constexpr int kSize = 64;

    PaymentBatch(platform::Database &db, PaymentWriter &single);
    ~PaymentBatch();
    PaymentBatch(const PaymentBatch &) = delete;
    PaymentBatch &operator=(const PaymentBatch &) = delete;

    int size() const { return int(waiting_.size()); }
    // Whether a payment to `account` waits: a second one must wait until the first is written.
    bool holds(QStringView account) const;
    // The views must stay valid until clear().
    void add(QStringView account, QStringView date, QStringView amount);

    // Writes the waiting payments. Throws platform::Error; the payments before applied() were
    // applied all the same, and none from it on.
    void write();
    // How many of the waiting payments were written, in order (all of them once write() returns).
    int applied() const { return applied_; }
    // After write(): what payment `i` did, and the outstanding amount written.
    Applied outcome(int i) const { return waiting_[std::size_t(i)].done; }
    QString outstanding(int i) const { return QString::fromUtf8(outstanding_[std::size_t(i)]); }
    void clear();

private:
    struct Payment {
        QStringView account, date, amount;
        std::size_t hash = 0;
        double amountValue = 0;
        Applied done;
        bool paid = false; // the statement has computed this payment's outstanding amount
    };
    // The statement's function: the outstanding amount of one receivable a payment finds.
    platform::Value outstandingOf(std::span<const platform::Value> arguments);
    // Teaches `db` the function, for `batch`: before its statement is prepared.
    void oneByOne();

    platform::Database &db_;
    PaymentWriter &single_;
    std::optional<platform::Statement> statement_; // finalized before the function goes
    // Whether a trigger (another program's) fires on updates of the table: it may change rows
    // the statement has already read, so each payment must see the one before it done.
    std::optional<platform::Statement> triggers_;
    db::DeclaredUpdate declared_;
    std::vector<Payment> waiting_;
    // Each payment's outstanding amount as written, UTF-8; kept apart so that their memory
    // serves batch after batch.
    std::array<QByteArray, kSize> outstanding_;
    int applied_ = 0;
    bool oneByOneWanted_ = false;
};

} // namespace talvesk::payments
