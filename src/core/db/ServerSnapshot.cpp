#include "db/ServerSnapshot.h"

#include "db/Connection.h"
#include "db/FirstStart.h"
#include "db/Installation.h"
#include "db/Journal.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace talvesk::db {

const std::array<CopiedTable, 7> kCopiedTables{{
    {"F_AccountData", "rowid", "UserName, UserNum, Memo, Bankcode, Total, PayDate, PayTotal, N_PayTotal, Spare"},
    {"SMdata", "rowid", "REC, C_NUM, R_NUM, R_M_NUM, TR_DATE, PAY_DATE, BARCODE1, BARCODE2, BARCODE3, P_TOTAL"},
    {"ImportSetting", "rowid", "item1, item2, item3, item4, item5"},
    {"ImportSetting1", "rowid", "item1, item2, item3, item4, item5, item6"},
    {"Journal", "id", "at, operation, file, counts, state, dropped_why, receivables_max, store_max, seal_before, "
                      "seal_after, file_hash, changes"},
    {"JournalProblems", "seq", "entry, number, reason, text"},
    {"JournalUndo", "entry, tab, seq", "data"},
}};

void copyTable(platform::Database &from, platform::Database &to, const CopiedTable &t)
{
    constexpr int kRowsAtATime = 5000;
    const std::string key = t.key;
    const int keys = int(std::count(key.begin(), key.end(), ',')) + 1;
    const int width = keys + int(std::count(t.columns, t.columns + std::strlen(t.columns), ',')) + 1;
    std::string after = "(" + key + ") > (";
    for (int k = 1; k <= keys; ++k)
        after += (k > 1 ? ", ?" : "?") + std::to_string(k);
    after += ")";
    const std::string select = "SELECT " + key + ", " + t.columns + " FROM " + t.table;
    platform::Statement first = from.prepare(select + " ORDER BY " + key + " LIMIT " + std::to_string(kRowsAtATime));
    platform::Statement next = from.prepare(select + " WHERE " + after + " ORDER BY " + key + " LIMIT "
                                            + std::to_string(kRowsAtATime));
    std::string values;
    for (int c = 1; c <= width; ++c)
        values += (c > 1 ? ", ?" : "?") + std::to_string(c);
    platform::Statement insert = to.prepare(std::string("INSERT INTO ") + t.table + " (" + key + ", " + t.columns
                                            + ") VALUES (" + values + ")");
    std::vector<qint64> last;
    for (platform::Statement *part = &first;; part = &next) {
        if (!last.empty())
            for (int k = 0; k < keys; ++k)
                part->bind(k + 1, last[std::size_t(k)]);
        int rows = 0;
        while (part->next()) {
            ++rows;
            for (int c = 0; c < width; ++c)
                insert.bind(c + 1, part->value(c));
            insert.run();
            insert.reset();
            last.assign(std::size_t(keys), 0);
            for (int k = 0; k < keys; ++k)
                last[std::size_t(k)] = part->integer(k);
        }
        part->reset();
        if (rows < kRowsAtATime)
            return;
    }
}

void snapshotServerInto(const platform::AppFolder &app, const QString &path)
{
    platform::Database server = openDatabase(app, Reach::DeskOrServer);
    const platform::ReadTransaction snapshot(server);
    createDatabase(path, builtInSchema());
    platform::Database file = platform::Database::open(path);
    ensureJournalTables(file);
    platform::Transaction transaction(file);
    for (const CopiedTable &t : kCopiedTables)
        copyTable(server, file, t);
    transaction.commit();
}

} // namespace talvesk::db
