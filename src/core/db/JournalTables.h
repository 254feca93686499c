#pragma once

// The journal's own view of the program's two tables: which they are, their columns, and the
// values they hold as the engine hands them over. Used by the journal's parts alone.

#include "platform/Database.h"
#include "platform/Error.h"

#include <sqlite3.h>

#include <array>
#include <string>
#include <vector>

namespace talvesk::db::journal {

// A journalled table, the columns it has, and where entries from before the compact undo data
// kept their rows (a database may still hold those).
struct Journalled {
    const char *table;
    const char *shadow;
    const char *columns;
    int columnCount;
};

inline constexpr std::array<Journalled, 2> kJournalled = {{
    {"F_AccountData", "JournalReceivables",
     "UserName, UserNum, Memo, Bankcode, Total, PayDate, PayTotal, N_PayTotal, Spare", 9},
    {"SMdata", "JournalStore",
     "REC, C_NUM, R_NUM, R_M_NUM, TR_DATE, PAY_DATE, BARCODE1, BARCODE2, BARCODE3, P_TOTAL", 10},
}};

// A row's kept columns are marked in 16 bits, the last of them meaning "inserted".
static_assert(kJournalled[0].columnCount <= 15 && kJournalled[1].columnCount <= 15);

// What happened first to a row id in an operation. A shadow row (older entries) holds the whole
// row; a compact record holds the columns it names, each at most once per row id: the first
// change to a column keeps what it was before the operation.
inline constexpr int kInserted = 0, kUpdated = 1, kDeleted = 2;

// One stored value as the engine hands it over, whichever way it is read. Text and blobs point
// into the engine's memory: valid until the row or statement moves on.
struct Value {
    int type = SQLITE_NULL;
    qint64 integer = 0;
    double real = 0;
    const unsigned char *bytes = nullptr;
    int size = 0;
};

Value valueOf(sqlite3_value *v);
// The same, filled in place (a Value built aside and copied in costs more where every row has one).
void readValue(sqlite3_value *v, Value &out);
Value columnOf(sqlite3_stmt *stmt, int column);
// Equal type and equal content (a real number bit for bit).
bool sameValue(const Value &a, const Value &b);
int bindValue(sqlite3_stmt *stmt, int index, const Value &v);

// The column names of a table, in the order of Journalled::columns.
std::vector<std::string> columnNames(const Journalled &t);

// A prepared statement of the engine's own, for values that must keep their type.
class RawStatement {
public:
    RawStatement(platform::Database &db, const std::string &sql) : db_(db.handle())
    {
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
            fail();
    }
    RawStatement(const RawStatement &) = delete;
    RawStatement &operator=(const RawStatement &) = delete;
    ~RawStatement() { sqlite3_finalize(stmt_); }
    sqlite3_stmt *get() const { return stmt_; }
    bool step()
    {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail();
        return false;
    }
    void run()
    {
        while (step()) {
        }
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

private:
    [[noreturn]] void fail() { throw platform::Error(platform::errnum::Database, QString::fromUtf8(sqlite3_errmsg(db_))); }
    sqlite3 *db_;
    sqlite3_stmt *stmt_ = nullptr;
};

} // namespace talvesk::db::journal
