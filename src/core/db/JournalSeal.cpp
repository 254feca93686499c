#include "db/JournalSeal.h"

#include <QStringList>

#include <cstring>

namespace talvesk::db::journal {

using platform::Database;

namespace {

// A 64-bit running hash of bytes, eight at a time.
class Hash64 {
public:
    void add(const void *data, std::size_t size)
    {
        const auto *bytes = static_cast<const unsigned char *>(data);
        while (size >= 8) {
            quint64 word;
            std::memcpy(&word, bytes, 8);
            mix(word);
            bytes += 8;
            size -= 8;
        }
        quint64 tail = size;
        for (std::size_t i = 0; i < size; ++i)
            tail = (tail << 8) | bytes[i];
        mix(tail);
    }
    void add(quint64 value) { mix(value); }
    void add(const Value &v)
    {
        // The type and length go in before the bytes, so no two values read alike.
        if (v.type == SQLITE_INTEGER) {
            add(quint64(v.type));
            add(quint64(v.integer));
        } else if (v.type == SQLITE_FLOAT) {
            quint64 bits;
            std::memcpy(&bits, &v.real, sizeof bits);
            add(quint64(v.type));
            add(bits);
        } else {
            add((quint64(v.type) << 32) | quint64(v.size));
            if (v.size > 0)
                add(v.bytes, std::size_t(v.size));
        }
    }
    quint64 value() const { return h_; }
    // Every bit of the result depends on every bit of the input, so that sums of cell hashes
    // tell cells apart as well as the hashes do.
    quint64 finished() const
    {
        quint64 z = h_ + 0x9E3779B97F4A7C15ULL;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

private:
    void mix(quint64 word)
    {
        h_ = (h_ ^ word) * 0x9E3779B97F4A7C15ULL;
        h_ ^= h_ >> 29;
    }
    quint64 h_ = 0xCBF29CE484222325ULL;
};

} // namespace

quint64 cellHash(qint64 rid, int column, const Value &value)
{
    Hash64 hash;
    hash.add(quint64(rid));
    hash.add(quint64(column));
    hash.add(value);
    return hash.finished();
}

quint64 rowHash(qint64 rid, const Value *values, int count)
{
    quint64 sum = 0;
    for (int c = 0; c < count; ++c)
        sum += cellHash(rid, c, values[c]);
    return sum;
}

namespace {
const QString kSealVersion = QStringLiteral("v2;");

} // namespace

QString sealText(const Seal &seal)
{
    QString text = kSealVersion;
    for (const TableSeal &t : seal)
        text += QStringLiteral("%1:%2;").arg(t.rows).arg(t.sum, 16, 16, QLatin1Char('0'));
    return text;
}

QString sealPart(const QString &stored)
{
    const qsizetype at = stored.indexOf(u'@');
    return at < 0 ? stored : stored.left(at);
}

std::optional<Seal> parseSeal(const QString &stored)
{
    const QString text = sealPart(stored);
    if (!text.startsWith(kSealVersion))
        return std::nullopt;
    const QStringList parts = text.mid(kSealVersion.size()).split(u';', Qt::SkipEmptyParts);
    if (parts.size() != qsizetype(kJournalled.size()))
        return std::nullopt;
    Seal seal;
    for (std::size_t i = 0; i < seal.size(); ++i) {
        const QStringList numbers = parts[qsizetype(i)].split(u':');
        bool rowsOk = false, sumOk = false;
        if (numbers.size() != 2)
            return std::nullopt;
        seal[i].rows = numbers[0].toLongLong(&rowsOk);
        seal[i].sum = numbers[1].toULongLong(&sumOk, 16);
        if (!rowsOk || !sumOk)
            return std::nullopt;
    }
    return seal;
}

Seal readSeal(Database &db, const RowIds &above)
{
    Seal seal;
    for (std::size_t i = 0; i < kJournalled.size(); ++i) {
        const Journalled &t = kJournalled[i];
        RawStatement rows(db, std::string("SELECT rowid, ") + t.columns + " FROM " + t.table + " WHERE rowid > "
                                  + std::to_string(above[i]));
        std::array<Value, 16> values;
        while (rows.step()) {
            for (int c = 0; c < t.columnCount; ++c)
                values[std::size_t(c)] = columnOf(rows.get(), c + 1);
            seal[i].sum += rowHash(sqlite3_column_int64(rows.get(), 0), values.data(), t.columnCount);
            ++seal[i].rows;
        }
    }
    return seal;
}

// The seal of entries written before "v2": a hash of both tables in row id order.
QString orderedSeal(Database &db)
{
    QString result;
    for (const Journalled &t : kJournalled) {
        Hash64 hash;
        RawStatement rows(db, std::string("SELECT rowid, ") + t.columns + " FROM " + t.table + " ORDER BY rowid");
        quint64 count = 0;
        while (rows.step()) {
            ++count;
            for (int c = 0; c <= t.columnCount; ++c) {
                const int type = sqlite3_column_type(rows.get(), c);
                if (type == SQLITE_INTEGER) {
                    hash.add(quint64(type));
                    hash.add(quint64(sqlite3_column_int64(rows.get(), c)));
                } else {
                    const void *bytes = sqlite3_column_blob(rows.get(), c);
                    const int size = sqlite3_column_bytes(rows.get(), c);
                    hash.add((quint64(type) << 32) | quint64(size));
                    if (size > 0)
                        hash.add(bytes, static_cast<std::size_t>(size));
                }
            }
        }
        result += QStringLiteral("%1:%2;").arg(count).arg(hash.value(), 16, 16, QLatin1Char('0'));
    }
    return result;
}

bool tablesMatch(Database &db, const QString &stored)
{
    if (const std::optional<Seal> seal = parseSeal(stored))
        return readSeal(db) == *seal;
    return orderedSeal(db) == sealPart(stored);
}

std::optional<quint32> changeCounter(Database &db)
{
    sqlite3_file *file = nullptr;
    if (sqlite3_file_control(db.handle(), "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file
        || !file->pMethods)
        return std::nullopt;
    unsigned char header[100];
    if (file->pMethods->xRead(file, header, sizeof header, 0) != SQLITE_OK)
        return std::nullopt;
    // Format bytes 1 and 1: a rollback journal. In WAL mode the counter is not kept.
    if (header[18] != 1 || header[19] != 1)
        return std::nullopt;
    return (quint32(header[24]) << 24) | (quint32(header[25]) << 16) | (quint32(header[26]) << 8) | quint32(header[27]);
}

} // namespace talvesk::db::journal
