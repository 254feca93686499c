#include "store/StoreExport.h"

#include "payments/Amounts.h"

namespace talvesk::store {

db::TableLayout storeLayout()
{
    return {QStringLiteral("SMdata"),
            {QStringLiteral("REC"), QStringLiteral("C_NUM"), QStringLiteral("R_NUM"), QStringLiteral("R_M_NUM"),
             QStringLiteral("TR_DATE"), QStringLiteral("PAY_DATE"), QStringLiteral("BARCODE1"), QStringLiteral("BARCODE2"),
             QStringLiteral("BARCODE3"), QStringLiteral("P_TOTAL")},
            {QStringLiteral("錄別"), QStringLiteral("公司代號"), QStringLiteral("代收機構代號"), QStringLiteral("代收門市代號"),
             QStringLiteral("入帳日期"), QStringLiteral("繳費日期"), QStringLiteral("條碼一"), QStringLiteral("條碼二"),
             QStringLiteral("條碼三"), QStringLiteral("繳款金額")},
            {9},
            payments::amountValue,
            QStringLiteral("超商銷帳資料")};
}

} // namespace talvesk::store
