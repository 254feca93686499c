#include "db/JournalSeal.h"

#include <QStringList>

#include <cstring>

namespace talvesk::db::journal {

using platform::Database;
using platform::Statement;

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
        if (v.type == Value::Integer) {
            add(quint64(v.type));
            add(quint64(v.integer));
        } else if (v.type == Value::Real) {
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
    // The server sends a statement's rows all at once, held in memory until it is done with: a
    // million of them would take a quarter of a gigabyte, so there they are read a part at a
    // time, in row id order.
    constexpr qint64 kPart = 50000;
    Seal seal;
    for (std::size_t i = 0; i < kJournalled.size(); ++i) {
        const Journalled &t = kJournalled[i];
        Statement rows = db.prepare(std::string("SELECT rowid, ") + t.columns + " FROM " + t.table + " WHERE rowid > ?1"
                                    + (db.isServer() ? " ORDER BY rowid LIMIT " + std::to_string(kPart) : std::string()));
        RowValues values;
        qint64 from = above[i], read = 0;
        do {
            rows.bind(1, from);
            read = 0;
            while (rows.next()) {
                for (int c = 0; c < t.columnCount; ++c)
                    values[std::size_t(c)] = rows.value(c + 1);
                from = rows.integer(0);
                seal[i].sum += rowHash(from, values.data(), t.columnCount);
                ++seal[i].rows;
                ++read;
            }
            rows.reset();
        } while (db.isServer() && read == kPart);
    }
    return seal;
}

// The seal of entries written before "v2": a hash of both tables in row id order.
QString orderedSeal(Database &db)
{
    QString result;
    for (const Journalled &t : kJournalled) {
        Hash64 hash;
        Statement rows = db.prepare(std::string("SELECT rowid, ") + t.columns + " FROM " + t.table + " ORDER BY rowid");
        quint64 count = 0;
        while (rows.next()) {
            ++count;
            for (int c = 0; c <= t.columnCount; ++c) {
                const Value v = rows.value(c);
                if (v.type == Value::Integer) {
                    hash.add(quint64(v.type));
                    hash.add(quint64(v.integer));
                } else {
                    // These seals hashed a real number as the text the engine writes for it.
                    const QByteArray real = v.type == Value::Real ? v.toText() : QByteArray();
                    const QByteArrayView bytes = v.type == Value::Real ? QByteArrayView(real) : v.view();
                    hash.add((quint64(v.type) << 32) | quint64(bytes.size()));
                    if (!bytes.isEmpty())
                        hash.add(bytes.data(), std::size_t(bytes.size()));
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

} // namespace talvesk::db::journal
