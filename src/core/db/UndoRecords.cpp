#include "db/UndoRecords.h"

#include "platform/Error.h"

#include <cstring>
#include <map>
#include <memory>
#include <tuple>

namespace talvesk::db::journal {

using platform::Database;
using platform::Error;
using platform::Statement;

namespace {

void putVarint(std::string &out, quint64 v)
{
    while (v >= 0x80) {
        out.push_back(char((v & 0x7F) | 0x80));
        v >>= 7;
    }
    out.push_back(char(v));
}

quint64 zigzag(qint64 v)
{
    return (quint64(v) << 1) ^ quint64(v >> 63);
}

void putValue(std::string &out, const Value &v)
{
    out.push_back(char(v.type));
    if (v.type == Value::Integer) {
        putVarint(out, zigzag(v.integer));
    } else if (v.type == Value::Real) {
        char bytes[8];
        std::memcpy(bytes, &v.real, 8);
        out.append(bytes, 8);
    } else if (v.type == Value::Text || v.type == Value::Blob) {
        putVarint(out, quint64(v.size));
        if (v.size > 0)
            out.append(v.bytes, std::size_t(v.size));
    }
}

// How many records of one kind and one set of columns one statement puts back.
constexpr int kRowsPerStatement = 64;

// Reads what putVarint and putValue wrote; refuses data that runs short or is malformed.
class RecordReader {
public:
    RecordReader(const unsigned char *data, std::size_t size) : start_(data), p_(data), end_(data + size) {}
    bool atEnd() const { return p_ == end_; }
    std::size_t offset() const { return std::size_t(p_ - start_); }
    quint64 varint()
    {
        quint64 v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            need(1);
            const unsigned char b = *p_++;
            v |= quint64(b & 0x7F) << shift;
            if (!(b & 0x80))
                return v;
        }
        bad();
    }
    qint64 signedVarint()
    {
        const quint64 v = varint();
        return qint64(v >> 1) ^ -qint64(v & 1);
    }
    int byte()
    {
        need(1);
        return *p_++;
    }
    Value value()
    {
        Value v;
        v.type = Value::Type(byte());
        if (v.type == Value::Integer) {
            v.integer = signedVarint();
        } else if (v.type == Value::Real) {
            need(8);
            std::memcpy(&v.real, p_, 8);
            p_ += 8;
        } else if (v.type == Value::Text || v.type == Value::Blob) {
            const quint64 size = varint();
            need(size);
            v.bytes = reinterpret_cast<const char *>(p_);
            v.size = qsizetype(size);
            p_ += size;
        } else if (v.type != Value::Null) {
            bad();
        }
        return v;
    }

private:
    void need(quint64 n)
    {
        if (quint64(end_ - p_) < n)
            bad();
    }
    [[noreturn]] static void bad()
    {
        throw Error(platform::errnum::Database, QStringLiteral("復原資料已損壞，無法復原"));
    }
    const unsigned char *start_;
    const unsigned char *p_;
    const unsigned char *end_;
};

} // namespace

void appendRecord(std::string &buffer, int kind, qint64 rid, unsigned mask, const Value *values, int columns)
{
    putVarint(buffer, zigzag(rid));
    buffer.push_back(char(kind));
    if (kind == kInserted)
        return;
    putVarint(buffer, mask);
    for (int c = 0; c < columns; ++c)
        if (mask & (1u << c))
            putValue(buffer, values[c]);
}

