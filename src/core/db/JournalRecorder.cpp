#include "db/JournalRecorder.h"

#include "db/Journal.h"

#include <algorithm>

namespace talvesk::db {

using namespace journal;
using platform::Database;
using platform::Error;
using platform::RowChange;
using platform::Statement;

namespace journal {

quint16 &Recorder::Table::marks(qint64 rid)
{
    if (rid > 0 && limit <= kDenseMarks) {
        if (dense.empty())
            dense.assign(std::size_t(limit) + 1, 0);
        return dense[std::size_t(rid)];
    }
    return sparse[rid];
}

void Recorder::Table::inserted(qint64 rid, const Value *values)
{
    TableSeal &seal = rid > limit ? own : delta;
    ++seal.rows;
    seal.sum += rowHash(rid, values, columns);
    if (rid > limit)
        return;
    quint16 &m = marks(rid);
    if (m == 0) {
        appendRecord(buffer, kInserted, rid, 0, nullptr, columns);
        m = quint16(all() | kInsertedMark);
    }
}

void Recorder::Table::deleted(qint64 rid, const Value *values)
{
    TableSeal &seal = rid > limit ? own : delta;
    --seal.rows;
    seal.sum -= rowHash(rid, values, columns);
    if (rid > limit)
        return;
    quint16 &m = marks(rid);
    if (m & kInsertedMark)
        return;
    // Always a record, even with no column left to keep: the undo must insert the row again
    // before its earlier updates are put back.
    appendRecord(buffer, kDeleted, rid, all() & ~unsigned(m), values, columns);
    m = quint16(all());
}

void Recorder::Table::updated(qint64 rid, const Value *before, const Value *after, unsigned among)
{
    TableSeal &seal = rid > limit ? own : delta;
    unsigned changed = 0;
    for (int c = 0; c < columns; ++c)
        if ((among & (1u << c)) && !sameValue(before[c], after[c])) {
            changed |= 1u << c;
            seal.sum += cellHash(rid, c, after[c]) - cellHash(rid, c, before[c]);
        }
    if (changed == 0 || rid > limit)
        return;
    quint16 &m = marks(rid);
    const unsigned first = changed & ~unsigned(m);
    if (first != 0) {
        appendRecord(buffer, kUpdated, rid, first, before, columns);
        m = quint16(m | first);
    }
}

std::size_t Recorder::buffered() const
{
    std::size_t n = 0;
    for (const Table &t : tables)
        n += t.buffer.size();
    return n;
}

Recorder *Recorder::of(Database &db)
{
    return dynamic_cast<Recorder *>(db.rowChangeWatcher());
}

void Recorder::rowChanging(const RowChange &change) noexcept
{
    const std::size_t tab = journalledIndex(change.table);
    if (tab == kJournalled.size())
        return;
    Table &t = tables[tab];
    const auto &at = positions[tab];
    const qint64 key = change.rowid, newKey = change.newRowid;
    try {
        if (change.kind != RowChange::Update)
            declared.set = false;
        RowValues before, after;
        auto readBefore = [&] {
            for (int c = 0; c < t.columns; ++c)
                before[std::size_t(c)] = change.before(at[std::size_t(c)]);
        };
        auto readAfter = [&] {
            for (int c = 0; c < t.columns; ++c)
                after[std::size_t(c)] = change.after(at[std::size_t(c)]);
        };
        if (change.kind == RowChange::Insert) {
            readAfter();
            t.inserted(newKey, after.data());
        } else if (change.kind == RowChange::Delete) {
            if (change.writesBlobInPlace()) {
                lost = true;
                return;
            }
            readBefore();
            t.deleted(key, before.data());
        } else {
            if (Declared &d = declared; d.set && d.tab == tab && d.rid == key && newKey == key) {
                d.set = false;
                for (int c = 0; c < t.columns; ++c)
                    if (d.mask & (1u << c))
                        after[std::size_t(c)] = change.after(at[std::size_t(c)]);
                t.updated(key, d.values.data(), after.data(), d.mask);
                return;
            }
            DeclaredRows &rows = declaredRows;
            if (rows.count > 0 && rows.tab == tab && newKey == key)
                // Rows are mostly updated in the order they were declared: the search starts
                // after the last one found.
                for (std::size_t n = 0, i = rows.next; n < rows.count; ++n, i = (i + 1) % rows.count)
                    if (DeclaredRow &r = rows.rows[i]; r.rid == key && !r.done) {
                        r.done = true;
                        rows.next = (i + 1) % rows.count;
                        t.updated(key, r.before.data(), r.after.data(), rows.mask);
                        return;
                    }
            readBefore();
            readAfter();
            if (newKey == key) {
                t.updated(key, before.data(), after.data(), t.all());
            } else {
                t.deleted(key, before.data());
                t.inserted(newKey, after.data());
            }
        }
    } catch (...) {
        lost = true;
    }
}

namespace {

// `v` with its bytes copied into `keep`.
Value kept(Value v, std::string &keep)
{
    if (v.type == Value::Text || v.type == Value::Blob) {
        keep.assign(v.bytes, std::size_t(v.size));
        v.bytes = keep.data();
    }
    return v;
}

} // namespace

} // namespace journal

// ---- DeclaredUpdate ----

DeclaredUpdate::DeclaredUpdate(Database &db, const char *table, std::initializer_list<const char *> columns)
    : db_(db), table_(journalledIndex(table))
{
    if (table_ == kJournalled.size())
        throw Error(platform::errnum::Database, QStringLiteral("不是記錄在作業記錄中的資料表"));
    const std::vector<std::string> names = columnNames(kJournalled[table_]);
    for (const char *column : columns) {
        const auto found = std::find_if(names.begin(), names.end(),
                                        [&](const std::string &name) { return sameName(name.c_str(), column); });
        if (found == names.end())
            throw Error(platform::errnum::Database, QStringLiteral("沒有這個欄位：") + QLatin1String(column));
        columns_.push_back(int(found - names.begin()));
    }
}

void DeclaredUpdate::before(qint64 rid, const Statement &row, int firstColumn)
{
    // The server records each change with its values before it: nothing to declare.
    Recorder *recorder = db_.isServer() ? nullptr : Recorder::of(db_);
    if (!recorder)
        return;
    Recorder::Declared &d = recorder->declared;
    d.set = true;
    d.tab = table_;
    d.rid = rid;
    d.mask = 0;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const std::size_t c = std::size_t(columns_[i]);
        d.values[c] = kept(row.value(firstColumn + int(i)), d.bytes[c]);
        d.mask |= 1u << c;
    }
}

