#include "store/StoreWindows.h"

namespace talvesk::store {

textimport::TextImportWindow::Design storeWindowDesign()
{
    return {QStringLiteral("frmread711"),
            QStringLiteral("讀入便利商店銷帳磁片"),
            QStringLiteral("便利商店銷帳資料檔"),
            QStringLiteral("目前檔案："),
            QStringLiteral("正確筆數："),
            QStringLiteral("異常筆數："),
            QStringLiteral("文字檔(TFM*.*)|TFM*.*|文字檔(HIF*.*)|HIF*.*|文字檔(OKM*.*)|OKM*.*|文字檔(TFM*.*)|TFM*.*|所有檔案(*.*)|*.*"),
            false,
            platform::filekind::StoreFile};
}

} // namespace talvesk::store
