#include "store/StoreWindows.h"

namespace talvesk::store {

textimport::TextImportWindow::Design storeWindowDesign()
{
    return {.objectName = QStringLiteral("frmread711"),
            .caption = QStringLiteral("讀入便利商店銷帳磁片"),
            .frameCaption = QStringLiteral("便利商店銷帳資料檔"),
            .fileLabel = QStringLiteral("目前檔案："),
            .appliedLabel = QStringLiteral("正確筆數："),
            .abnormalLabel = QStringLiteral("異常筆數："),
            .filter = QStringLiteral("文字檔(TFM*.*)|TFM*.*|文字檔(HIF*.*)|HIF*.*|文字檔(OKM*.*)|OKM*.*|"
                                     "文字檔(TFM*.*)|TFM*.*|所有檔案(*.*)|*.*"),
            .refuseBlankName = false,
            .fileKind = platform::filekind::StoreFile};
}

} // namespace talvesk::store
