#include "payments/PaymentWindows.h"

namespace talvesk::payments {

receivables::MappingWindow::Design paymentsMappingDesign()
{
    return {QStringLiteral("frmscldata1"),
            db::kPaymentsMapping,
            {{QStringLiteral("交易日期"), QStringLiteral("Label2"), 1},
             {QStringLiteral("摘要"), QStringLiteral("Label3"), 1},
             {QStringLiteral("金額"), QStringLiteral("Label8_0"), 1},
             {QStringLiteral("入帳時間"), QStringLiteral("Label8_3"), 1},
             {QStringLiteral("虛擬帳號"), QStringLiteral("Label8_26"), 4},
             {QStringLiteral("備註"), QStringLiteral("Label8_1"), 4}},
            true};
}

} // namespace talvesk::payments
