#include "results/Results.h"

#include "payments/Amounts.h"

namespace talvesk::results {

db::TableLayout resultsLayout()
{
    return {QStringLiteral("F_AccountData"),
            {QStringLiteral("UserName"), QStringLiteral("UserNum"), QStringLiteral("Memo"), QStringLiteral("Bankcode"),
             QStringLiteral("Total"), QStringLiteral("PayDate"), QStringLiteral("PayTotal"), QStringLiteral("N_PayTotal")},
            {QStringLiteral("客戶名稱"), QStringLiteral("客戶編號"), QStringLiteral("應收款項備註"), QStringLiteral("虛擬帳號"),
             QStringLiteral("應收金額"), QStringLiteral("入帳日期"), QStringLiteral("入帳金額"), QStringLiteral("未入帳金額")},
            {4, 6, 7},
            payments::amountValue,
            QStringLiteral("銷帳結果")};
}

} // namespace talvesk::results
