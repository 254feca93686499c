#include "payments/PaymentWindows.h"

namespace talvesk::payments {

workbookimport::MappingWindow::Design paymentsMappingDesign()
{
    return {.objectName = QStringLiteral("frmscldata1"),
            .table = db::kPaymentsMapping,
            .labels = {QStringLiteral("Label2"), QStringLiteral("Label3"), QStringLiteral("Label8_0"),
                       QStringLiteral("Label8_3"), QStringLiteral("Label8_26"), QStringLiteral("Label8_1")},
            .holdsConnection = true,
            .importCaption = QStringLiteral("讀入入帳明細(EXCEL)")};
}

textimport::TextImportWindow::Design bankWindowDesign()
{
    return {.objectName = QStringLiteral("frmreadbank1"),
            .caption = QStringLiteral("讀入入帳明細(TXT)"),
            .frameCaption = QStringLiteral("入帳明細(TXT)"),
            .fileLabel = QStringLiteral("目前檔案 : "),
            .appliedLabel = QStringLiteral("正確筆數 : "),
            .abnormalLabel = QStringLiteral("異常筆數:"),
            .filter = QStringLiteral("文字檔(*.*)|*.*|所有檔案(*.*)|*.*"),
            .refuseBlankName = true,
            .fileKind = platform::filekind::BankFile};
}

} // namespace talvesk::payments
