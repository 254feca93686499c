#pragma once

// What an open entry gathers while its operation runs. Its connection tells it of every row
// change before it is made; for each journalled table it keeps which columns of which rows are
// kept already, the records not yet written, and how the table's seal moved. Writers that have
// just read a row say what they will set (DeclaredUpdate), so that it need not be read again.

#include "db/JournalSeal.h"
#include "db/UndoRecords.h"

#include <array>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

namespace talvesk::db::journal {

// How much undo data an entry holds in memory before it is written (JournalEntry::wantsFlush).
inline constexpr std::size_t kFlushBytes = 4 << 20;
// Row ids up to this are marked in a plain array; above it, in a map.
inline constexpr qint64 kDenseMarks = 16 << 20;
// The mark of a row the operation inserted: nothing of it needs keeping.
inline constexpr unsigned kInsertedMark = 1u << kMaxColumns;

class Recorder final : public platform::RowChangeWatcher {
public:
    struct Table {
        int columns = 0;
        qint64 limit = 0; // the largest row id before the operation
        std::vector<quint16> dense;
        std::unordered_map<qint64, quint16> sparse;
        std::string buffer;
        qint64 seq = 0;
        TableSeal delta;
        // The rows above the limit, the operation's own, as they are now: hashed as they are
        // written, so the close need not read them back (a million rows take half a second).
        // They need no undo records: undoing deletes them.
        TableSeal own;

        quint16 &marks(qint64 rid);
        unsigned all() const { return (1u << columns) - 1; }
        void inserted(qint64 rid, const Value *values);
        void deleted(qint64 rid, const Value *values);
        // Only the columns in `among` may have changed (and only they are read).
        void updated(qint64 rid, const Value *before, const Value *after, unsigned among);
    };

    std::array<Table, kJournalled.size()> tables;
    Seal before;
    qint64 dataVersion = 0;
    // False when a change may have been taken back part way: the state left is read at close.
    bool exact = true;
    // A change that could not be followed (memory ran out, a blob written in place): the entry
    // cannot be undone.
    bool lost = false;
    // Where each journalled column sits in its table, for the connection's column numbers.
    std::array<std::array<int, kMaxColumns>, kJournalled.size()> positions{};

    // The next update a writer declared (DeclaredUpdate::before): the row, the columns it sets,
    // and their values before it, copied.
    struct Declared {
        bool set = false;
        std::size_t tab = 0;
        qint64 rid = 0;
        unsigned mask = 0;
        RowValues values;
        std::array<std::string, kMaxColumns> bytes;
    } declared;
    // Rows a writer's one statement is about to update (DeclaredUpdate::row): the columns it
    // sets, with their values before and after, copied.
    struct DeclaredRow {
        qint64 rid = 0;
        bool done = false;
        RowValues before, after;
        std::array<std::string, kMaxColumns> bytesBefore, bytesAfter;
    };
    struct DeclaredRows {
        std::size_t tab = 0;
        unsigned mask = 0;
        std::size_t count = 0;
        std::size_t next = 0; // where a change is looked for first
        std::deque<DeclaredRow> rows; // the first `count` hold; a deque, so that growing moves none
    } declaredRows;

    std::size_t buffered() const;
    void rowChanging(const platform::RowChange &change) noexcept override;

    // The recorder of the entry open on `db`; nullptr when none is.
    static Recorder *of(platform::Database &db);
};

} // namespace talvesk::db::journal
