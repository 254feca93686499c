#pragma once

#include "db/TableExport.h"

namespace talvesk::results {

// 銷帳結果轉存EXCEL檔: every receivable with its payment results.
db::TableLayout resultsLayout();
inline const QString kResultsFilePrefix = QStringLiteral("銷帳結果");

} // namespace talvesk::results
