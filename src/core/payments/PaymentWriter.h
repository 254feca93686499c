#pragma once

#include "platform/Database.h"

#include <QStringView>

namespace talvesk::payments {

// Writes one credited payment into the receivables of its virtual account: the date credited, the
// amount credited, and the amount still outstanding, which is the first such receivable's Total
// less the amount. Both payment imports write through it; they differ only in whether an amount
// may carry an exponent (the bank file's may).
class PaymentWriter {
public:
    PaymentWriter(platform::Database &db, bool exponentAmounts);

    // Whether any receivable has the account (nothing is written when none has). Throws
    // platform::Error, 94 for a receivable whose Total holds no value.
    bool apply(QStringView account, QStringView date, QStringView amount);

private:
    platform::Statement lookup_;
    platform::Statement update_;
    platform::Statement updateRow_;
    bool exponent_;
};

} // namespace talvesk::payments
