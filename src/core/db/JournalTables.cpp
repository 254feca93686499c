#include "db/JournalTables.h"

#include <cstring>

namespace talvesk::db::journal {

Value valueOf(sqlite3_value *v)
{
    Value out;
    readValue(v, out);
    return out;
}

void readValue(sqlite3_value *v, Value &out)
{
    out = Value{};
    out.type = sqlite3_value_type(v);
    if (out.type == SQLITE_INTEGER) {
        out.integer = sqlite3_value_int64(v);
    } else if (out.type == SQLITE_FLOAT) {
        out.real = sqlite3_value_double(v);
    } else if (out.type == SQLITE_TEXT || out.type == SQLITE_BLOB) {
        // The bytes as the engine holds them: asking for text would copy a value read from a row
        // only to end it with a NUL, which nothing here needs (the type stays text).
        out.bytes = static_cast<const unsigned char *>(sqlite3_value_blob(v));
        out.size = sqlite3_value_bytes(v);
        if (!out.bytes) // an empty value has no bytes at all
            out.bytes = reinterpret_cast<const unsigned char *>("");
    }
}

Value columnOf(sqlite3_stmt *stmt, int column)
{
    Value out;
    out.type = sqlite3_column_type(stmt, column);
    if (out.type == SQLITE_INTEGER) {
        out.integer = sqlite3_column_int64(stmt, column);
    } else if (out.type == SQLITE_FLOAT) {
        out.real = sqlite3_column_double(stmt, column);
    } else if (out.type == SQLITE_TEXT) {
        out.bytes = sqlite3_column_text(stmt, column);
        out.size = sqlite3_column_bytes(stmt, column);
    } else if (out.type == SQLITE_BLOB) {
        out.bytes = static_cast<const unsigned char *>(sqlite3_column_blob(stmt, column));
        out.size = sqlite3_column_bytes(stmt, column);
    }
    return out;
}

bool sameValue(const Value &a, const Value &b)
{
    if (a.type != b.type)
        return false;
    switch (a.type) {
    case SQLITE_INTEGER:
        return a.integer == b.integer;
    case SQLITE_FLOAT:
        return std::memcmp(&a.real, &b.real, sizeof a.real) == 0;
    case SQLITE_TEXT:
    case SQLITE_BLOB:
        return a.size == b.size && (a.size == 0 || std::memcmp(a.bytes, b.bytes, std::size_t(a.size)) == 0);
    default:
        return true;
    }
}

int bindValue(sqlite3_stmt *stmt, int index, const Value &v)
{
    switch (v.type) {
    case SQLITE_INTEGER:
        return sqlite3_bind_int64(stmt, index, v.integer);
    case SQLITE_FLOAT:
        return sqlite3_bind_double(stmt, index, v.real);
    case SQLITE_TEXT:
        return sqlite3_bind_text(stmt, index, reinterpret_cast<const char *>(v.bytes), v.size, SQLITE_TRANSIENT);
    case SQLITE_BLOB:
        return sqlite3_bind_blob(stmt, index, v.bytes, v.size, SQLITE_TRANSIENT);
    default:
        return sqlite3_bind_null(stmt, index);
    }
}

std::vector<std::string> columnNames(const Journalled &t)
{
    std::vector<std::string> names;
    std::string name;
    for (const char *c = t.columns;; ++c) {
        if (*c == ',' || *c == '\0') {
            names.push_back(name);
            name.clear();
            if (*c == '\0')
                break;
        } else if (*c != ' ') {
            name += *c;
        }
    }
    return names;
}

} // namespace talvesk::db::journal
