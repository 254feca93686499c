#include "shell/DataSummary.h"

#include "db/Connection.h"
#include "db/Tables.h"

#include <QDateTime>

#include <QLocale>

namespace talvesk::shell {

DataSummary summarize(const platform::AppFolder &app)
{
    platform::Database db = db::openDatabase(app, db::Reach::DeskOrServer);
    DataSummary summary;
    // A payment writes its date; an empty or absent date is a receivable still open.
    platform::Statement receivables = db.prepare(
        "SELECT count(*), count(NULLIF(trim(PayDate), '')) FROM F_AccountData");
    if (receivables.next()) {
        summary.receivables = receivables.text(0).toLongLong();
        summary.paid = receivables.text(1).toLongLong();
    }
    platform::Statement store = db.prepare("SELECT count(*) FROM SMdata");
    if (store.next())
        summary.store = store.text(0).toLongLong();
    if (db.hasTable(QStringLiteral("Journal"))) {
        platform::Statement imported = db.prepare(
            "SELECT max(at) FROM Journal WHERE operation LIKE 'import-%' AND state NOT IN ('undone', 'failed')");
        if (imported.next())
            summary.lastImport = QDateTime::fromString(imported.text(0), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    return summary;
}

QString summaryText(const DataSummary &summary)
{
    const QDateTime &lastImport = summary.lastImport;
    const QLocale taiwan(QLocale::Chinese, QLocale::Taiwan);
    const QString imported = lastImport.isValid()
                                 ? QStringLiteral("最後匯入 ") + lastImport.toString(QStringLiteral("yyyy/MM/dd HH:mm"))
                                 : QStringLiteral("尚無匯入");
    // 有入帳: any payment date, paid in full or not; the overview's 已入帳 is paid in full only.
    return QStringLiteral("應收帳款 %1 筆 (有入帳 %2 / 未入帳 %3) | 超商資料 %4 筆 | %5")
        .arg(taiwan.toString(summary.receivables), taiwan.toString(summary.paid),
             taiwan.toString(summary.receivables - summary.paid), taiwan.toString(summary.store), imported);
}

} // namespace talvesk::shell