void DeclaredUpdate::after()
{
    if (Recorder *recorder = Recorder::of(db_)) {
        recorder->declared.set = false;
        recorder->declaredRows.count = 0;
        recorder->declaredRows.next = 0;
    }
    lookedUp_ = false;
    recorder_ = nullptr;
}

void DeclaredUpdate::statementUndone()
{
    if (Recorder *recorder = Recorder::of(db_))
        recorder->exact = false;
}

void DeclaredUpdate::row(qint64 rid, const Value *before, const QByteArrayView *after)
{
    // The entry open on the connection cannot change while one statement runs.
    if (!lookedUp_) {
        recorder_ = db_.isServer() ? nullptr : Recorder::of(db_);
        lookedUp_ = true;
    }
    Recorder *recorder = recorder_;
    if (!recorder)
        return;
    Recorder::DeclaredRows &rows = recorder->declaredRows;
    rows.tab = table_;
    rows.mask = 0;
    if (rows.count == rows.rows.size())
        rows.rows.emplace_back();
    Recorder::DeclaredRow &r = rows.rows[rows.count++];
    r.rid = rid;
    r.done = false;
    // Filled in place: a whole row of values built aside and copied in costs more than the rest.
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const std::size_t c = std::size_t(columns_[i]);
        r.before[c] = kept(before[i], r.bytesBefore[c]);
        r.bytesAfter[c].assign(after[i].data(), std::size_t(after[i].size()));
        r.after[c] = Value::fromText(r.bytesAfter[c]);
        rows.mask |= 1u << c;
    }
}

} // namespace talvesk::db
