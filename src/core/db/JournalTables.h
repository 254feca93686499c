#pragma once

// The journal's own view of the program's two tables: which they are, their columns, and the
// values they hold. Used by the journal's parts alone.

#include "platform/Database.h"

#include <array>
#include <string>
#include <vector>

namespace talvesk::db::journal {

using platform::Value;

// A journalled table, the columns it has, and where entries from before the compact undo data
// kept their rows (a database may still hold those). These names are the only ones the journal
// ever writes into SQL text: a name cannot be bound, and these come from this list alone.
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

// A row's kept columns are marked in 16 bits, the last of them meaning "inserted": a journalled
// table has at most 15 columns.
inline constexpr int kMaxColumns = 15;
static_assert(kJournalled[0].columnCount <= kMaxColumns && kJournalled[1].columnCount <= kMaxColumns);
// The values of one row's journalled columns, in the order of Journalled::columns.
using RowValues = std::array<Value, kMaxColumns>;

// What happened first to a row id in an operation. A shadow row (older entries) holds the whole
// row; a compact record holds the columns it names, each at most once per row id: the first
// change to a column keeps what it was before the operation.
inline constexpr int kInserted = 0, kUpdated = 1, kDeleted = 2;

// Equal type and equal content (a real number bit for bit).
bool sameValue(const Value &a, const Value &b);

// The column names of a table, in the order of Journalled::columns.
std::vector<std::string> columnNames(const Journalled &t);
// Whether two table or column names are the same name, as the engine compares them (ASCII
// letters in either case).
bool sameName(const char *a, const char *b);
// The journalled table named `name`: its index in kJournalled, or kJournalled.size().
std::size_t journalledIndex(const char *name);

} // namespace talvesk::db::journal
