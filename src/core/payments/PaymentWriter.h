#pragma once

#include "db/Journal.h"
#include "platform/Database.h"

#include <QString>
#include <QStringList>
#include <QStringView>

namespace talvesk::payments {

// Why a payment was not applied.
inline const QString kNoReceivableReason = QStringLiteral("沒有此虛擬帳號的應收帳款");

// Writes one credited payment into the receivables of its virtual account: the date credited, the
// amount credited, and the amount still outstanding, which is the first such receivable's Total
// less the amount. Both payment imports write through it; they differ only in whether an amount
// may carry an exponent (the bank file's may).
// The names of what a payment import shows of a row: the account and the three values written.
QStringList paymentFields();

class PaymentWriter {
public:
    PaymentWriter(platform::Database &db, bool exponentAmounts);

    // Whether any receivable has the account (nothing is written when none has); the outstanding
    // amount written goes to `outstanding` when given. Throws platform::Error, 94 for a receivable
    // whose Total holds no value.
    bool apply(QStringView account, QStringView date, QStringView amount, QString *outstanding = nullptr);

private:
    platform::Statement lookup_;
    platform::Statement update_;
    platform::Statement updateRow_;
    db::DeclaredUpdate declared_;
    bool exponent_;
};

} // namespace talvesk::payments
