#include "receivables/ReceivablesImport.h"

#include "db/BatchedChanges.h"
#include "db/Connection.h"
#include "db/Mapping.h"
#include "platform/Workbook.h"

#include <array>

namespace talvesk::receivables {

ImportCounts ReceivablesImport::run(const QString &workbookPath, const QString &sheetName, const ImportObserver &observer)
{
    platform::Database db = db::openDatabase(app_);
    const QStringList mapping = db::readMapping(db, db::kReceivablesMapping);
    const auto opened = receivables::openSheetToImport(workbookPath, sheetName, observer);
    platform::Worksheet *sheet = opened.sheet.get();
    const qint64 usedRows = opened.usedRows;

    auto lookup = db.prepare("SELECT 1 FROM F_AccountData WHERE Bankcode = ?1 LIMIT 1");
    auto insert = db.prepare("INSERT INTO F_AccountData VALUES (?1, ?2, ?3, ?4, ?5, '', '', '', '')");
    auto update = db.prepare(
        "UPDATE F_AccountData SET UserName = ?1, UserNum = ?2, Memo = ?3, Total = ?5 WHERE Bankcode = ?4");

    ImportCounts counts;
    db::BatchedChanges batch(db);
    std::array<QString, 5> values;
    for (qint64 row = 2; row <= usedRows; ++row) {
        for (int i = 0; i < 5; ++i)
            values[i] = mapping.at(i).isEmpty() ? QString() : platform::cellText(*sheet, row, mapping.at(i));
        batch.row([&] {
            lookup.bind(1, values[3]);
            const bool known = lookup.next();
            lookup.reset();
            platform::Statement &write = known ? update : insert;
            for (int i = 0; i < 5; ++i)
                write.bind(i + 1, values[i]);
            write.run();
            write.reset();
        });
        ++counts.written;
        if (observer.rowDone)
            observer.rowDone(row, counts);
    }
    return counts;
}

} // namespace talvesk::receivables
