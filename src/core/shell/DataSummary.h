#pragma once

#include "platform/AppFolder.h"

#include <QDateTime>
#include <QString>

namespace talvesk::shell {

// What the database holds, as the main window's status line shows it.
struct DataSummary {
    qint64 receivables = 0;
    qint64 paid = 0; // receivables with a payment date
    qint64 store = 0;
    // When the newest import that is not undone started (the journal's, so the batch tool's
    // imports count too); invalid when there is none.
    QDateTime lastImport;
};

// Counts by SQL, without reading the rows out. Throws platform::Error.
DataSummary summarize(const platform::AppFolder &app);

// "應收帳款 1,234 筆 (有入帳 200 / 未入帳 1,034) | 超商資料 25 筆 | 最後匯入 2024/05/01 14:32";
// an invalid `lastImport` reads 「尚無匯入」.
QString summaryText(const DataSummary &summary);

} // namespace talvesk::shell