// Puts back what entry `id`'s compact records hold for table `tab`. Newest records first: a row
// deleted late in the operation is inserted again before the columns its earlier updates
// changed are set back.
void undoRecords(Database &db, qint64 entry, std::size_t tab)
{
    const Journalled &t = kJournalled[tab];
    const std::vector<std::string> names = columnNames(t);

    // Records of one kind and one set of columns are put back many at a time: one statement per
    // batch instead of one per row.
    std::map<std::tuple<int, unsigned, int>, std::unique_ptr<Statement>> statements;
    auto statementFor = [&](int kind, unsigned mask, int rows) -> Statement & {
        std::unique_ptr<Statement> &slot = statements[{kind, mask, rows}];
        if (slot)
            return *slot;
        int width = 1;
        for (int c = 0; c < t.columnCount; ++c)
            width += (mask >> c) & 1u;
        std::string tuples;
        for (int r = 0; r < rows; ++r) {
            tuples += r ? ",(" : "(";
            // The row id said to be one, which the server cannot tell from a list of values.
            for (int i = 0; i < width; ++i)
                tuples += i ? ",?" : "CAST(? AS BIGINT)";
            tuples += ")";
        }
        std::string sql;
        if (kind == kInserted) {
            sql = std::string("DELETE FROM ") + t.table + " WHERE rowid IN (VALUES " + tuples + ")";
        } else if (kind == kDeleted) {
            std::string columns, replace;
            for (int c = 0; c < t.columnCount; ++c)
                if (mask & (1u << c)) {
                    columns += ", " + names[std::size_t(c)];
                    replace += (replace.empty() ? " " : ", ") + names[std::size_t(c)] + " = excluded." + names[std::size_t(c)];
                }
            // (A row under the id is not there: only the operation's own rows, above the ids it
            // found, were deleted first, and no id below them is ever given anew.)
            sql = db.isServer() ? std::string("INSERT INTO ") + t.table + " (rowid" + columns + ") VALUES " + tuples
                                      + " ON CONFLICT (rowid) DO UPDATE SET" + replace
                                : std::string("INSERT OR REPLACE INTO ") + t.table + " (rowid" + columns + ") VALUES " + tuples;
        } else {
            sql = std::string("UPDATE ") + t.table + " SET ";
            int n = 1;
            for (int c = 0; c < t.columnCount; ++c)
                if (mask & (1u << c)) {
                    sql += n > 1 ? ", " : "";
                    sql += names[std::size_t(c)] + " = v.column" + std::to_string(++n);
                }
            sql += " FROM (VALUES " + tuples + ") AS v WHERE " + t.table + ".rowid = v.column1";
        }
        slot = std::make_unique<Statement>(db.prepare(sql));
        return *slot;
    };

    Statement chunks = db.prepare("SELECT data FROM JournalUndo WHERE entry = ?1 AND tab = ?2 ORDER BY seq DESC");
    chunks.bind(1, entry).bind(2, qint64(tab));
    while (chunks.next()) {
        const Value chunk = chunks.value(0);
        const auto *data = reinterpret_cast<const unsigned char *>(chunk.bytes);
        const std::size_t size = std::size_t(chunk.size);
        // Where each record starts, so that they can be taken back newest first.
        std::vector<std::size_t> starts;
        RecordReader scan(data, size);
        while (!scan.atEnd()) {
            starts.push_back(scan.offset());
            scan.signedVarint();
            const int kind = scan.byte();
            if (kind != kInserted && kind != kUpdated && kind != kDeleted)
                throw Error(platform::errnum::Database, QStringLiteral("復原資料已損壞，無法復原"));
            if (kind != kInserted) {
                const quint64 mask = scan.varint();
                for (int c = 0; c < t.columnCount; ++c)
                    if (mask & (1u << c))
                        scan.value();
            }
        }

        // Consecutive records of the same kind and columns, newest first; a row's records always
        // differ in one or the other, so taking a batch at once keeps their order where it counts.
        std::vector<std::size_t> batch;
        int batchKind = -1;
        unsigned batchMask = 0;
        auto put = [&] {
            if (batch.empty())
                return;
            Statement &statement = statementFor(batchKind, batchMask, int(batch.size()));
            int n = 0;
            for (std::size_t start : batch) {
                RecordReader record(data + start, size - start);
                statement.bind(++n, record.signedVarint());
                if (record.byte() == kInserted)
                    continue;
                const unsigned mask = unsigned(record.varint());
                for (int c = 0; c < t.columnCount; ++c)
                    if (mask & (1u << c))
                        statement.bind(++n, record.value());
            }
            statement.run();
            statement.reset();
            batch.clear();
        };
        for (auto start = starts.rbegin(); start != starts.rend(); ++start) {
            RecordReader record(data + *start, size - *start);
            record.signedVarint();
            const int kind = record.byte();
            const unsigned mask = kind == kInserted ? 0u : unsigned(record.varint()) & ((1u << t.columnCount) - 1);
            if (kind != batchKind || mask != batchMask || int(batch.size()) == kRowsPerStatement) {
                put();
                batchKind = kind;
                batchMask = mask;
            }
            batch.push_back(*start);
        }
        put();
    }
}

} // namespace talvesk::db::journal
