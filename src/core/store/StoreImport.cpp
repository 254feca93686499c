#include "store/StoreImport.h"

#include "db/BatchedChanges.h"
#include "db/Journal.h"
#include "db/Connection.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "store/StoreExport.h"

#include <array>

namespace talvesk::store {

using textimport::field;

QStringList StoreImport::shownFields() const
{
    return storeLayout().captions;
}

textimport::TextImportCounts StoreImport::run(const QString &path, const textimport::TextImportObserver &observer)
{
    if (changes_ == db::Changes::Keep)
        platform::removeFileIfExists(app_.errorLogFile());
    platform::Database db = textimport::openDatabaseForTextImport(app_, changes_, observer.stopRequested);
    platform::TextLineReader reader(path);

    auto lookup = db.prepare("SELECT 1 FROM SMdata WHERE BARCODE2 = ?1 LIMIT 1");
    auto insert = db.prepare("INSERT INTO SMdata (REC, C_NUM, R_NUM, R_M_NUM, TR_DATE, PAY_DATE, BARCODE1, BARCODE2, "
                             "BARCODE3, P_TOTAL) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
    auto update = db.prepare("UPDATE SMdata SET REC = ?1, C_NUM = ?2, R_NUM = ?3, R_M_NUM = ?4, TR_DATE = ?5, "
                             "PAY_DATE = ?6, BARCODE1 = ?7, BARCODE3 = ?9, P_TOTAL = ?10 WHERE BARCODE2 = ?8");
    // Whether a record of the barcode holds other values than the line's: one that would change
    // nothing is not written again.
    auto differs = db.prepare("SELECT 1 FROM SMdata WHERE BARCODE2 = ?8 AND (REC IS DISTINCT FROM ?1 "
                              "OR C_NUM IS DISTINCT FROM ?2 OR R_NUM IS DISTINCT FROM ?3 OR R_M_NUM IS DISTINCT FROM ?4 "
                              "OR TR_DATE IS DISTINCT FROM ?5 OR PAY_DATE IS DISTINCT FROM ?6 OR BARCODE1 IS DISTINCT FROM ?7 "
                              "OR BARCODE3 IS DISTINCT FROM ?9 OR P_TOTAL IS DISTINCT FROM ?10) LIMIT 1");

    const db::JournalOperation journal{QStringLiteral("import-store"), platform::absolutePath(path)};

    return textimport::withErrorLog(app_, db, observer, changes_, journal, [&](textimport::ErrorLog &log, db::BatchedChanges &batch,
                                                          textimport::TextImportCounts &counts) {
        platform::TextLine line;
        std::array<QStringView, 10> values;
        while (reader.next(line)) {
            // Only detail records count; a line that cannot be decoded is judged by its first byte.
            // A line past any record is none, whatever it starts with.
            if (!line.bytes.startsWith('2') && !line.tooLong())
                continue;
            const QStringView amountField = field(line.text, 96, 9);
            QString outcome;
            auto abnormal = [&](const QString &reason) {
                log.add(line, reason);
                ++counts.abnormal;
                values = {};
                return reason;
            };
            if (line.tooLong()) {
                outcome = abnormal(textimport::kTooLongLineReason);
            } else if (line.bytes.contains('\0')) {
                outcome = abnormal(textimport::kNulLineReason);
            } else if (!line.decoded) {
                outcome = abnormal(QStringLiteral("無法以 Big5 解碼"));
            } else if (!textimport::isDigitsAndBlanks(amountField)) {
                outcome = abnormal(QStringLiteral("繳款金額欄位不是數字"));
            } else {
                const QString &t = line.text;
                values = {field(t, 1, 1).trimmed(),  field(t, 2, 8).trimmed(),   field(t, 10, 8).trimmed(),
                          field(t, 18, 8).trimmed(), field(t, 45, 8).trimmed(),  field(t, 53, 8).trimmed(),
                          field(t, 61, 9).trimmed(), field(t, 70, 20).trimmed(), field(t, 90, 15).trimmed(),
                          textimport::fixedAmountText(amountField)};
                lookup.bind(1, values[7]);
                const bool known = lookup.next();
                lookup.reset();
                bool changed = true;
                if (known) {
                    for (int i = 0; i < 10; ++i)
                        differs.bind(i + 1, values[static_cast<std::size_t>(i)]);
                    changed = differs.next();
                    differs.reset();
                }
                if (changed) {
                    platform::Statement &write = known ? update : insert;
                    for (int i = 0; i < 10; ++i)
                        write.bind(i + 1, values[static_cast<std::size_t>(i)]);
                    write.run();
                    write.reset();
                }
                ++counts.applied;
                ++(known ? counts.updated : counts.inserted);
                counts.unchanged += !changed;
                outcome = !changed ? db::kUnchangedRow : known ? db::kUpdatedRow : db::kNewRow;
            }
            if (observer.lineShown)
            {
                QStringList shown;
                for (const QStringView value : values)
                    shown << value.toString();
                observer.lineShown({line.number, shown, outcome});
            }
            batch.rowDone();
            if (observer.lineDone)
                observer.lineDone(counts);
            platform::stopIfRequested(observer.stopRequested);
        }
    });
}

} // namespace talvesk::store
