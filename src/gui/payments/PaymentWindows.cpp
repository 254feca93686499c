#include "payments/PaymentWindows.h"

namespace talvesk::payments {

workbookimport::MappingWindow::Design paymentsMappingDesign()
{
    return {QStringLiteral("frmscldata1"),
            db::kPaymentsMapping,
            {QStringLiteral("Label2"), QStringLiteral("Label3"), QStringLiteral("Label8_0"), QStringLiteral("Label8_3"),
             QStringLiteral("Label8_26"), QStringLiteral("Label8_1")},
            true,
            QStringLiteral("讀入入帳明細(EXCEL)")};
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
            true,
            platform::filekind::BankFile};
}

} // namespace talvesk::payments
