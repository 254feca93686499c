#pragma once

#include "db/TableExport.h"

namespace talvesk::store {

// 超商銷帳資料轉EXCEL檔: every convenience-store record.
db::TableLayout storeLayout();
inline const QString kStoreFilePrefix = QStringLiteral("超商銷帳資料");

} // namespace talvesk::store
