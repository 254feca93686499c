#include "payments/PaymentWindows.h"

namespace talvesk::payments {

workbookimport::MappingWindow::Design paymentsMappingDesign()
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


textimport::TextImportWindow::Design bankWindowDesign()
{
    return {QStringLiteral("frmreadbank1"),
            QStringLiteral("讀入入帳明細(TXT)"),
            QStringLiteral("入帳明細(TXT)"),
            QStringLiteral("目前檔案 : "),
            QStringLiteral("正確筆數 : "),
            QStringLiteral("異常筆數:"),
            QStringLiteral("文字檔(*.*)|*.*|所有檔案(*.*)|*.*"),
            true};
}

} // namespace talvesk::payments
